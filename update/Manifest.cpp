#include "update/Manifest.h"

// Placeholder until the manifest reader lands: no manifest can be had.
bool ParseManifest(CKvoLauncherDlg&, std::string) { return false; }
