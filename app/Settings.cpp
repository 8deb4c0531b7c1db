#include "app/Settings.h"

#include <windows.h>

#include <cstdio>

namespace {
const char kSettingsRelativePath[] = "LobbyDate\\Update.INI";
const char kVersionSection[] = "VerInfo";
const char kVersionKey[] = "PVer";
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

bool WriteInstalledVersion(const std::string& moduleDir, int version)
{
    const std::string path = SettingsPath(moduleDir);
    if (path.empty())
        return false;
    char text[16];
    std::snprintf(text, sizeof text, "%d", version);
    return ::WritePrivateProfileStringA(kVersionSection, kVersionKey, text, path.c_str()) != FALSE;
}
