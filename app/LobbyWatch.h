// The lobby of a release just committed, watched after the progress window has gone: the process,
// and with it the instance guard, lives on until the watch has ended.
#pragma once
#include <windows.h>

#include <string>

/// Starts the lobby of the installation at `moduleDir` and watches it for at most `watchMs` on a
/// worker (StartWatchedLobby, logging to the installation's log of the day). Without a worker to
/// be had, the watch runs on the caller.
void BeginLobbyWatch(const std::string& moduleDir, DWORD watchMs);

/// Returns once a watch begun has ended (at once when none was begun).
void WaitForLobbyWatch() noexcept;
