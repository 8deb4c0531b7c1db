// A piece of work that a thread waits for only so long. WinINet's time-outs bound each wait for
// the next bytes, not a whole exchange, and a handle closed under a blocked call does not end it on
// every platform; so a blocking exchange that must end in time runs on a worker of its own, and a
// worker left behind after the deadline is abandoned with the work it shares.
#pragma once
#include <windows.h>

#include <memory>

#include "framework/Handles.h"

namespace kvo {

class CBoundedWork {
public:
    CBoundedWork();
    virtual ~CBoundedWork() = default;
    CBoundedWork(const CBoundedWork&) = delete;
    CBoundedWork& operator=(const CBoundedWork&) = delete;

    /// The work itself, on the worker; must not throw. Everything it produces stays in the object,
    /// which the waiting thread reads only after RunBounded returned true.
    virtual void Run() noexcept = 0;

private:
    friend bool RunBounded(const std::shared_ptr<CBoundedWork>& work, DWORD limitMs);
    friend unsigned BoundedWorker(void* param);
    unique_handle m_hDone;
};

/// Runs `work` on a worker and waits at most `limitMs`; true when it ended in time. Without a
/// worker to be had, runs it on this thread (bounded by what it does alone) and returns true.
/// Whichever of the two threads lets go of `work` last frees it.
bool RunBounded(const std::shared_ptr<CBoundedWork>& work, DWORD limitMs);

}  // namespace kvo
