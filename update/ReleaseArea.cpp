#include "update/ReleaseArea.h"

#include <cstdio>
#include <vector>

#include "framework/Handles.h"
#include "support/ReplaceFile.h"
#include "support/Sha256.h"
#include "update/Leftovers.h"
#include "update/PackageInstall.h"
#include "update/UpdateErrors.h"

namespace {

/// Bytes of the path hash that name a staged file: 64 bits keep distinct paths apart.
constexpr std::size_t kStagedNameBytes = 8;
/// The first digits of a name choose its subfolder: a folder of thousands of files makes every new
/// name a search of all of them where names are matched without case (Wine).
constexpr std::size_t kFanOutDigits = 2;
constexpr std::size_t kFinalPathSize = 1024;
/// The system's own answer for a final path it cannot shorten: "\\?\C:\...".
const char kLongPathPrefix[] = "\\\\?\\";

bool IsReparsePoint(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

/// The path the system resolves the open `file` to, upper-cased; "" when it cannot tell.
std::string ResolvedPath(HANDLE file)
{
    std::vector<char> resolved(kFinalPathSize);
    const DWORD length = ::GetFinalPathNameByHandleA(file, resolved.data(), kFinalPathSize, 0);
    if (length == 0 || length >= kFinalPathSize)
        return {};
    std::string text(resolved.data(), length);
    if (text.compare(0, sizeof kLongPathPrefix - 1, kLongPathPrefix) == 0)
        text.erase(0, sizeof kLongPathPrefix - 1);
    return UpperCased(text);
}

/// The path of the file or folder at `path` as the system resolves it (links followed); "" when
/// there is nothing there or it cannot tell. Opening it to ask reads nor writes anything.
std::string ResolvedPath(const std::string& path)
{
    const kvo::unique_hfile found(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return found ? ResolvedPath(found.get()) : std::string();
}

/// The resolved folder `path`, with a trailing backslash; "" when it cannot tell.
std::string ResolvedFolder(const std::string& path)
{
    std::string text = ResolvedPath(path);
    if (!text.empty() && text.back() != '\\')
        text += '\\';
    return text;
}

/// Whether the resolved `path` lies below the resolved `folder`.
bool IsBelow(const std::string& folder, const std::string& path)
{
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0;
}

/// `name` in its subfolder of `folder`.
std::string FannedOut(const std::string& folder, const std::string& name)
{
    return folder + name.substr(0, kFanOutDigits) + "\\" + name.substr(kFanOutDigits);
}

/// Removes every file of the subfolders of `folder` (ending in a backslash) whose name (the
/// subfolder's and the file's together) `keep` does not want, and the subfolders left empty. A
/// subfolder that is a link is left alone.
template <typename Keep>
void RemoveFannedOutFiles(const std::string& folder, Keep keep)
{
    WIN32_FIND_DATAA sub{};
    kvo::unique_hfind subfolders(::FindFirstFileA((folder + "*").c_str(), &sub));
    if (!subfolders)
        return;
    do {
        const std::string subName = sub.cFileName;
        const bool ordinary = (sub.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                              !(sub.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (!ordinary || subName.size() != kFanOutDigits)
            continue;
        const std::string subfolder = folder + subName + "\\";
        WIN32_FIND_DATAA found{};
        kvo::unique_hfind files(::FindFirstFileA((subfolder + "*").c_str(), &found));
        while (files) {
            const std::string name = found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !keep(subName + name)) {
                ::SetFileAttributesA((subfolder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA((subfolder + name).c_str());
            }
            if (!::FindNextFileA(files.get(), &found))
                break;
        }
        files.reset();
        ::RemoveDirectoryA(subfolder.c_str());  // only when empty
    } while (::FindNextFileA(subfolders.get(), &sub));
}

}  // namespace

CReleaseArea::CReleaseArea(std::string moduleDir) : m_strModuleDir(std::move(moduleDir)) {}

std::string CReleaseArea::StagedPath(const std::string& name) const
{
    return FannedOut(m_strModuleDir + release::kStagedDir, name) + CTempFileBeside::kSuffix;
}

std::string CReleaseArea::BackupPath(const std::string& name) const
{
    return FannedOut(m_strModuleDir + release::kBackupDir, name);
}

std::string CReleaseArea::StagedNameFor(const std::string& relative)
{
    const std::string key = UpperCased(relative);
    const Sha256Digest digest = CSha256::Of(key.data(), key.size());
    std::string name;
    char hex[3];
    for (std::size_t i = 0; i < kStagedNameBytes; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        name += hex;
    }
    return name;
}

bool CReleaseArea::RelativeTarget(const std::string& target, std::string& relative) const
{
    if (target.size() <= m_strModuleDir.size() ||
        UpperCased(target.substr(0, m_strModuleDir.size())) != UpperCased(m_strModuleDir))
        return false;
    relative = target.substr(m_strModuleDir.size());
    const std::string area = UpperCased(std::string(release::kAreaDir) + "\\");
    return UpperCased(relative.substr(0, area.size())) != area && UpperCased(relative) != area.substr(0, area.size() - 1);
}

bool CReleaseArea::Exists() const
{
    return ::GetFileAttributesA((m_strModuleDir + release::kAreaDir).c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD CReleaseArea::CheckFolders(bool make) const
{
    if (!make && !Exists())
        return ERROR_SUCCESS;  // nothing there to lead anywhere
    const std::string installation = ResolvedFolder(m_strModuleDir);
    for (const char* folder : {release::kAreaDir, release::kStagedDir, release::kBackupDir}) {
        std::string path = m_strModuleDir + folder;
        if (path.back() == '\\')
            path.pop_back();
        if (make && !MakeDirectoryPath(path.c_str()))
            return ERROR_PATH_NOT_FOUND;
        if (!make && ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        if (IsReparsePoint(path))
            return kErrorStagingRefused;
        // A volume that cannot resolve paths (some network drives) is judged by its attributes alone.
        if (!installation.empty() && ResolvedFolder(path).compare(0, installation.size(), installation) != 0)
            return kErrorStagingRefused;
    }
    m_strResolvedStaged = installation.empty() ? std::string() : ResolvedFolder(m_strModuleDir + release::kStagedDir);
    return ERROR_SUCCESS;
}

DWORD CReleaseArea::Prepare() const
{
    return CheckFolders(true);
}

bool CReleaseArea::IsSafe() const
{
    return CheckFolders(false) == ERROR_SUCCESS;
}

DWORD CReleaseArea::CheckStagedPath(const std::string& path) const
{
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return ERROR_SUCCESS;
    if (IsReparsePoint(path) || (!m_strResolvedStaged.empty() && !IsBelow(m_strResolvedStaged, ResolvedPath(path))))
        return kErrorStagingRefused;
    return ERROR_SUCCESS;
}

DWORD CReleaseArea::CheckTargetFolders(const std::string& relative) const
{
    for (std::size_t cut = relative.find('\\'); cut != std::string::npos; cut = relative.find('\\', cut + 1)) {
        if (IsReparsePoint(m_strModuleDir + relative.substr(0, cut)))
            return kErrorStagingRefused;
    }
    return ERROR_SUCCESS;
}

void CReleaseArea::PruneStaged(const std::set<std::string>& needed) const
{
    if (!IsSafe())
        return;  // a folder that leads elsewhere: nothing there is the area's to remove
    const std::string suffix = CTempFileBeside::kSuffix;
    RemoveFannedOutFiles(m_strModuleDir + release::kStagedDir, [&](const std::string& file) {
        return file.size() > suffix.size() && needed.count(file.substr(0, file.size() - suffix.size())) != 0;
    });
    RemoveEmptyFolders();
}

void CReleaseArea::ClearBackup() const
{
    if (!IsSafe())
        return;
    RemoveFannedOutFiles(m_strModuleDir + release::kBackupDir, [](const std::string&) { return false; });
    RemoveEmptyFolders();
}

void CReleaseArea::RemoveEmptyFolders() const
{
    // Only empty folders can be removed: whatever still waits in one keeps it. Called only once
    // the area is known to be safe: a link is never removed through (Wine would remove the folder
    // it leads to).
    const auto keepEveryFile = [](const std::string&) { return true; };
    RemoveFannedOutFiles(m_strModuleDir + release::kBackupDir, keepEveryFile);
    RemoveFannedOutFiles(m_strModuleDir + release::kStagedDir, keepEveryFile);
    for (const char* folder : {release::kBackupDir, release::kStagedDir, release::kAreaDir})
        ::RemoveDirectoryA((m_strModuleDir + folder).c_str());
}

std::uint64_t FreeBytesFor(const std::string& directory)
{
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr))
        return UINT64_MAX;
    return available.QuadPart;
}
