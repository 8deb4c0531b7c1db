// What the headers of a Windows program or library file say, read from the file without loading it.
#pragma once
#include <windows.h>

#include <string>

/// The kind of a PE image: its processor, header format and subsystem.
struct PeImageKind {
    WORD machine = 0;    ///< IMAGE_FILE_MACHINE_*
    WORD magic = 0;      ///< IMAGE_NT_OPTIONAL_HDR32_MAGIC (PE32) or ..._HDR64_MAGIC (PE32+)
    WORD subsystem = 0;  ///< IMAGE_SUBSYSTEM_*

    bool operator==(const PeImageKind& other) const
    {
        return machine == other.machine && magic == other.magic && subsystem == other.subsystem;
    }
};

/// The kind of the PE image at `path`; false when the file is not one or cannot be read.
bool ReadPeImageKind(const std::string& path, PeImageKind& kind);
/// The same, read through the open `file` (readable), whatever its position.
bool ReadPeImageKind(HANDLE file, PeImageKind& kind);

/// The fixed version record (VS_FIXEDFILEINFO) of the version resource of the PE image at `path`,
/// as GetFileVersionInfo and VerQueryValue("\\") give it, read with a few bounded reads instead of
/// mapping the file: the resource directory's RT_VERSION entry named 1, its first language. False
/// when the file is not a PE image, has no such resource or the record is not well formed.
bool ReadPeFileVersion(const std::string& path, VS_FIXEDFILEINFO& version);
bool ReadPeFileVersion(HANDLE file, VS_FIXEDFILEINFO& version);

/// The bytes of the resource of type `type` named `name` (upper case), its first language, read
/// through the open `file` as ReadPeFileVersion reads. False when there is none (or it is
/// larger than any resource looked for so).
bool ReadPeResource(HANDLE file, int type, const WCHAR* name, std::string& bytes);

/// False when the file at `path` is a PE image (it starts with "MZ") cut short: its headers, a
/// section's data or its symbol and string tables reach past its end. True for whole images and
/// for files that are not images.
bool IsWholeModuleImage(const std::string& path);
bool IsWholeModuleImage(HANDLE file);
