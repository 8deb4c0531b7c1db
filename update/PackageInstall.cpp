#include "update/PackageInstall.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "framework/Handles.h"
#include "support/PathGuard.h"
#include "support/ReplaceFile.h"
#include "support/Sha256.h"
#include "support/zip/UnzipFile.h"
#include "update/Leftovers.h"
#include "update/ReleaseArea.h"

namespace {

const char kRefusedNameSuffix[] = " 文件名被拒绝";
const char kNoRoom[] = "磁盘空间不足 ";
const char kBadCrc[] = "CRC校验错误";
const char kBadArchive[] = "压缩包损坏";
const char kCannotWrite[] = "无法写入 ";
const char kCannotReplace[] = "文件被占用或只读 ";
const char kOutOfMemory[] = "内存不足";

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

/// Every name of the archive may be written under `base`, each file through its temporary file;
/// the archive is left at its first entry. `declared` receives the sum of the entries' declared
/// sizes, `refused` the first name that may not be written.
bool AllNamesAreSafe(CUnzipFile& archive, const std::string& base, std::uint64_t& declared, std::string& refused)
{
    declared = 0;
    archive.MoveToFirstEntry();
    do {
        EntryInfo info;
        std::string joined;
        const std::string name = CurrentEntryName(archive, info);
        if (!JoinUnderBase(base, name, joined) || (!IsDirectoryEntryName(name) && !CTempFileBeside::Fits(joined))) {
            refused = name;
            return false;
        }
        declared += info.uncompressedSize;
    } while (archive.MoveToNextEntry());
    archive.MoveToFirstEntry();
    return true;
}

/// Removes what interrupted runs left beside the files of `directories`: files ending in the
/// temporary suffix, and nothing else; `keep` (the package being installed) stays.
void RemoveLeftoverTemporaryFiles(const std::set<std::string>& directories, const std::string& keep)
{
    for (const std::string& directory : directories) {
        for (const std::string& name : TemporaryFilesIn(directory)) {
            const std::string path = directory + "\\" + name;
            if (path == keep)
                continue;
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(path.c_str());
        }
    }
}

/// Writes the current entry to `target` through a temporary file, inflating through `buffer`;
/// false, with the reason in `problem`, when it could not be put in place. Archive errors raise.
bool InstallEntry(CUnzipFile& archive, const EntryInfo& info, const std::string& target,
                  std::vector<unsigned char>& buffer, IFileCommit& commit, std::string& problem, CSha256* hash)
{
    std::string tempPath;
    if (const DWORD refused = commit.TempPathFor(target, tempPath)) {
        problem = kCannotWrite + std::to_string(refused);
        return false;
    }
    CTempFileBeside temp(target, tempPath);
    kvo::CFileException fileError(kvo::CFileException::none, 0, target);
    if (!temp.Open(&fileError)) {
        problem = kCannotWrite + std::to_string(fileError.m_lOsError);
        return false;
    }
    archive.OpenEntry();
    std::uint64_t written = 0;
    for (;;) {
        const int count = archive.ReadEntry(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        if (count <= 0)
            break;
        temp.File().Write(buffer.data(), static_cast<unsigned>(count));
        if (hash)
            hash->Update(buffer.data(), static_cast<std::size_t>(count));
        written += static_cast<unsigned>(count);
    }
    // A deflate stream that ends early delivers less than declared: not a complete file.
    if (written != info.uncompressedSize) {
        problem = kBadArchive;
        return false;
    }
    archive.CloseEntry();  // raises badCrc before the file is put in place
    // Through the handle still open, so the file is not opened again; the move keeps the times.
    CUnzipFile::SetEntryFileTimes(temp.File(), info);
    if (!commit.Commit(temp, IFileCommit::Kind::packageEntry, CUnzipFile::EntryAttributeWord(info), fileError)) {
        problem = kCannotReplace + std::to_string(fileError.m_lOsError);
        return false;
    }
    return true;
}

/// Whether the package may be written under `base` at all: every name stays below it and the
/// declared sizes fit the volume's free space (each entry inflates to its declared size at most).
/// Nothing is written before this holds; `problem` says why it does not.
bool MayBeWritten(CUnzipFile& archive, const std::string& base, std::string& problem)
{
    std::string name;
    std::uint64_t declared = 0;
    if (!AllNamesAreSafe(archive, base, declared, name)) {
        problem = name + kRefusedNameSuffix;
        return false;
    }
    const std::uint64_t available = FreeBytesFor(base);
    if (declared > available) {
        problem = kNoRoom + std::to_string(declared) + " > " + std::to_string(available);
        return false;
    }
    return true;
}

/// Installs every entry from the first one; stops at the first that fails, with `problem` naming
/// it. `name` follows the entry at hand, `written` collects the directories written to, and
/// `contents` (when given) the SHA-256 of every file entry.
bool InstallEntries(CUnzipFile& archive, const std::string& base, std::string& name, std::set<std::string>& written,
                    IFileCommit& commit, std::string& problem, PackageIndex* contents)
{
    std::vector<unsigned char> buffer(kCopyBufferSize);
    std::unique_ptr<CSha256> hash = contents ? std::make_unique<CSha256>() : nullptr;
    std::string entryProblem;
    do {
        EntryInfo info;
        name = CurrentEntryName(archive, info);
        if (IsDirectoryEntryName(name))
            continue;
        std::string target;
        if (!JoinUnderBase(base, name, target)) {
            problem = name + kRefusedNameSuffix;
            return false;
        }
        written.insert(target.substr(0, target.find_last_of('\\')));
        if (!InstallEntry(archive, info, target, buffer, commit, entryProblem, hash.get())) {
            problem = name + " " + entryProblem;
            return false;
        }
        if (contents)
            (*contents)[name] = hash->Finish();
    } while (archive.MoveToNextEntry());
    return true;
}

/// The directory that holds `packagePath`, with its trailing separator; "" when there is none.
std::string PackageDirectory(const std::string& packagePath)
{
    const std::size_t separator = packagePath.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : packagePath.substr(0, separator + 1);
}

/// Installs the archive `open` gives under `base`; `keep` is the package's own path, when it lies
/// there, which the cleanup of temporary files leaves alone.
template <typename OpenArchive>
bool InstallArchive(OpenArchive open, const std::string& base, const std::string& keep, std::string& problem,
                    IFileCommit& commit, PackageIndex* contents = nullptr)
{
    if (base.empty() || base.size() >= kPathBufferSize) {
        problem = keep + kRefusedNameSuffix;
        return false;
    }
    std::string name;               // the entry at hand, for the reason of a failure
    std::set<std::string> written;  // the directories the package writes to
    bool installed = false;
    try {
        const std::unique_ptr<CUnzipFile> archive = open();
        if (MayBeWritten(*archive, base, problem) && InstallEntries(*archive, base, name, written, commit, problem, contents)) {
            name.clear();
            archive->CloseArchive();
            installed = true;
        }
    } catch (const CZipException& error) {
        problem = (name.empty() ? std::string() : name + " ") +
                  (error.m_nCause == CZipException::badCrc ? kBadCrc : kBadArchive);
    } catch (const kvo::CFileException& error) {
        problem = (name.empty() ? std::string() : name + " ") + kCannotWrite + std::to_string(error.m_lOsError);
    } catch (const kvo::CException&) {
        problem = kBadArchive;
    } catch (const std::bad_alloc&) {
        problem = kOutOfMemory;
    }
    RemoveLeftoverTemporaryFiles(written, keep);
    return installed;
}

}  // namespace

bool InstallPackage(std::string packagePath, IFileCommit& commit)
{
    std::string ignored;
    return InstallPackage(std::move(packagePath), ignored, commit);
}

bool InstallPackage(std::string packagePath, std::string& problem, IFileCommit& commit)
{
    const std::string base = PackageDirectory(packagePath);
    return InstallArchive([&] { return std::make_unique<CUnzipFile>(packagePath.c_str()); }, base, packagePath,
                          problem, commit);
}

bool InstallPackage(kvo::CFile& package, const std::string& base, std::string& problem, IFileCommit& commit,
                    PackageIndex* contents)
{
    return InstallArchive([&] { return std::make_unique<CUnzipFile>(package); }, base, std::string(), problem,
                          commit, contents);
}

bool InstallPackageRange(kvo::CFile& range, const std::string& base, std::string& problem, IFileCommit& commit,
                         PackageIndex& contents)
{
    return InstallArchive([&] { return std::make_unique<CUnzipFile>(range, CUnzipFile::LocalHeadersOnly{}); }, base,
                          std::string(), problem, commit, &contents);
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
