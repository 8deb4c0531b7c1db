#include "app/BuildHosts.h"

// KVO_PRIMARY_HOST, KVO_FALLBACK_HOST and KVO_SITE_URL come from the build (see app/CMakeLists.txt).
const char kPrimaryUpdateHost[] = KVO_PRIMARY_HOST;
const char kFallbackUpdateHost[] = KVO_FALLBACK_HOST;
const char kOfficialSiteUrl[] = KVO_SITE_URL;
