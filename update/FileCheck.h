// Whether a manifest entry must be downloaded: packages always, other files by version resource.
#pragma once
#include <windows.h>

#include <string>

#include "update/UpdateFileEntry.h"

/// True when `fileName` names a ZIP package: the text after its first "." (the whole name when it
/// has none) is exactly "zip".
bool IsPackageFileName(const std::string& fileName);

/// The file version of the module at `path` as "%u.%u.%u.%u" (the four 16-bit numbers of the
/// fixed version record). 0 on success; a negative status when the file has no version resource.
HRESULT GetFileVersionString(const std::string& path, std::string& version);
/// The same through the open, readable `file`.
HRESULT GetFileVersionString(HANDLE file, std::string& version);

/// Orders two version texts: negative, 0 or positive as `left` is older, equal or newer. Texts of
/// four dot-separated decimal numbers compare number by number; any other pair compares as text,
/// case-insensitively, a text that starts the other being the smaller.
int CompareVersionTexts(const std::string& left, const std::string& right);

struct EntryRoad;

/// True when the entry must be downloaded: a package, a local file (moduleDir + FileName) that
/// cannot be read, or one that has no version resource or an older version than the entry's
/// FileVersion, unless the entry's SHA256 equals the local file's (hashed only then).
bool IsFileOutdated(const EntryRoad& road);
/// The same for `entry` in the installation at `moduleDir`.
bool IsFileOutdated(const UpdateFileEntry& entry, const std::string& moduleDir);
