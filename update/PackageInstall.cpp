#include "update/PackageInstall.h"

#include <windows.h>

#include <new>
#include <vector>

#include "support/PathGuard.h"
#include "support/ReplaceFile.h"
#include "support/zip/UnzipFile.h"

namespace {

/// Bytes inflated per read into the output file.
constexpr std::uint32_t kCopyBufferSize = 16384;

bool IsDirectoryEntryName(const std::string& name)
{
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

/// The current entry's info and its name as stored, byte for byte.
std::string CurrentEntryName(CUnzipFile& archive, EntryInfo& info)
{
    archive.GetEntryInfo(&info);
    std::vector<char> name(std::size_t{info.nameLength} + 1);
    archive.GetEntryInfo(nullptr, name.data(), static_cast<std::uint32_t>(name.size()));
    return std::string(name.data(), info.nameLength);
}

/// Every name of the archive may be written under `base`; the archive is left at its first entry.
bool AllNamesAreSafe(CUnzipFile& archive, const std::string& base)
{
    archive.MoveToFirstEntry();
    do {
        EntryInfo info;
        std::string joined;
        if (!JoinUnderBase(base, CurrentEntryName(archive, info), joined))
            return false;
    } while (archive.MoveToNextEntry());
    archive.MoveToFirstEntry();
    return true;
}

/// Writes the current entry to `target` through a temporary file; false when it could not be
/// put in place. Archive errors raise.
bool InstallEntry(CUnzipFile& archive, const EntryInfo& info, const std::string& target)
{
    CTempFileBeside temp(target);
    if (!temp.Open())
        return false;
    archive.OpenEntry();
    std::vector<unsigned char> buffer(kCopyBufferSize);
    std::uint64_t written = 0;
    for (;;) {
        const int count = archive.ReadEntry(buffer.data(), kCopyBufferSize);
        if (count <= 0)
            break;
        temp.File().Write(buffer.data(), static_cast<unsigned>(count));
        written += static_cast<unsigned>(count);
    }
    // A deflate stream that ends early delivers less than declared: not a complete file.
    if (written != info.uncompressedSize)
        return false;
    archive.CloseEntry();  // raises badCrc before the file is put in place
    if (!temp.Commit())
        return false;
    CUnzipFile::SetEntryFileStatus(target, info);
    return true;
}

/// The directory that holds `packagePath`, with its trailing separator; "" when there is none.
std::string PackageDirectory(const std::string& packagePath)
{
    const std::size_t separator = packagePath.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : packagePath.substr(0, separator + 1);
}

}  // namespace

bool InstallPackage(std::string packagePath)
{
    const std::string base = PackageDirectory(packagePath);
    if (base.empty() || base.size() >= kPathBufferSize)
        return false;
    try {
        CUnzipFile archive(packagePath.c_str());
        if (!AllNamesAreSafe(archive, base))
            return false;
        do {
            EntryInfo info;
            const std::string name = CurrentEntryName(archive, info);
            if (IsDirectoryEntryName(name))
                continue;
            std::string target;
            if (!JoinUnderBase(base, name, target))
                return false;
            const std::size_t cut = target.find_last_of('\\');
            if (cut == std::string::npos || MakeDirectoryPath(target.substr(0, cut).c_str()) == 0)
                return false;
            if (!InstallEntry(archive, info, target))
                return false;
        } while (archive.MoveToNextEntry());
        archive.CloseArchive();
        return true;
    } catch (const kvo::CException&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int MakeDirectoryPath(const char* path)
{
    if (!path || *path == '\0' || std::char_traits<char>::length(path) >= kPathBufferSize)
        return 0;
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    const std::string copy(path);
    const std::size_t cut = copy.find_last_of('\\');
    if (cut == std::string::npos)
        return 1;
    if (MakeDirectoryPath(copy.substr(0, cut).c_str()) == 0)
        return 0;
    if (::CreateDirectoryA(path, nullptr))
        return 1;
    // Made by someone else in the meantime is as good as made here.
    const DWORD now = ::GetFileAttributesA(path);
    return (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY)) ? 1 : 0;
}
