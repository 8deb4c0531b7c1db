#include "app/KvoLauncherDlg.h"

// Placeholder until the download lands.
bool CKvoLauncherDlg::DownloadFile(UpdateFileEntry) { return false; }
