#include "update/BuildHosts.h"

// KVO_PRIMARY_HOST, KVO_FALLBACK_HOST, KVO_SITE_URL, KVO_UPDATE_PUBLIC_KEY and KVO_SPEED_WINDOW_MS come from
// the build (see app/CMakeLists.txt).
const char kPrimaryUpdateHost[] = KVO_PRIMARY_HOST;
const char kFallbackUpdateHost[] = KVO_FALLBACK_HOST;
const char kOfficialSiteUrl[] = KVO_SITE_URL;
const char kUpdatePublicKey[] = KVO_UPDATE_PUBLIC_KEY;
const unsigned long kDownloadSpeedWindowMs = KVO_SPEED_WINDOW_MS;
