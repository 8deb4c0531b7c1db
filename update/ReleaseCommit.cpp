#include "update/ReleaseCommit.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "framework/FileStatus.h"
#include "framework/Sync.h"
#include "update/PackageInstall.h"
#include "update/Settings.h"
#include "update/UpdateErrors.h"

namespace {

/// Held for the whole of a commit.
kvo::CCriticalSection g_commit;

bool Exists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

/// The folder of `path` made, for a file of the release that is new there.
void MakeFolderOf(const std::string& path)
{
    const std::size_t cut = path.find_last_of('\\');
    if (cut != std::string::npos)
        MakeDirectoryPath(path.substr(0, cut).c_str());
}

void ApplyAttributes(const std::string& path, const JournalEntry& entry)
{
    if (entry.attributeWord != kNoAttributeWord)
        kvo::SetFileAttributeWord(path, static_cast<std::uint16_t>(entry.attributeWord));
}

/// A new file may go in place of the old one at the very end: the old one is neither read-only
/// nor held open (the running launcher is held by nature, and may be renamed all the same).
DWORD RefusalOfOldFiles(const CReleaseArea& area, const std::vector<StagedFile>& staged)
{
    for (const StagedFile& file : staged) {
        if (file.isLauncher || !file.entry.hadOld)
            continue;
        if (const std::uint32_t refusal = kvo::CFile::ReplaceRefusal(area.TargetPath(file.entry.target).c_str()))
            return refusal;
    }
    return ERROR_SUCCESS;
}

/// Puts the previous release back: each new file returns to the staging area (kept for another
/// start), each old one leaves the backup for its place, then the old version. Safe to repeat.
DWORD RollBack(const CReleaseArea& area, const ReleaseJournal& journal, IReleaseSteps& steps)
{
    for (auto entry = journal.entries.rbegin(); entry != journal.entries.rend(); ++entry) {
        const std::string target = area.TargetPath(entry->target);
        const std::string staged = area.StagedPath(entry->stagedName);
        const std::string backup = area.BackupPath(entry->stagedName);
        DWORD error = ERROR_SUCCESS;
        if (entry->hadOld) {
            if (!Exists(backup))
                continue;  // never moved: the old file is in place
            if (Exists(target))
                error = steps.Move(target, staged);
            if (error == ERROR_SUCCESS)
                error = steps.Move(backup, target);
        } else if (Exists(target) && !Exists(staged)) {
            error = steps.Move(target, staged);
        }
        if (error != ERROR_SUCCESS)
            return error;
    }
    return steps.WriteVersion(area.ModuleDir(), journal.fromVersion);
}

/// Whether every entry of the journal is in place or still staged.
bool CanRollForward(const CReleaseArea& area, const ReleaseJournal& journal)
{
    for (const JournalEntry& entry : journal.entries) {
        const bool done = Exists(area.TargetPath(entry.target)) &&
                          (!entry.hadOld || Exists(area.BackupPath(entry.stagedName)));
        if (!done && !Exists(area.StagedPath(entry.stagedName)))
            return false;
    }
    return true;
}

/// Finishes a cut commit by paths: the handles went with the process that made them.
DWORD RollForward(const CReleaseArea& area, const ReleaseJournal& journal, IReleaseSteps& steps)
{
    for (const JournalEntry& entry : journal.entries) {
        const std::string target = area.TargetPath(entry.target);
        const std::string staged = area.StagedPath(entry.stagedName);
        const std::string backup = area.BackupPath(entry.stagedName);
        if (!Exists(staged))
            continue;  // in place already
        DWORD error = ERROR_SUCCESS;
        if (entry.hadOld && !Exists(backup) && Exists(target))
            error = steps.Move(target, backup);
        MakeFolderOf(target);
        if (error == ERROR_SUCCESS)
            error = steps.Move(staged, target);
        if (error != ERROR_SUCCESS)
            return error;
        ApplyAttributes(target, entry);
    }
    DWORD error = steps.WriteVersion(area.ModuleDir(), journal.toVersion);
    if (error == ERROR_SUCCESS)
        error = steps.AppendJournal(area.JournalPath(), journal::kCompleteLine);
    return error;
}

/// Undoes a commit that failed on its way; the journal goes when the undo is whole.
DWORD AbandonCommit(const CReleaseArea& area, const ReleaseJournal& journal, IReleaseSteps& steps)
{
    const DWORD error = RollBack(area, journal, steps);
    if (error == ERROR_SUCCESS)
        ::DeleteFileA(area.JournalPath().c_str());
    return error;
}

/// One staged file into place: flushed, the old file to the backup, the new one renamed in.
DWORD PutInPlace(const CReleaseArea& area, StagedFile& file, IReleaseSteps& steps)
{
    const std::string target = area.TargetPath(file.entry.target);
    DWORD error = steps.Flush(*file.file);
    if (error == ERROR_SUCCESS && file.entry.hadOld)
        error = steps.Move(target, area.BackupPath(file.entry.stagedName));
    MakeFolderOf(target);
    if (error == ERROR_SUCCESS)
        error = steps.Rename(*file.file, target);
    if (error != ERROR_SUCCESS)
        return error;
    file.file->Abort();
    ApplyAttributes(target, file.entry);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD CommitRelease(const CReleaseArea& area, std::vector<StagedFile>& staged, unsigned toVersion, IReleaseSteps& steps)
{
    kvo::CSingleLock committing(g_commit);
    if (const DWORD refused = area.Prepare())
        return refused;
    // A release finished at this start and not yet watched is as good as confirmed by a newer one.
    if (ReadJournal(area).state == ReleaseJournal::State::complete)
        ConfirmRelease(area);
    ReleaseJournal journal;
    journal.fromVersion = ReadInstalledVersion(area.ModuleDir());
    journal.toVersion = toVersion;
    for (StagedFile& file : staged) {
        file.entry.hadOld = Exists(area.TargetPath(file.entry.target));
        journal.entries.push_back(file.entry);
    }
    DWORD error = RefusalOfOldFiles(area, staged);
    if (error == ERROR_SUCCESS)
        error = steps.WriteJournal(area.JournalPath(), JournalText(journal));
    if (error != ERROR_SUCCESS) {
        ::DeleteFileA(area.JournalPath().c_str());  // nothing was touched for it
        return error;
    }
    for (StagedFile& file : staged) {
        error = PutInPlace(area, file, steps);
        if (error != ERROR_SUCCESS)
            break;
    }
    if (error == ERROR_SUCCESS)
        error = steps.WriteVersion(area.ModuleDir(), toVersion);
    if (error == ERROR_SUCCESS)
        error = steps.AppendJournal(area.JournalPath(), journal::kCompleteLine);
    for (StagedFile& file : staged)
        file.file->Abort();  // what is still staged is moved by its path from here on
    if (error != ERROR_SUCCESS)
        AbandonCommit(area, journal, steps);
    return error;
}

void WaitForReleaseCommit() noexcept
{
    kvo::CSingleLock waiting(g_commit);
}

ReleaseJournal ReadJournal(const CReleaseArea& area)
{
    std::ifstream in(area.JournalPath(), std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return ParseJournal(text.str());
}

void ConfirmRelease(const CReleaseArea& area)
{
    const ReleaseJournal journal = ReadJournal(area);
    for (const JournalEntry& entry : journal.entries) {
        const std::string backup = area.BackupPath(entry.stagedName);
        ::SetFileAttributesA(backup.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(backup.c_str());  // the launcher that runs stays until the next start
    }
    ::DeleteFileA(area.JournalPath().c_str());
}

DWORD UndoRelease(const CReleaseArea& area, ReleaseJournal& journal, IReleaseSteps& steps)
{
    kvo::CSingleLock committing(g_commit);
    DWORD error = ERROR_SUCCESS;
    if (journal.state != ReleaseJournal::State::undoing) {
        error = steps.AppendJournal(area.JournalPath(), journal::kUndoLine);
        if (error != ERROR_SUCCESS)
            return error;
        journal.state = ReleaseJournal::State::undoing;
    }
    // Recorded first: a start after a cut undo must not take the release again either.
    error = WriteUndoneVersion(area.ModuleDir(), static_cast<int>(journal.toVersion));
    if (error == ERROR_SUCCESS)
        error = RollBack(area, journal, steps);
    if (error == ERROR_SUCCESS)
        ::DeleteFileA(area.JournalPath().c_str());
    return error;
}

Recovery RecoverRelease(const CReleaseArea& area, IReleaseSteps& steps)
{
    Recovery recovery;
    if (!area.IsSafe()) {
        recovery.done = Recovery::Done::failed;
        recovery.error = kErrorStagingRefused;
        return recovery;
    }
    ReleaseJournal journal = ReadJournal(area);
    recovery.fromVersion = journal.fromVersion;
    recovery.toVersion = journal.toVersion;
    switch (journal.state) {
    case ReleaseJournal::State::torn:
        // A journal cut while it was written: the commit never began. Without one, whatever the
        // backup still holds (the launcher that ran during the last confirmation) may go.
        ::DeleteFileA(area.JournalPath().c_str());
        area.ClearBackup();
        area.RemoveEmptyFolders();
        return recovery;
    case ReleaseJournal::State::complete:
        // Its lobby was started before: nothing staged then is needed any more.
        ConfirmRelease(area);
        area.PruneStaged({});
        area.RemoveEmptyFolders();
        recovery.done = Recovery::Done::confirmed;
        return recovery;
    case ReleaseJournal::State::undoing:
        recovery.error = UndoRelease(area, journal, steps);
        recovery.done = recovery.error == ERROR_SUCCESS ? Recovery::Done::undone : Recovery::Done::failed;
        return recovery;
    case ReleaseJournal::State::pending:
        break;
    }
    kvo::CSingleLock committing(g_commit);
    recovery.error = ERROR_GEN_FAILURE;
    if (CanRollForward(area, journal)) {
        recovery.error = RollForward(area, journal, steps);
        recovery.done = Recovery::Done::rolledForward;
    }
    if (recovery.error != ERROR_SUCCESS) {
        // Not every new file can be had: the old ones can, from the backup.
        recovery.error = AbandonCommit(area, journal, steps);
        recovery.done = Recovery::Done::rolledBack;
    }
    if (recovery.error != ERROR_SUCCESS)
        recovery.done = Recovery::Done::failed;
    return recovery;
}
