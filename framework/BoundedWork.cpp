#include "framework/BoundedWork.h"

#include <new>

#include "framework/Thread.h"

namespace kvo {

CBoundedWork::CBoundedWork() : m_hDone(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

unsigned BoundedWorker(void* param)
{
    const std::unique_ptr<std::shared_ptr<CBoundedWork>> work(static_cast<std::shared_ptr<CBoundedWork>*>(param));
    (*work)->Run();
    ::SetEvent((*work)->m_hDone.get());
    return 0;
}

bool RunBounded(const std::shared_ptr<CBoundedWork>& work, DWORD limitMs)
{
    std::unique_ptr<std::shared_ptr<CBoundedWork>> handover(new (std::nothrow) std::shared_ptr<CBoundedWork>(work));
    if (!handover || !work->m_hDone || !BeginWorkerThread(BoundedWorker, handover.get())) {
        work->Run();
        return true;
    }
    handover.release();  // the worker owns its reference now
    return ::WaitForSingleObject(work->m_hDone.get(), limitMs) == WAIT_OBJECT_0;
}

}  // namespace kvo
