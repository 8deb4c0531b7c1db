// The run's seam for starting workers.
#pragma once
#include "framework/Thread.h"

/// How the run starts its workers (kvo::StartWorkerThread unless a test replaced it): ERROR_SUCCESS,
/// or why the worker could not start.
using WorkerStarter = DWORD (*)(kvo::WorkerProc proc, void* param) noexcept;
/// Installs `starter` (null restores kvo::StartWorkerThread). For tests.
void SetWorkerStarterForTesting(WorkerStarter starter) noexcept;
