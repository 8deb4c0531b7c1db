// The lobby's settings file "LobbyDate\Update.INI", section "VerInfo", key "PVer".
#pragma once
#include <string>

#include "support/PathGuard.h"  // kPathBufferSize: longer paths are not used at all

/// moduleDir + "LobbyDate\Update.INI", or "" when it would not fit the path buffer.
std::string SettingsPath(const std::string& moduleDir);
/// The installed version; 0 when the file, section, key or number is missing or the path is too long.
unsigned ReadInstalledVersion(const std::string& moduleDir);
/// Writes `version` as "%d"; false when the path is too long or the write failed.
bool WriteInstalledVersion(const std::string& moduleDir, int version);
