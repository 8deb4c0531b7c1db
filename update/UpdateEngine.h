// The update engine: the state of one installation's update and the run over the manifest's
// entries. It knows no window and shows nothing: it tells a listener what it works on, and the run
// ends with an outcome that the application turns into what the user sees.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "support/Log.h"
#include "update/EntryRoad.h"
#include "update/Leftovers.h"
#include "update/ReleaseStaging.h"
#include "update/UpdateFileEntry.h"
#include "update/UpdatePolicy.h"
#include "update/UpdateRun.h"

/// How a run ended.
struct RunOutcome {
    enum class End {
        updated,     ///< every entry handled, the release committed with its version
        fileFailed,  ///< the run stopped at `fileName`, which could not be downloaded; nothing replaced
        runFailed,   ///< every entry was taken, but something failed on the way (a package) or the
                     ///< commit failed; the installation keeps its previous release
    };
    End end = End::updated;
    DWORD error = ERROR_SUCCESS;  ///< the number logged with a failure
    std::string fileName;         ///< the entry the run stopped at
};

/// What the engine tells the application. Every call may come from any thread, and none may wait
/// for the thread that runs the window.
class IUpdateListener {
public:
    virtual ~IUpdateListener() = default;
    /// The file the run works on now.
    virtual void OnCurrentFile(const std::string& fileName) = 0;
    /// The counters moved.
    virtual void OnProgress() noexcept = 0;
    /// The run has ended, on the worker that ended it; the run still holds the engine. The
    /// listener shows what the user must see, then calls ReleaseRun, after which nothing may
    /// touch the engine any more. It must not throw.
    virtual void OnRunEnded(const RunOutcome& outcome) noexcept = 0;
};

class IReceivedBody;

class CUpdateEngine {
public:
    /// The engine of the installation at `moduleDir` (the program's directory, ending in a
    /// backslash): its log lives there, and every file of the run. It waits for the network as
    /// `policy` says, and stages every file until the run's end commits the release.
    explicit CUpdateEngine(std::string moduleDir, const UpdatePolicy& policy = UpdatePolicy::Shipped());
    /// While the run still holds the engine (a worker downloading, the end of the run being shown),
    /// nothing may touch it after this point: the process ends here at once instead, after a
    /// commit under way has ended. An interrupted download leaves only its staged file, so the
    /// installation keeps its old files.
    ~CUpdateEngine();
    CUpdateEngine(const CUpdateEngine&) = delete;
    CUpdateEngine& operator=(const CUpdateEngine&) = delete;

    /// Who hears of the run; null for nobody.
    void SetListener(IUpdateListener* listener) noexcept { m_pListener = listener; }
    /// How the run starts its workers (kvo::StartWorkerThread unless a test says otherwise).
    void SetWorkerStarter(WorkerStarter starter) noexcept { m_startWorker = starter; }

    // --- the update state, shared by start-up, the manifest, the run and the download ---
    const std::string m_strModuleDir;       ///< the installation the run updates
    const UpdatePolicy m_policy;
    CReleaseStaging m_staging;              ///< the checked files of the run, until its end commits them
    CLog m_log;
    std::vector<UpdateFileEntry> m_files;   ///< not yet taken; taken from the end
    EntryRoad m_curFile;                    ///< the entry being processed, and what decides its road
    CLeftoverTemporaryFiles m_leftovers;    ///< temporary files of interrupted runs, found per directory
    // Written by one thread at a time and read unlocked by the painter: relaxed atomics.
    std::atomic<int> m_nFileCount{0};
    std::atomic<int> m_nFilesLeft{0};
    int m_nServerVer = 0;
    int m_nRollout = 100;                   ///< the manifest's Rollout: the share of installations it reaches
    std::vector<std::string> m_mirrors;     ///< the manifest's Mirror addresses, the base first
    std::atomic<std::uint32_t> m_nCurFileSize{0};
    std::atomic<std::uint32_t> m_nCurFileDone{0};
    std::atomic<bool> m_bFailed{false};
    std::atomic<bool> m_bRetrying{false};   ///< a download waits to be tried again

    // --- the run ---
    /// Starts the run over m_files on a worker: every entry is taken on workers, never on the
    /// caller's thread. When no worker can be started the run ends at once, at the entry it would
    /// have taken first.
    void StartRun();
    /// Takes the next entry from the end of m_files, or completes the run when none is left.
    void ProcessNextFile();
    /// Entry of every download worker; `param` is the engine.
    static unsigned UpdateFileThreadProc(void* param);
    /// Downloads one entry over its local file (and installs it when it is a package);
    /// ERROR_SUCCESS, or the number of the failure that ended it.
    DWORD DownloadFile(UpdateFileEntry entry);
    /// With `taker`, the checked body goes to it instead of the staging (a patch, a part).
    DWORD DownloadFile(const EntryRoad& road, IReceivedBody* taker = nullptr);
    /// Stages the entry by the cheapest road that works: a patch from the file the installation
    /// holds, the changed part of a package, else the whole file; ERROR_SUCCESS or why it failed.
    DWORD FetchEntry(const EntryRoad& road);
    /// Ends the run's hold on the engine: from here on the engine may go at any moment.
    void ReleaseRun() noexcept;
    /// Something failed that does not stop the run (a package): the run goes on and ends with
    /// `error`, nothing committed.
    void MarkRunFailed(DWORD error) noexcept;
    /// Keeps in the staging area only what the run over m_files may resume (nothing when `due`
    /// is false: no run will).
    void PruneStaging(bool due);

    // --- what the run tells the listener ---
    void TellCurrentFile(const std::string& fileName);
    void TellProgress() noexcept;

private:
    /// Runs one worker's part of the run on the engine `param`; whatever escapes it ends the run
    /// on the per-file failure path rather than the process with std::terminate.
    static void RunGuarded(void* param, void (*work)(CUpdateEngine&)) noexcept;
    /// The end of the run: commits the release with its version, or logs the failure.
    void CompleteRun();
    /// Logs the failure of the entry being processed and ends the run there.
    void ReportFileFailure(DWORD error);
    void EndRun(const RunOutcome& outcome);

    IUpdateListener* m_pListener = nullptr;
    WorkerStarter m_startWorker = &kvo::StartWorkerThread;
    std::atomic<DWORD> m_dwRunError{ERROR_SUCCESS};  ///< what MarkRunFailed was told first
};
