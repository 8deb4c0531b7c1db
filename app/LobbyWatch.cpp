#include "app/LobbyWatch.h"

#include <ctime>
#include <memory>
#include <new>

#include "app/KvoLauncherApp.h"
#include "framework/Handles.h"
#include "framework/Thread.h"
#include "support/Log.h"
#include "update/ReleaseWatch.h"

namespace {

/// Signalled when the watch has ended; empty while none was begun.
kvo::unique_handle g_watchEnded;

struct WatchJob {
    std::string moduleDir;
    DWORD watchMs;
};

void Watch(const WatchJob& job) noexcept
{
    try {
        CLog log;
        log.Open(MakeDatedLogPath(job.moduleDir, _time64(nullptr)).c_str());
        StartWatchedLobby(job.moduleDir, log, [&job] { return StartLobby(job.moduleDir); }, job.watchMs);
    } catch (const std::exception&) {
        // Not even the lobby's start could be had: the next start confirms or finishes the release.
    }
}

unsigned WatchWorker(void* param)
{
    const std::unique_ptr<WatchJob> job(static_cast<WatchJob*>(param));
    Watch(*job);
    ::SetEvent(g_watchEnded.get());
    return 0;
}

}  // namespace

void BeginLobbyWatch(const std::string& moduleDir, DWORD watchMs)
{
    auto job = std::make_unique<WatchJob>(WatchJob{moduleDir, watchMs});
    g_watchEnded.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (g_watchEnded && kvo::StartWorkerThread(WatchWorker, job.get()) == ERROR_SUCCESS) {
        job.release();  // the worker owns it now
        return;
    }
    Watch(*job);
    g_watchEnded.reset();
}

void WaitForLobbyWatch() noexcept
{
    if (g_watchEnded)
        ::WaitForSingleObject(g_watchEnded.get(), INFINITE);
}
