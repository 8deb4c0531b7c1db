// A release lands whole or not at all: the commit of a small release (plain files, a package, the
// launcher) is stopped after each of its steps, or has each step fail, and the next start's
// recovery must leave exactly the old release or exactly the new one, the version included. The
// same holds for the undo of a release whose lobby failed.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "TempDir.h"
#include "ZipBuilder.h"
#include "update/PackageInstall.h"
#include "update/ReleaseStaging.h"
#include "update/ReleaseWatch.h"
#include "update/Settings.h"

namespace {

constexpr unsigned kOldVersion = 4;
constexpr unsigned kNewVersion = 5;
const char kLauncherName[] = "KvoLauncher.exe";

/// What a release holds: every file below the installation but the release area and the log,
/// with its content, and the recorded version.
struct Tree {
    std::map<std::string, std::string> files;
    unsigned version = 0;

    bool operator==(const Tree& other) const { return files == other.files && version == other.version; }
};

void ListFiles(const std::string& root, const std::string& relative, std::map<std::string, std::string>& files)
{
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA((root + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        const std::string path = relative + name;
        if (name == "." || name == ".." || path == "KvoRelease" || path == "DownLoad" || path == "LobbyDate")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(root, path + "\\", files);
        else
            files[path] = ReadWholeFile(root + path);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

Tree TreeOf(const TempDir& dir)
{
    Tree tree;
    ListFiles(dir.path(), "", tree.files);
    tree.version = ReadInstalledVersion(dir.path());
    return tree;
}

/// The step at which the steps below stop the work: as a killed process stops, or as a failing disk.
struct StopHere : std::runtime_error {
    StopHere() : std::runtime_error("the process stops here") {}
};

/// The real steps, counted; the `stopAt`th either stops the work just after it is done (`crash`),
/// or fails without being done.
class StoppingSteps final : public IReleaseSteps {
public:
    enum class Mode { count, crash, fail };
    StoppingSteps(Mode mode, int stopAt) : m_mode(mode), m_stopAt(stopAt) {}
    int Count() const { return m_count; }

    DWORD WriteJournal(const std::string& path, const std::string& text) override
    {
        return Step(ERROR_WRITE_FAULT, [&] { return Real().WriteJournal(path, text); });
    }
    DWORD AppendJournal(const std::string& path, const char* line) override
    {
        return Step(ERROR_WRITE_FAULT, [&] { return Real().AppendJournal(path, line); });
    }
    DWORD FlushAll(const std::vector<kvo::CFile*>& files) override
    {
        return Step(ERROR_WRITE_FAULT, [&] { return Real().FlushAll(files); });
    }
    DWORD Move(const std::string& from, const std::string& to) override
    {
        return Step(ERROR_ACCESS_DENIED, [&] { return Real().Move(from, to); });
    }
    DWORD Rename(kvo::CFile& file, const std::string& to) override
    {
        return Step(ERROR_ACCESS_DENIED, [&] { return Real().Rename(file, to); });
    }
    DWORD WriteVersion(const std::string& moduleDir, unsigned version) override
    {
        return Step(ERROR_WRITE_FAULT, [&] { return Real().WriteVersion(moduleDir, version); });
    }

private:
    static IReleaseSteps& Real() { return FileSystemSteps(); }

    template <typename Work>
    DWORD Step(DWORD failure, Work work)
    {
        const bool here = ++m_count == m_stopAt;
        if (here && m_mode == Mode::fail)
            return failure;
        const DWORD result = work();
        if (here && m_mode == Mode::crash)
            throw StopHere();
        return result;
    }

    Mode m_mode;
    int m_stopAt;
    int m_count = 0;
};

/// An installation of the old release with the new one staged: a changed file, a new file in a
/// new folder, the launcher, and a package that changes one file and adds one.
class StagedRelease {
public:
    StagedRelease() : m_staging(m_dir.path())
    {
        ::CreateDirectoryA((m_dir / "LobbyDate").c_str(), nullptr);
        ::CreateDirectoryA((m_dir / "data").c_str(), nullptr);
        WriteWholeFile(m_dir / "a.txt", "old a");
        WriteWholeFile(m_dir / "data\\kept.txt", "old kept");
        WriteWholeFile(m_dir / "data\\changed.txt", "old changed");
        WriteWholeFile(m_dir / kLauncherName, "old launcher");
        EXPECT_EQ(WriteInstalledVersion(m_dir.path(), kOldVersion), ERROR_SUCCESS);
        m_old = TreeOf(m_dir);

        Stage("a.txt", "new a", IFileCommit::Kind::file);
        Stage("fresh\\b.txt", "new b", IFileCommit::Kind::file);
        Stage(kLauncherName, "new launcher", IFileCommit::Kind::launcher);
        const std::string package =
            BuildZip({{"data/changed.txt", "new changed"}, {"data/added/c.txt", "new c", true}});
        Stage("pack.zip", package, IFileCommit::Kind::file, false);
        kvo::CFile packageFile;
        EXPECT_TRUE(packageFile.Open(m_staging.Area().StagedPath(CReleaseArea::StagedNameFor("pack.zip")).c_str(),
                                     kvo::CFile::modeRead));
        std::string problem;
        EXPECT_TRUE(InstallPackage(packageFile, m_dir.path(), problem, m_staging)) << problem;

        m_new = m_old;
        m_new.files["a.txt"] = "new a";
        m_new.files["fresh\\b.txt"] = "new b";
        m_new.files[kLauncherName] = "new launcher";
        m_new.files["data\\changed.txt"] = "new changed";
        m_new.files["data\\added\\c.txt"] = "new c";
        m_new.version = kNewVersion;
    }

    const TempDir& Dir() const { return m_dir; }
    CReleaseStaging& Staging() { return m_staging; }
    const Tree& Old() const { return m_old; }
    const Tree& New() const { return m_new; }
    Tree Now() const { return TreeOf(m_dir); }

private:
    /// Writes `content` as the staged file of `relative`, handed to the staging unless `handOver`
    /// is false (then it is only left on disk, as a downloaded package is).
    void Stage(const std::string& relative, const std::string& content, IFileCommit::Kind kind, bool handOver = true)
    {
        std::string tempPath;
        ASSERT_EQ(m_staging.TempPathFor(m_dir / relative, tempPath), ERROR_SUCCESS);
        CTempFileBeside temp(m_dir / relative, tempPath);
        ASSERT_TRUE(temp.Open());
        temp.File().Write(content.data(), static_cast<unsigned>(content.size()));
        if (!handOver) {
            temp.Keep();
            return;
        }
        kvo::CFileException error(kvo::CFileException::none, 0, tempPath);
        ASSERT_TRUE(m_staging.Commit(temp, kind, kNoAttributeWord, error));
    }

    TempDir m_dir;
    CReleaseStaging m_staging;
    Tree m_old;
    Tree m_new;
};

/// The steps of a whole commit of the staged release, and of a whole undo after it.
void CountSteps(int& commitSteps, int& undoSteps)
{
    StagedRelease release;
    StoppingSteps commit(StoppingSteps::Mode::count, 0);
    ASSERT_EQ(release.Staging().CommitAll(kNewVersion, commit), ERROR_SUCCESS);
    ASSERT_EQ(release.Now(), release.New());
    StoppingSteps undo(StoppingSteps::Mode::count, 0);
    ReleaseJournal journal = ReadJournal(release.Staging().Area());
    ASSERT_EQ(UndoRelease(release.Staging().Area(), journal, undo), ERROR_SUCCESS);
    ASSERT_EQ(release.Now(), release.Old());
    commitSteps = commit.Count();
    undoSteps = undo.Count();
}

TEST(ReleaseCommit, AStopAfterAnyStepIsFinishedOrUndoneByTheNextStart)
{
    int commitSteps = 0;
    int undoSteps = 0;
    CountSteps(commitSteps, undoSteps);
    // The journal; the flush of every file; per file a rename, and a move to the backup for the
    // three that replace one; the version; the mark.
    ASSERT_EQ(commitSteps, 1 + 1 + 5 + 3 + 2);
    for (int step = 1; step <= commitSteps; ++step) {
        SCOPED_TRACE("stopped after step " + std::to_string(step));
        StagedRelease release;
        StoppingSteps stopping(StoppingSteps::Mode::crash, step);
        EXPECT_THROW(release.Staging().CommitAll(kNewVersion, stopping), StopHere);
        release.Staging().Abandon();  // the handles go with the process
        const Recovery recovery = RecoverRelease(release.Staging().Area());
        EXPECT_EQ(recovery.error, static_cast<DWORD>(ERROR_SUCCESS));
        // Every staged file is still there at every stop: a cut commit is finished.
        EXPECT_EQ(release.Now(), release.New());
        // A release finished at start waits for its lobby's watch; one marked complete before the
        // stop is confirmed by the next start.
        const bool finished = step < commitSteps;
        EXPECT_EQ(recovery.done, finished ? Recovery::Done::rolledForward : Recovery::Done::confirmed);
        EXPECT_EQ(ReadJournal(release.Staging().Area()).state,
                  finished ? ReleaseJournal::State::complete : ReleaseJournal::State::torn);
    }
}

TEST(ReleaseCommit, AStepThatFailsLeavesTheOldReleaseAndItsStagedFiles)
{
    int commitSteps = 0;
    int undoSteps = 0;
    CountSteps(commitSteps, undoSteps);
    for (int step = 1; step <= commitSteps; ++step) {
        SCOPED_TRACE("step " + std::to_string(step) + " fails");
        StagedRelease release;
        StoppingSteps failing(StoppingSteps::Mode::fail, step);
        EXPECT_NE(release.Staging().CommitAll(kNewVersion, failing), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(release.Now(), release.Old());
        EXPECT_EQ(RecoverRelease(release.Staging().Area()).done, Recovery::Done::nothing);
        EXPECT_EQ(release.Now(), release.Old());
        // Kept for the next run to resume: the new files are back in the staging area.
        EXPECT_EQ(TemporaryFilesBelow(release.Dir() / "KvoRelease").size(), 6u);
    }
}

TEST(ReleaseCommit, AnUndoStoppedAfterAnyStepIsFinishedByTheNextStart)
{
    int commitSteps = 0;
    int undoSteps = 0;
    CountSteps(commitSteps, undoSteps);
    ASSERT_GT(undoSteps, 5);
    for (int step = 1; step <= undoSteps; ++step) {
        SCOPED_TRACE("undo stopped after step " + std::to_string(step));
        StagedRelease release;
        ASSERT_EQ(release.Staging().CommitAll(kNewVersion), ERROR_SUCCESS);
        ReleaseJournal journal = ReadJournal(release.Staging().Area());
        StoppingSteps stopping(StoppingSteps::Mode::crash, step);
        EXPECT_THROW(UndoRelease(release.Staging().Area(), journal, stopping), StopHere);
        EXPECT_EQ(RecoverRelease(release.Staging().Area()).done, Recovery::Done::undone);
        EXPECT_EQ(release.Now(), release.Old());
        EXPECT_EQ(ReadUndoneVersion(release.Dir().path()), kNewVersion) << "not taken again";
    }
}

TEST(ReleaseCommit, AJournalCutWhileWrittenTouchesNothing)
{
    StagedRelease release;
    const std::string journal = release.Staging().Area().JournalPath();
    StoppingSteps counting(StoppingSteps::Mode::count, 0);
    ASSERT_EQ(release.Staging().CommitAll(kNewVersion, counting), ERROR_SUCCESS);
    const std::string whole = ReadWholeFile(journal);
    // The same journal cut before its last line, over the old release: the commit never began.
    StagedRelease cut;
    WriteWholeFile(cut.Staging().Area().JournalPath(), whole.substr(0, whole.find("commit")));
    cut.Staging().Abandon();
    EXPECT_EQ(RecoverRelease(cut.Staging().Area()).done, Recovery::Done::nothing);
    EXPECT_EQ(cut.Now(), cut.Old());
    EXPECT_FALSE(FileExists(cut.Staging().Area().JournalPath()));
}

TEST(ReleaseCommit, AStagedFileLostBeforeItsRenameRollsTheReleaseBack)
{
    StagedRelease release;
    StoppingSteps stopping(StoppingSteps::Mode::crash, 1 + 1 + 2);  // the journal, the flush, the first file
    EXPECT_THROW(release.Staging().CommitAll(kNewVersion, stopping), StopHere);
    release.Staging().Abandon();
    const CReleaseArea& area = release.Staging().Area();
    ASSERT_TRUE(::DeleteFileA(area.StagedPath(CReleaseArea::StagedNameFor("fresh\\b.txt")).c_str()));
    const Recovery recovery = RecoverRelease(area);
    EXPECT_EQ(recovery.done, Recovery::Done::rolledBack);
    EXPECT_EQ(recovery.fromVersion, kOldVersion);
    EXPECT_EQ(release.Now(), release.Old());
}

TEST(ReleaseWatch, ALobbyThatCannotStartHasItsReleaseUndoneAndOneThatRunsConfirmsIt)
{
    for (const bool starts : {false, true}) {
        SCOPED_TRACE(starts ? "the lobby runs on" : "the lobby cannot be started");
        StagedRelease release;
        ASSERT_EQ(release.Staging().CommitAll(kNewVersion), ERROR_SUCCESS);
        ::CreateDirectoryA((release.Dir() / "DownLoad").c_str(), nullptr);
        const std::string logPath = release.Dir() / "DownLoad\\watch.log";
        CLog log;
        ASSERT_TRUE(log.Open(logPath.c_str()));
        int startsAsked = 0;
        // A lobby that runs on: this test program itself, which outlives any watch.
        const LobbyStarter start = [&]() {
            ++startsAsked;
            HANDLE self = nullptr;
            if (starts)
                ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &self,
                                  SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0);
            else
                ::SetLastError(ERROR_FILE_NOT_FOUND);
            return kvo::unique_handle(self);
        };
        const LobbyWatchEnd end = StartWatchedLobby(release.Dir().path(), log, start, 0);
        log.Close();
        if (starts) {
            EXPECT_EQ(end, LobbyWatchEnd::confirmed);
            EXPECT_EQ(release.Now(), release.New());
            EXPECT_EQ(startsAsked, 1);
            EXPECT_FALSE(FileExists(release.Dir() / "KvoRelease")) << "the backup and the area are gone";
            continue;
        }
        EXPECT_EQ(end, LobbyWatchEnd::undone);
        EXPECT_EQ(release.Now(), release.Old());
        EXPECT_EQ(startsAsked, 2) << "the restored lobby is started";
        EXPECT_EQ(ReadUndoneVersion(release.Dir().path()), kNewVersion);
        EXPECT_NE(ReadWholeFile(logPath).find("0x00000002"), std::string::npos) << "the start's error is logged";
    }
}

}  // namespace
