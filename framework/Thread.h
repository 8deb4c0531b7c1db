// Starting detached worker threads, and a few that are waited for.
#pragma once
#include <windows.h>

namespace kvo {

using WorkerProc = unsigned (*)(void* param);

/// Starts a worker at normal priority with the default stack; the thread owns itself and
/// its handle is closed at once. ERROR_SUCCESS, or the system's reason why it could not start.
DWORD StartWorkerThread(WorkerProc proc, void* param) noexcept;

/// StartWorkerThread, for callers that need only whether it started.
inline bool BeginWorkerThread(WorkerProc proc, void* param) noexcept
{
    return StartWorkerThread(proc, param) == ERROR_SUCCESS;
}

/// Runs `proc` on up to `count` workers at once and returns when every one has ended; each takes
/// its share of the work from `param` by itself. Without a worker to be had, `proc` runs once on
/// this thread.
void RunOnWorkers(unsigned count, WorkerProc proc, void* param) noexcept;

}  // namespace kvo
