// The last release known to be good: a commit cut short is finished at the next start, and the
// lobby of a release just committed is watched for a while; when it cannot start, or ends with
// an exception, the previous release is put back and remembered as the one to keep.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "framework/Handles.h"
#include "support/Log.h"

/// Finishes what an earlier commit left in the installation at `moduleDir` and logs it. True when
/// the release now installed has never had its lobby watched (a cut commit rolled forward).
bool FinishEarlierRelease(const std::string& moduleDir, CLog& log);

/// Starts the lobby: its process, empty when it could not be started (the last error says why).
using LobbyStarter = std::function<kvo::unique_handle()>;

enum class LobbyWatchEnd {
    unwatched,   ///< no release waited for its lobby: started, not watched
    confirmed,   ///< the lobby ran on, or ended as programs end: the backup is gone
    undone,      ///< the previous release is back, and its lobby started
    undoFailed,  ///< the release could not be undone now; the next start finishes it
};

/// Starts the lobby through `start`. When the installation's release is committed and not yet
/// confirmed, watches it for at most `watchMs`: a lobby that cannot be started, or that ends
/// within that time with a status of 0xC0000000 or above, has the release undone (one log line
/// with both versions and the code), then the restored lobby is started.
LobbyWatchEnd StartWatchedLobby(const std::string& moduleDir, CLog& log, const LobbyStarter& start, DWORD watchMs);

/// Whether the manifest's release `serverVersion` is one this installation undone (or older than
/// one): such a release is not taken again; logged.
bool IsUndoneRelease(const std::string& moduleDir, int serverVersion, CLog& log);
