#include "app/KvoLauncherDlg.h"

// Placeholder until the update run lands: the run ends at once.
void CKvoLauncherDlg::OnTimer(UINT_PTR) {}
void CKvoLauncherDlg::ProcessNextFile() {}
unsigned CKvoLauncherDlg::UpdateFileThreadProc(void*) { return 0; }
void CKvoLauncherDlg::CompleteRun() {}
