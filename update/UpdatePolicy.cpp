#include "update/UpdatePolicy.h"

#include "update/BuildHosts.h"

UpdatePolicy UpdatePolicy::Shipped()
{
    UpdatePolicy policy;
    policy.speedWindowMs = kDownloadSpeedWindowMs;
    return policy;
}
