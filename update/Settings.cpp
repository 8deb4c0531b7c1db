#include "update/Settings.h"

#include <cstdio>

#include "framework/Handles.h"

#include "update/Rollout.h"

namespace {
const char kSettingsRelativePath[] = "LobbyDate\\Update.INI";
const char kVersionSection[] = "VerInfo";
const char kVersionKey[] = "PVer";
const char kLauncherSection[] = "KvoLauncher";
const char kInstallIdKey[] = "InstallId";
const char kUndoneKey[] = "UndoneVer";
constexpr DWORD kIdBufferSize = 64;
constexpr std::size_t kNumberTextSize = 16;

/// Writes `value` as "%d" under `section`/`key` and flushes the file to the disk.
DWORD WriteNumber(const std::string& moduleDir, const char* section, const char* key, int value)
{
    const std::string path = SettingsPath(moduleDir);
    if (path.empty())
        return ERROR_FILENAME_EXCED_RANGE;
    char text[kNumberTextSize];
    std::snprintf(text, sizeof text, "%d", value);
    if (!::WritePrivateProfileStringA(section, key, text, path.c_str()))
        return ::GetLastError();
    // The system may still hold the new text: a power cut must not find the version on disk
    // before the files it names, nor lose it after them.
    const kvo::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !::FlushFileBuffers(file.get()))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

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
    return WriteNumber(moduleDir, kVersionSection, kVersionKey, version);
}

unsigned ReadUndoneVersion(const std::string& moduleDir)
{
    const std::string path = SettingsPath(moduleDir);
    return path.empty() ? 0 : ::GetPrivateProfileIntA(kLauncherSection, kUndoneKey, 0, path.c_str());
}

DWORD WriteUndoneVersion(const std::string& moduleDir, int version)
{
    return WriteNumber(moduleDir, kLauncherSection, kUndoneKey, version);
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
