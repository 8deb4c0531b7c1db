// What a release folder holds: every file and folder below it, in a fixed order.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/ReplaceFile.h"

/// One file or folder of the release.
struct ReleaseItem {
    std::vector<std::string> components;  ///< path below the release folder, one name each
    std::string fullPath;                 ///< as the system opens it
    bool isDirectory = false;
    std::uint64_t size = 0;
    FILETIME lastWrite{};
    DWORD attributes = 0;

    /// The path below the release with "\" separators, as the manifest's FileName.
    std::string RelativeName() const;
};

/// Lists everything below `root` (a folder; with or without its trailing "\"): each folder
/// before its contents, the names of one folder in byte order, so the same release always gives
/// the same manifest. Raises kvo::CFileException when `root` or a folder below it cannot be read.
std::vector<ReleaseItem> ScanReleaseTree(const std::string& root);

/// `path` made absolute, "\"-separated and without a trailing separator; empty when the system
/// cannot make it absolute.
std::string FullPathOf(const std::string& path);

/// True when `inner` is `outer` or lies below it (both full paths, compared without case).
bool IsSameOrBelow(const std::string& inner, const std::string& outer);

/// True when two names are equal the way Windows compares file names (without case).
bool EqualsNoCase(const std::string& a, const std::string& b);

/// The whole content of the file at `path`; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& content);

/// Opens `temp` beside its target, making the target's folders first. Raises kvo::CFileException.
void OpenBeside(CTempFileBeside& temp);
/// Puts `temp` over its target. Raises kvo::CFileException.
void CommitBeside(CTempFileBeside& temp);
/// Writes `content` to `path` through a temporary file beside it (its folders made), so that no one
/// ever reads it half-written. Raises kvo::CFileException.
void WriteFileInPlace(const std::string& path, const std::string& content);
