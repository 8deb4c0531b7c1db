// The update run: entries taken from the end of the list on workers only (the run is handed to one
// at its start, so the window answers however many entries are current), each out-of-date one
// downloaded by a worker of its own (one at a time, each starting the next), and the end that
// records the version or logs the failure. Every way the run ends reaches the listener, including
// an exception that escapes a worker's work.
#include "update/UpdateRun.h"

#include <atomic>
#include <exception>
#include <new>
#include <set>
#include <string>

#include "update/FileCheck.h"
#include "update/PackageRanges.h"
#include "update/PatchRoad.h"
#include "update/SelfUpdate.h"
#include "update/UpdateEngine.h"

namespace {

const char kUpToDateSuffix[] = " 当前已是最新";
const char kDownloadedSuffix[] = "  下载成功";
const char kFileFailedInfix[] = " 更新失败 ";
const char kVersionPrefix[] = "版本";
const char kCompletedSuffix[] = "  更新完成";
const char kRunFailedPrefix[] = "更新失败 ";

/// The engine whose run is under way, from its start until the run lets it go. There is one
/// engine per process; a pointer keeps a test's next engine apart from the last.
std::atomic<const CUpdateEngine*> g_engineInRun{nullptr};

std::string ErrorNumber(DWORD error)
{
    return std::to_string(static_cast<int>(error));
}

}  // namespace

CUpdateEngine::CUpdateEngine(std::string moduleDir, const UpdatePolicy& policy)
    : m_strModuleDir(std::move(moduleDir)), m_policy(policy), m_staging(m_strModuleDir)
{
    // Only what start-up needs before it knows whether an update is due: most starts end there.
    m_log.Open(MakeDatedLogPath(m_strModuleDir, _time64(nullptr)).c_str());
}

CUpdateEngine::~CUpdateEngine()
{
    if (g_engineInRun.load() == this) {
        WaitForReleaseCommit();  // a commit cut here would be finished at the next start, but
        WaitForProgramSwap();    // need not be: both are short
        ::TerminateProcess(::GetCurrentProcess(), 0);
    }
    m_log.Close();
}

void CUpdateEngine::ReleaseRun() noexcept
{
    const CUpdateEngine* expected = this;
    g_engineInRun.compare_exchange_strong(expected, nullptr);
}

void CUpdateEngine::MarkRunFailed(DWORD error) noexcept
{
    DWORD none = ERROR_SUCCESS;
    m_dwRunError.compare_exchange_strong(none, error);
    m_bFailed = true;
}

void CUpdateEngine::PruneStaging(bool due)
{
    // A journal that start-up could not finish still needs every staged file it names.
    if (!m_staging.Area().Exists() || ReadJournal(m_staging.Area()).state != ReleaseJournal::State::torn)
        return;
    std::set<std::string> needed;
    std::string relative;
    for (const UpdateFileEntry& file : due ? m_files : std::vector<UpdateFileEntry>()) {
        const EntryRoad road = TakeEntry(file, m_strModuleDir);
        if (road.target.empty() || !m_staging.Area().RelativeTarget(road.target, relative))
            continue;
        needed.insert(CReleaseArea::StagedNameFor(relative));
        // A patch or a package's range that a cut run was fetching is resumed too.
        if (!file.Patches.empty())
            needed.insert(CReleaseArea::StagedNameFor(relative + kPatchStageSuffix));
        if (!file.Deltas.empty())
            needed.insert(CReleaseArea::StagedNameFor(relative + kRangeStageSuffix));
    }
    m_staging.Area().PruneStaged(needed);
}

void CUpdateEngine::TellCurrentFile(const std::string& fileName)
{
    if (m_pListener)
        m_pListener->OnCurrentFile(fileName);
}

void CUpdateEngine::TellProgress() noexcept
{
    if (m_pListener)
        m_pListener->OnProgress();
}

void CUpdateEngine::EndRun(const RunOutcome& outcome)
{
    if (m_pListener)
        m_pListener->OnRunEnded(outcome);  // lets the run go when it has shown the end
    else
        ReleaseRun();
}

void CUpdateEngine::RunGuarded(void* param, void (*work)(CUpdateEngine&)) noexcept
{
    CUpdateEngine& engine = *static_cast<CUpdateEngine*>(param);
    DWORD error = ERROR_GEN_FAILURE;
    try {
        work(engine);
        return;
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::exception&) {
        error = ERROR_GEN_FAILURE;
    }
    engine.ReportFileFailure(error);
}

void CUpdateEngine::ReportFileFailure(DWORD error)
{
    // The run stops at the entry being processed: the rest is never looked at, and what was
    // staged waits, closed, for the next start.
    m_staging.Abandon();
    m_log.WriteLog((m_curFile.entry.FileName + kFileFailedInfix + ErrorNumber(error)).c_str());
    EndRun({RunOutcome::End::fileFailed, error, m_curFile.entry.FileName});
}

void CUpdateEngine::StartRun()
{
    g_engineInRun = this;
    const auto firstWorker = [](void* param) -> unsigned {
        RunGuarded(param, [](CUpdateEngine& engine) { engine.ProcessNextFile(); });
        return 0;
    };
    if (const DWORD error = m_startWorker(firstWorker, this)) {
        m_curFile = TakeEntry(m_files.back(), m_strModuleDir, m_mirrors);  // the entry it would have taken first
        ReportFileFailure(error);
    }
}

void CUpdateEngine::ProcessNextFile()
{
    while (!m_files.empty()) {
        m_curFile = TakeEntry(m_files.back(), m_strModuleDir, m_mirrors);
        m_files.pop_back();
        --m_nFilesLeft;
        TellCurrentFile(m_curFile.entry.FileName);
        if (IsFileOutdated(m_curFile)) {
            if (const DWORD error = m_startWorker(UpdateFileThreadProc, this))
                ReportFileFailure(error);
            return;  // the worker owns the run now: nothing here may touch the engine any more
        }
        if (!m_curFile.target.empty())
            m_leftovers.RemoveBeside(m_curFile.target);  // a temporary file an interrupted run left
        m_log.WriteLog((m_curFile.entry.FileName + kUpToDateSuffix).c_str());
    }
    CompleteRun();
}

unsigned CUpdateEngine::UpdateFileThreadProc(void* param)
{
    RunGuarded(param, [](CUpdateEngine& engine) {
        if (const DWORD error = engine.FetchEntry(engine.m_curFile)) {
            engine.ReportFileFailure(error);
            return;
        }
        engine.m_log.WriteLog((engine.m_curFile.entry.FileName + kDownloadedSuffix).c_str());
        engine.ProcessNextFile();
    });
    return 0;
}

void CUpdateEngine::CompleteRun()
{
    m_log.WriteLog((kVersionPrefix + std::to_string(m_nServerVer) + kCompletedSuffix).c_str());
    if (!m_bFailed) {
        // The version is part of the commit: one that is not recorded is a failed release.
        const DWORD error = m_staging.CommitAll(static_cast<unsigned>(m_nServerVer));
        if (error == ERROR_SUCCESS) {
            EndRun({RunOutcome::End::updated, ERROR_SUCCESS, {}});
            return;
        }
        MarkRunFailed(error);
    }
    m_staging.Abandon();  // kept, closed, for the next start
    const DWORD error = m_dwRunError.load();
    m_log.WriteLog((kRunFailedPrefix + ErrorNumber(error)).c_str());
    EndRun({RunOutcome::End::runFailed, error, {}});
}
