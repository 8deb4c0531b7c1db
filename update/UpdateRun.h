// The run's seam for starting workers.
#pragma once
#include "framework/Thread.h"

/// How the run starts its download workers (kvo::BeginWorkerThread unless a test replaced it).
using WorkerStarter = bool (*)(kvo::WorkerProc proc, void* param) noexcept;
/// Installs `starter` (null restores kvo::BeginWorkerThread). For tests.
void SetWorkerStarterForTesting(WorkerStarter starter) noexcept;
