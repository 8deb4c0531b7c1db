#include "update/Settings.h"

#include <cstdio>

#include "update/Rollout.h"

namespace {
const char kSettingsRelativePath[] = "LobbyDate\\Update.INI";
const char kVersionSection[] = "VerInfo";
const char kVersionKey[] = "PVer";
const char kLauncherSection[] = "KvoLauncher";
const char kInstallIdKey[] = "InstallId";
constexpr DWORD kIdBufferSize = 64;
}  // namespace

std::string SettingsPath(const std::string& moduleDir)
{
    std::string path = moduleDir + kSettingsRelativePath;
    if (path.size() >= kPathBufferSize)
        return std::string();
    return path;
}

unsigned ReadInstalledVersion(const std::string& moduleDir)
{
    const std::string path = SettingsPath(moduleDir);
    if (path.empty())
        return 0;
    return ::GetPrivateProfileIntA(kVersionSection, kVersionKey, 0, path.c_str());
}

DWORD WriteInstalledVersion(const std::string& moduleDir, int version)
{
    const std::string path = SettingsPath(moduleDir);
    if (path.empty())
        return ERROR_FILENAME_EXCED_RANGE;
    char text[16];
    std::snprintf(text, sizeof text, "%d", version);
    if (!::WritePrivateProfileStringA(kVersionSection, kVersionKey, text, path.c_str()))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

std::string ReadOrMakeInstallId(const std::string& moduleDir)
{
    const std::string path = SettingsPath(moduleDir);
    if (path.empty())
        return {};
    char kept[kIdBufferSize] = {};
    ::GetPrivateProfileStringA(kLauncherSection, kInstallIdKey, "", kept, kIdBufferSize, path.c_str());
    if (IsWellFormedInstallId(kept))
        return kept;
    const std::string id = MakeInstallId();
    // An id that cannot be kept would change at every start: better none at all (the last bucket).
    if (id.empty() || !::WritePrivateProfileStringA(kLauncherSection, kInstallIdKey, id.c_str(), path.c_str()))
        return {};
    return id;
}
