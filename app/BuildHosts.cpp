#include "update/BuildHosts.h"

// KVO_PRIMARY_HOST, KVO_FALLBACK_HOST, KVO_SITE_URL, KVO_UPDATE_ROOT_KEYS and KVO_SPEED_WINDOW_MS come from
// the build (see app/CMakeLists.txt).
const char kPrimaryUpdateHost[] = KVO_PRIMARY_HOST;
const char kFallbackUpdateHost[] = KVO_FALLBACK_HOST;
const char kOfficialSiteUrl[] = KVO_SITE_URL;
const char kUpdateRootKeys[] = KVO_UPDATE_ROOT_KEYS;
const unsigned long kDownloadSpeedWindowMs = KVO_SPEED_WINDOW_MS;
