// The update manifest: fetch it, read it, fill the dialog's update state.
#pragma once
#include <string>

class CKvoLauncherDlg;

/// Fetches and reads the manifest at `url` into the dialog's update state. True when a manifest
/// with a Product was read.
bool ParseManifest(CKvoLauncherDlg& dialog, std::string url);

/// Reads a manifest already fetched (narrow text in the ANSI code page) into the dialog's update
/// state: m_nServerVer from the first Product's Ver, the Product//File entries appended to m_files
/// and both counters set. False, with the state untouched, when the text is not a well-formed
/// document with a Product child of its root or the XML component fails.
bool ReadManifestText(CKvoLauncherDlg& dialog, const std::string& text);

/// A decimal number as atoi reads it: white space, an optional sign, digits; 0 without digits.
/// Values beyond 32 bits are clamped.
int ManifestNumber(const std::string& text);
/// A manifest flag: true unless the text is exactly "NO".
bool ManifestFlag(const std::string& text);
