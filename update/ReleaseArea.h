// Where a release waits for its commit, inside the installation: "KvoRelease\staged" holds the
// new files (under names of their own, so deep paths fit, spread over subfolders named by their
// first two digits), "KvoRelease\backup" the files they replaced until the release is confirmed,
// and "KvoRelease\journal.txt" what a commit is doing.
#pragma once
#include <windows.h>

#include <cstdint>
#include <set>
#include <string>

namespace release {
inline constexpr char kAreaDir[] = "KvoRelease";
inline constexpr char kStagedDir[] = "KvoRelease\\staged\\";
inline constexpr char kBackupDir[] = "KvoRelease\\backup\\";
inline constexpr char kJournalFile[] = "KvoRelease\\journal.txt";
}  // namespace release

class CReleaseArea {
public:
    /// The area of the installation at `moduleDir` (ending in a backslash).
    explicit CReleaseArea(std::string moduleDir);

    const std::string& ModuleDir() const noexcept { return m_strModuleDir; }
    std::string JournalPath() const { return m_strModuleDir + release::kJournalFile; }
    /// Where the file staged under `name` lies, finished or not.
    std::string StagedPath(const std::string& name) const;
    /// Where the file replaced by the one staged under `name` waits.
    std::string BackupPath(const std::string& name) const;
    std::string TargetPath(const std::string& relative) const { return m_strModuleDir + relative; }

    /// The name the staged file of the installation's `relative` path goes by: 16 hexadecimal
    /// digits of the SHA-256 of the path without case, the same at every start.
    static std::string StagedNameFor(const std::string& relative);
    /// `target`'s path relative to the installation; false when it is not below it, or lies in
    /// the area itself (nothing of a release may be written there).
    bool RelativeTarget(const std::string& target, std::string& relative) const;

    /// Makes the area's folders. ERROR_SUCCESS, or why it may not be used: a folder that is a
    /// reparse point, or that resolves outside the installation (kErrorStagingRefused).
    DWORD Prepare() const;
    /// Whether the area's folder is there at all (most starts have none).
    bool Exists() const;
    /// Whether the area's folders that exist are ordinary folders of the installation: only then
    /// is anything in them read, moved or removed.
    bool IsSafe() const;
    /// ERROR_SUCCESS when nothing is at `path` (a staged file, or a subfolder of the staging
    /// folder) yet, or what is there lies in the staging folder, not behind a link that leads
    /// elsewhere (kErrorStagingRefused).
    DWORD CheckStagedPath(const std::string& path) const;
    /// ERROR_SUCCESS when every folder between the installation and `relative` is an ordinary
    /// folder (or does not exist yet): a reparse point there could carry a write elsewhere.
    DWORD CheckTargetFolders(const std::string& relative) const;

    /// Removes the staged files whose names are not in `needed`, then the area's folders left
    /// empty (the area itself when it is). Nothing when the area is not safe.
    void PruneStaged(const std::set<std::string>& needed) const;
    /// Removes every file of the backup folder that can be removed, then the folders left empty.
    void ClearBackup() const;

private:
    void RemoveEmptyFolders() const;
    /// Prepare's checks; the folders are made first when `make`, else missing ones pass.
    DWORD CheckFolders(bool make) const;

    std::string m_strModuleDir;
    mutable std::string m_strResolvedStaged;  ///< the staging folder as the system resolves it
};

/// Free bytes for the caller on the volume of `directory`; the largest number when unknown.
std::uint64_t FreeBytesFor(const std::string& directory);
