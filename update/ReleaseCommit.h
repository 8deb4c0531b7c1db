// A release committed as one step, and finished or undone at the next start when a commit was
// cut short: the journal first, then each file flushed and renamed into place with the file it
// replaces moved to the backup, then the version, then the journal marked complete.
#pragma once
#include <windows.h>

#include <memory>
#include <vector>

#include "framework/File.h"
#include "update/ReleaseArea.h"
#include "update/ReleaseJournal.h"
#include "update/ReleaseSteps.h"

/// A file staged for the release, held open from its first byte to its commit.
struct StagedFile {
    JournalEntry entry;              ///< `hadOld` is filled in by the commit
    bool isLauncher = false;         ///< the running launcher: in use by nature
    std::unique_ptr<kvo::CFile> file;
};

/// Commits `staged` as the release `toVersion` over the installation of `area`. ERROR_SUCCESS when
/// every file and the version are in place; otherwise the failure, and the installation holds the
/// previous release again (or, when even that could not be done, the journal is left for the
/// next start to finish). Nothing is touched when an installed file to be replaced is read-only
/// or held open. The staged files are closed either way.
DWORD CommitRelease(const CReleaseArea& area, std::vector<StagedFile>& staged, unsigned toVersion,
                    IReleaseSteps& steps = FileSystemSteps());

/// Returns once no commit is under way: whoever ends the process at once calls it first.
void WaitForReleaseCommit() noexcept;

/// What the start found of an earlier commit.
struct Recovery {
    enum class Done {
        nothing,        ///< no journal, or one whose commit never began
        confirmed,      ///< a complete release, started before: its backup is gone now
        rolledForward,  ///< a cut commit finished: the new release is in place, its lobby never started
        rolledBack,     ///< a cut commit undone: the previous release is in place
        undone,         ///< an undo after a failed lobby start finished
        failed,         ///< the journal could not be finished: it stays for the next start
    };
    Done done = Done::nothing;
    unsigned fromVersion = 0;
    unsigned toVersion = 0;
    DWORD error = ERROR_SUCCESS;
};

/// Finishes whatever an earlier commit left in `area`: a pending journal rolled forward when every
/// staged file is there, otherwise back; an undo finished; a complete release confirmed.
Recovery RecoverRelease(const CReleaseArea& area, IReleaseSteps& steps = FileSystemSteps());

/// Undoes the complete release of `area` after its lobby failed: the previous files and version
/// back in place through the journal, the release recorded as undone. ERROR_SUCCESS or the failure
/// (the journal then says to finish the undo at the next start).
DWORD UndoRelease(const CReleaseArea& area, ReleaseJournal& journal, IReleaseSteps& steps = FileSystemSteps());

/// Confirms the complete release of `area`: its journal, its backup and whatever is still staged
/// are removed, and the area with them when nothing is left.
void ConfirmRelease(const CReleaseArea& area);

/// The journal of `area`; torn when there is none.
ReleaseJournal ReadJournal(const CReleaseArea& area);
