#include "app/BuildHosts.h"

// KVO_PRIMARY_HOST, KVO_FALLBACK_HOST, KVO_SITE_URL and KVO_UPDATE_PUBLIC_KEY come from the build (see app/CMakeLists.txt).
const char kPrimaryUpdateHost[] = KVO_PRIMARY_HOST;
const char kFallbackUpdateHost[] = KVO_FALLBACK_HOST;
const char kOfficialSiteUrl[] = KVO_SITE_URL;
const char kUpdatePublicKey[] = KVO_UPDATE_PUBLIC_KEY;
