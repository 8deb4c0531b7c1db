// One file of the update manifest, carried by value through the run.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

/// A patch that makes the entry's file from an older content of it.
struct FilePatch {
    std::string Source;   ///< the file holding the older content, relative to the program directory
    std::string From;     ///< SHA-256 of the older content, 64 hexadecimal digits
    int Length = 0;       ///< the patch's length
    std::string SHA256;   ///< the patch's SHA-256
    std::string URL;      ///< where the patch is served
};

/// A byte range of a served file, and the SHA-256 of its bytes.
struct ByteRange {
    std::uint32_t Offset = 0;
    std::uint32_t Length = 0;   ///< 0: no range
    std::string SHA256;
};

/// The part of a package that changed since an older content of it: one byte range of the package.
struct PackageDelta {
    std::string From;        ///< index hash of the older package
    std::uint32_t Offset = 0;  ///< where the changed entries start in the package
    std::uint32_t Length = 0;  ///< how many bytes they take
    std::string SHA256;      ///< SHA-256 of those bytes
    std::vector<std::string> Removed;  ///< entries of the older package that this one no longer has
};

struct UpdateFileEntry {
    std::string FileName;     ///< relative to the program directory, backslash-separated
    std::string FileVersion;  ///< "a.b.c.d" as the local check formats versions
    int Length = 0;
    std::string LocalPath;
    int FileDateLow = 0;
    int FileDateHigh = 0;
    std::string URL;
    bool Register = true;
    bool ZipFile = true;
    bool ForceOverwrite = true;
    bool Execute = true;
    std::string SHA256;       ///< 64 hexadecimal digits of the file's SHA-256; empty when not given
    std::vector<FilePatch> Patches;     ///< ways from older contents of the file, when published
    std::string Index;                  ///< a package's index hash, when published
    ByteRange Directory;                ///< where a package's central directory lies, when published
    std::vector<PackageDelta> Deltas;   ///< a package's changes since older contents of it
};
