#include "update/PackageInstall.h"

#include <windows.h>

#include <new>
#include <vector>

#include "support/PathGuard.h"
#include "support/ReplaceFile.h"
#include "support/zip/UnzipFile.h"

namespace {

/// Bytes inflated per read into the output file; one buffer serves every entry of a package,
/// and most entries fit in one read and one write.
constexpr std::uint32_t kCopyBufferSize = 65536;

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

/// Makes the directories that the entries need. Entries of one directory follow each other in
/// a package, so the file system is asked once for each run of them rather than once per entry;
/// a directory removed behind its back makes the next temporary file fail, and the installation
/// with it.
class CDirectoryMaker {
public:
    /// MakeDirectoryPath for `directory`, unless it was the last one made.
    bool Make(const std::string& directory)
    {
        if (directory == m_strLastMade)
            return true;
        if (MakeDirectoryPath(directory.c_str()) == 0)
            return false;
        m_strLastMade = directory;
        return true;
    }

private:
    std::string m_strLastMade;
};

/// Writes the current entry to `target` through a temporary file, inflating through `buffer`;
/// false when it could not be put in place. Archive errors raise.
bool InstallEntry(CUnzipFile& archive, const EntryInfo& info, const std::string& target,
                  std::vector<unsigned char>& buffer)
{
    CTempFileBeside temp(target);
    if (!temp.Open())
        return false;
    archive.OpenEntry();
    std::uint64_t written = 0;
    for (;;) {
        const int count = archive.ReadEntry(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        if (count <= 0)
            break;
        temp.File().Write(buffer.data(), static_cast<unsigned>(count));
        written += static_cast<unsigned>(count);
    }
    // A deflate stream that ends early delivers less than declared: not a complete file.
    if (written != info.uncompressedSize)
        return false;
    archive.CloseEntry();  // raises badCrc before the file is put in place
    // Through the handle still open, so the file is not opened again; the move keeps the times.
    CUnzipFile::SetEntryFileTimes(temp.File(), info);
    if (!temp.Commit())
        return false;
    // Only after the move: a read-only temporary file could not be deleted if the move failed.
    CUnzipFile::SetEntryAttributes(target, info);
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
        CDirectoryMaker directories;
        std::vector<unsigned char> buffer(kCopyBufferSize);
        do {
            EntryInfo info;
            const std::string name = CurrentEntryName(archive, info);
            if (IsDirectoryEntryName(name))
                continue;
            std::string target;
            if (!JoinUnderBase(base, name, target))
                return false;
            const std::size_t cut = target.find_last_of('\\');
            if (cut == std::string::npos || !directories.Make(target.substr(0, cut)))
                return false;
            if (!InstallEntry(archive, info, target, buffer))
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
