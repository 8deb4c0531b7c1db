// The commit step of an update run: every checked file goes into the staging area, held open,
// and the whole release is committed at the run's end, or not at all.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "update/FileCommit.h"
#include "update/ReleaseCommit.h"

class CReleaseStaging final : public IFileCommit {
public:
    /// The staging of the installation at `moduleDir` (ending in a backslash).
    explicit CReleaseStaging(std::string moduleDir);

    /// The staged file of `target` in the area, made ready for it (an earlier staging of the same
    /// target let go). Refused, with nothing written: a target outside the installation or in the
    /// area, or an area that is a reparse point or resolves elsewhere.
    DWORD TempPathFor(const std::string& target, std::string& tempPath) override;
    /// Keeps the checked file open for the commit; nothing installed is touched. A target below
    /// a reparse point is refused.
    bool Commit(CTempFileBeside& staged, Kind kind, int attributeWord, kvo::CFileException& error) override;

    /// Commits every file staged so far as the release `toVersion` (CommitRelease).
    DWORD CommitAll(unsigned toVersion, IReleaseSteps& steps = FileSystemSteps());
    /// Lets every staged file go, closed, to be resumed by a later run.
    /// What the staging learnt of the area is forgotten with them: a later run looks again.
    void Abandon() noexcept
    {
        m_staged.clear();
        m_names.clear();
        m_folderFiles.clear();
        m_checkedFolders.clear();
        m_bPrepared = false;
    }

    const CReleaseArea& Area() const noexcept { return m_area; }
    std::size_t StagedCount() const noexcept { return m_staged.size(); }

private:
    CReleaseArea m_area;
    bool m_bPrepared = false;
    std::vector<StagedFile> m_staged;
    std::set<std::string> m_names;        ///< the staged names of m_staged
    /// The area's subfolders made (and checked) by this staging, with the staged files that were in
    /// each when it was first used (upper-cased).
    std::map<std::string, std::set<std::string>> m_folderFiles;
    std::set<std::string> m_checkedFolders;  ///< the targets' folders found to be ordinary ones
};
