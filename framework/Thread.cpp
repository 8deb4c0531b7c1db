#include "framework/Thread.h"

#include <memory>
#include <new>
#include <stdlib.h>
#include <process.h>
#include <vector>

#include "framework/Handles.h"
#include "framework/StackAlignment.h"

namespace kvo {

namespace {

struct WorkerStart {
    WorkerProc proc;
    void* param;
};

KVO_REALIGNS_STACK unsigned __stdcall WorkerEntry(void* raw)
{
    const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(raw));
    return start->proc(start->param);
}

/// Starts a worker; ERROR_SUCCESS with `thread` holding its handle, or why it could not start.
DWORD StartWorker(WorkerProc proc, void* param, unique_handle& thread) noexcept
{
    std::unique_ptr<WorkerStart> start(new (std::nothrow) WorkerStart{proc, param});
    if (!start)
        return ERROR_NOT_ENOUGH_MEMORY;
    const uintptr_t raw = ::_beginthreadex(nullptr, 0, WorkerEntry, start.get(), 0, nullptr);
    if (raw == 0) {
        // The runtime keeps the system's own reason beside errno.
        const DWORD reason = static_cast<DWORD>(_doserrno);
        return reason != ERROR_SUCCESS ? reason : ERROR_NOT_ENOUGH_MEMORY;
    }
    start.release();  // the thread owns it now
    thread.reset(reinterpret_cast<HANDLE>(raw));
    return ERROR_SUCCESS;
}

}  // namespace

DWORD StartWorkerThread(WorkerProc proc, void* param) noexcept
{
    unique_handle thread;
    return StartWorker(proc, param, thread);
}

void RunOnWorkers(unsigned count, WorkerProc proc, void* param) noexcept
{
    std::vector<unique_handle> threads;
    try {
        threads.reserve(count);
    } catch (const std::bad_alloc&) {
        count = 0;
    }
    for (unsigned i = 0; i < count; ++i) {
        unique_handle thread;
        if (StartWorker(proc, param, thread) != ERROR_SUCCESS)
            break;
        threads.push_back(std::move(thread));
    }
    if (threads.empty()) {
        proc(param);
        return;
    }
    for (const unique_handle& thread : threads)
        ::WaitForSingleObject(thread.get(), INFINITE);
}

}  // namespace kvo
