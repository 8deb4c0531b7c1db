// The lobby's settings file "LobbyDate\Update.INI": section "VerInfo", key "PVer" (the installed
// version), and the launcher's own section "KvoLauncher", keys "InstallId" and "UndoneVer".
#pragma once
#include <windows.h>

#include <string>

#include "support/PathGuard.h"  // kPathBufferSize: longer paths are not used at all

/// moduleDir + "LobbyDate\Update.INI", or "" when it would not fit the path buffer.
std::string SettingsPath(const std::string& moduleDir);
/// The installed version; 0 when the file, section, key or number is missing or the path is too long.
unsigned ReadInstalledVersion(const std::string& moduleDir);
/// Writes `version` as "%d" and flushes it to the disk: ERROR_SUCCESS, or why it could not be
/// written (the path too long, the file locked or read-only, the disk full).
DWORD WriteInstalledVersion(const std::string& moduleDir, int version);
/// The highest release undone because its lobby could not start (section "KvoLauncher", key
/// "UndoneVer"); 0 when none was.
unsigned ReadUndoneVersion(const std::string& moduleDir);
/// Records `version` as undone, as WriteInstalledVersion writes.
DWORD WriteUndoneVersion(const std::string& moduleDir, int version);
/// The installation's id (section "KvoLauncher", key "InstallId"): the one kept there, or, when it
/// is missing or not 16 hexadecimal digits, a new one, kept. "" when none can be kept.
std::string ReadOrMakeInstallId(const std::string& moduleDir);
