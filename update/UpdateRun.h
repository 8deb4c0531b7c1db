// What the update run shares with the dialog's lifecycle, and its seam for starting workers.
#pragma once
#include "framework/Thread.h"

class CKvoLauncherDlg;

/// Called by the dialog as its object goes away. While the run still holds the object (a worker
/// downloading, a message box of the run open), nothing may touch it after this point: the
/// process ends here at once instead, after a swap of the launcher's own file under way has
/// finished. An interrupted download leaves only its temporary file, so the installation keeps
/// its old files.
void EndProcessIfRunHolds(const CKvoLauncherDlg& dialog) noexcept;

/// How the run starts its download workers (kvo::BeginWorkerThread unless a test replaced it).
using WorkerStarter = bool (*)(kvo::WorkerProc proc, void* param) noexcept;
/// Installs `starter` (null restores kvo::BeginWorkerThread). For tests.
void SetWorkerStarterForTesting(WorkerStarter starter) noexcept;
