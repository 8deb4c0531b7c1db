#include "update/ReleaseCommit.h"

#include <set>

#include "framework/Sync.h"
#include "update/PackageInstall.h"
#include "update/Settings.h"
#include "update/UpdateErrors.h"

namespace {

/// Held for the whole of a commit.
kvo::CCriticalSection g_commit;
/// No journal of a real release comes near this (a line per file): a larger one is not read.
constexpr std::uint64_t kMaxJournalBytes = 64 << 20;

bool Exists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

/// Finds which targets have a file that the new one replaces, and whether each such file may go
/// to the backup at the very end: neither read-only nor held open (the running launcher is held
/// by nature, and may be renamed all the same). ERROR_SUCCESS, or why the release may not go in.
DWORD SurveyTargets(const CReleaseArea& area, std::vector<StagedFile>& staged)
{
    for (StagedFile& file : staged) {
        const std::string target = area.TargetPath(file.entry.target);
        const DWORD attributes = ::GetFileAttributesA(target.c_str());
        file.entry.hadOld = attributes != INVALID_FILE_ATTRIBUTES;
        if (!file.entry.hadOld || file.isLauncher)
            continue;
        if (const std::uint32_t refusal = kvo::CFile::ReplaceRefusal(target.c_str(), attributes))
            return refusal;
    }
    return ERROR_SUCCESS;
}

/// Makes, once each, the folders the moves of `journal` lead into: the targets' (a release may
/// bring a new one), the staging area's and the backup's subfolders.
void MakeFolders(const CReleaseArea& area, const ReleaseJournal& journal)
{
    std::set<std::string> folders;
    const auto folderOf = [](const std::string& path) { return path.substr(0, path.find_last_of('\\')); };
    for (const JournalEntry& entry : journal.entries) {
        folders.insert(folderOf(area.TargetPath(entry.target)));
        folders.insert(folderOf(area.StagedPath(entry.stagedName)));
        if (entry.hadOld)
            folders.insert(folderOf(area.BackupPath(entry.stagedName)));
    }
    for (const std::string& folder : folders)
        MakeDirectoryPath(folder.c_str());
}

/// Puts the previous release back: each new file returns to the staging area (kept for another
/// start), each old one leaves the backup for its place, then the old version. Safe to repeat.
DWORD RollBack(const CReleaseArea& area, const ReleaseJournal& journal, IReleaseSteps& steps)
{
    MakeFolders(area, journal);
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
    // Not written when it never changed: a settings file that cannot be written (the commit's
    // failure, often) must not keep the old release from being whole again.
    if (ReadInstalledVersion(area.ModuleDir()) == journal.fromVersion)
        return ERROR_SUCCESS;
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
    MakeFolders(area, journal);
    for (const JournalEntry& entry : journal.entries) {
        const std::string target = area.TargetPath(entry.target);
        const std::string staged = area.StagedPath(entry.stagedName);
        const std::string backup = area.BackupPath(entry.stagedName);
        if (!Exists(staged))
            continue;  // in place already
        DWORD error = ERROR_SUCCESS;
        if (entry.hadOld && !Exists(backup) && Exists(target))
            error = steps.Move(target, backup);
        if (error == ERROR_SUCCESS)
            error = steps.Move(staged, target);
        if (error != ERROR_SUCCESS)
            return error;
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

/// One staged file into place, flushed before: the old file to the backup, the new one renamed in.
DWORD PutInPlace(const CReleaseArea& area, StagedFile& file, IReleaseSteps& steps)
{
    const std::string target = area.TargetPath(file.entry.target);
    DWORD error = ERROR_SUCCESS;
    if (file.entry.hadOld)
        error = steps.Move(target, area.BackupPath(file.entry.stagedName));
    if (error == ERROR_SUCCESS)
        error = steps.Rename(*file.file, target);
    return error;
}

}  // namespace

DWORD CommitRelease(const CReleaseArea& area, std::vector<StagedFile>& staged, unsigned toVersion, IReleaseSteps& steps)
{
    kvo::CSingleLock committing(g_commit);
    if (const DWORD refused = area.Prepare())
        return refused;
    // A release finished at this start and not yet watched is as good as confirmed by a newer one
    // (its staged files, this run's, stay).
    if (ReadJournal(area).state == ReleaseJournal::State::complete) {
        ::DeleteFileA(area.JournalPath().c_str());
        area.ClearBackup();
    }
    ReleaseJournal journal;
    journal.fromVersion = ReadInstalledVersion(area.ModuleDir());
    journal.toVersion = toVersion;
    DWORD error = SurveyTargets(area, staged);
    for (const StagedFile& file : staged)
        journal.entries.push_back(file.entry);
    if (error == ERROR_SUCCESS) {
        MakeFolders(area, journal);
        error = steps.WriteJournal(area.JournalPath(), JournalText(journal));
    }
    if (error != ERROR_SUCCESS) {
        ::DeleteFileA(area.JournalPath().c_str());  // nothing was touched for it
        return error;
    }
    std::vector<kvo::CFile*> files;
    for (StagedFile& file : staged)
        files.push_back(file.file.get());
    // Every new byte on the disk before the first rename: the renames are all that is left.
    error = steps.FlushAll(files);
    for (StagedFile& file : staged) {
        if (error != ERROR_SUCCESS)
            break;
        error = PutInPlace(area, file, steps);
    }
    if (error == ERROR_SUCCESS)
        error = steps.WriteVersion(area.ModuleDir(), toVersion);
    if (error == ERROR_SUCCESS)
        error = steps.AppendJournal(area.JournalPath(), journal::kCompleteLine);
    for (StagedFile& file : staged)
        file.file->Abort();  // from here on every file is moved by its path
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
    kvo::CFile file;
    if (!file.Open(area.JournalPath().c_str(), kvo::CFile::modeRead | kvo::CFile::shareDenyNone))
        return {};
    try {
        const std::uint64_t length = file.GetLength();
        if (length > kMaxJournalBytes)
            return {};
        std::string text(static_cast<std::size_t>(length), '\0');
        if (!text.empty() && file.Read(&text[0], static_cast<unsigned>(text.size())) != text.size())
            return {};
        return ParseJournal(text);
    } catch (const kvo::CFileException&) {
        return {};  // unreadable: as if cut while it was written
    }
}

void ConfirmRelease(const CReleaseArea& area)
{
    ::DeleteFileA(area.JournalPath().c_str());
    area.ClearBackup();    // the launcher that runs stays until the next start
    area.PruneStaged({});  // a package the release was unpacked from
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
    if (!area.Exists())
        return recovery;  // no release ever waited here, or the last one was confirmed
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
        return recovery;
    case ReleaseJournal::State::complete:
        // Its lobby was started before.
        ConfirmRelease(area);
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
