// The few effects that reach the user's desktop, behind one seam so tests can stand in for them.
#pragma once
#include <windows.h>

#include <string>

#include "framework/Handles.h"

class IDesktop {
public:
    virtual ~IDesktop() = default;
    /// A message box; returns the button pressed (IDOK, IDCANCEL, ...).
    virtual int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;
    /// Starts `programPath` with exactly `commandLine` as its command line. The started process,
    /// for the caller to wait on or to let go; empty when it could not be started.
    virtual kvo::unique_handle StartProgram(const std::string& programPath, const std::string& commandLine) = 0;
    /// Opens the web site with the verb "OPEN", with the player's ordinary rights; false when it
    /// could not be opened so (the caller then shows the address).
    virtual bool OpenWebSite(const char* url) = 0;
};

/// The desktop in use: the real one unless a test installed another.
IDesktop& Desktop();
/// Installs `desktop` (null restores the real one). For tests.
void SetDesktopForTesting(IDesktop* desktop);
