// Addresses and the update key fixed when the launcher is built. Each executable links its own definitions
// (the shipped program from the CMake cache, the test build from loopback test ports).
#pragma once

extern const char kPrimaryUpdateHost[];
extern const char kFallbackUpdateHost[];
extern const char kOfficialSiteUrl[];
/// Base64 of the P-256 public key (X‖Y) that must sign every manifest; empty when the launcher
/// was built without one and takes manifests as they come.
extern const char kUpdatePublicKey[];
/// How long a download may take to deliver kDownloadSpeedFloorBytes of its body before the attempt
/// fails as timed out (30 s in every build operators ship).
extern const unsigned long kDownloadSpeedWindowMs;
