// Starting detached worker threads.
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

}  // namespace kvo
