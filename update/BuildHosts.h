// Addresses and the root keys fixed when the launcher is built. Each executable links its own definitions
// (the shipped program from the CMake cache, the test build from loopback test ports).
#pragma once

extern const char kPrimaryUpdateHost[];
extern const char kFallbackUpdateHost[];
extern const char kOfficialSiteUrl[];
/// The root keys the launcher is built with (see ParseRootSetText: one base64 P-256 public key, or
/// "N,KEY,KEY,…"); empty when the launcher was built without any and takes manifests as they come.
extern const char kUpdateRootKeys[];
/// How long a download may take to deliver kDownloadSpeedFloorBytes of its body before the attempt
/// fails as timed out (30 s in every build operators ship).
extern const unsigned long kDownloadSpeedWindowMs;
