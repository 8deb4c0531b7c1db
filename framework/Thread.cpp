#include "framework/Thread.h"

#include <memory>
#include <new>
#include <stdlib.h>
#include <process.h>

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

}  // namespace

DWORD StartWorkerThread(WorkerProc proc, void* param) noexcept
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
    unique_handle thread(reinterpret_cast<HANDLE>(raw));
    return ERROR_SUCCESS;
}

}  // namespace kvo
