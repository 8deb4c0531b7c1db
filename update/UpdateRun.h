// How the run starts its workers.
#pragma once
#include <windows.h>

#include "framework/Thread.h"

/// Starts a worker of the run: ERROR_SUCCESS, or why it could not start.
using WorkerStarter = DWORD (*)(kvo::WorkerProc proc, void* param) noexcept;
