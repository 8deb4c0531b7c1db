// The update manifest: fetch it, read it, fill the dialog's update state.
#pragma once
#include <string>

class CKvoLauncherDlg;

/// Fetches and reads the manifest at `url` into the dialog's update state. True when a manifest
/// with a Product was read.
bool ParseManifest(CKvoLauncherDlg& dialog, std::string url);
