#include "update/EntryRoad.h"

#include "support/PathGuard.h"
#include "support/ReplaceFile.h"
#include "update/FileCheck.h"
#include "update/SelfUpdate.h"

EntryRoad TakeEntry(const UpdateFileEntry& entry, const std::string& moduleDir, const std::vector<std::string>& mirrors)
{
    EntryRoad road;
    road.entry = entry;
    road.addresses.push_back(entry.URL);
    const std::string& base = mirrors.empty() ? std::string() : mirrors.front();
    if (!base.empty() && entry.URL.size() > base.size() && entry.URL.compare(0, base.size(), base) == 0) {
        for (auto mirror = mirrors.begin() + 1; mirror != mirrors.end(); ++mirror)
            road.addresses.push_back(*mirror + entry.URL.substr(base.size()));
    }
    road.localPath = moduleDir + entry.FileName;
    road.isPackage = IsPackageFileName(entry.FileName);
    road.hashGiven = !entry.SHA256.empty();
    road.hashWellFormed = ParseSha256Hex(entry.SHA256, road.listed);
    if (road.hashWellFormed && entry.Length > 0)
        road.signedLength = static_cast<std::uint32_t>(entry.Length);
    // Refused before any request: a name that could write outside the installation directory,
    // or whose temporary file would not fit the path buffers.
    if (!JoinUnderBase(moduleDir, entry.FileName, road.target)) {
        road.refusal = ERROR_INVALID_NAME;
        road.target.clear();
    } else if (!CTempFileBeside::Fits(road.target)) {
        road.refusal = ERROR_FILENAME_EXCED_RANGE;
        road.target.clear();
    } else {
        road.replacesLauncher = IsRunningProgram(road.target);
    }
    return road;
}
