// Addresses fixed when the launcher is built. Each executable links its own definitions
// (the shipped program from the CMake cache, the test build from loopback test ports).
#pragma once

extern const char kPrimaryUpdateHost[];
extern const char kFallbackUpdateHost[];
extern const char kOfficialSiteUrl[];
