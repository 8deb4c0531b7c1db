// Starting detached worker threads.
#pragma once
#include <windows.h>

namespace kvo {

using WorkerProc = unsigned (*)(void* param);

/// Starts a worker at normal priority with the default stack; the thread owns itself and
/// its handle is closed at once. Returns false when the thread could not be started.
bool BeginWorkerThread(WorkerProc proc, void* param) noexcept;

}  // namespace kvo
