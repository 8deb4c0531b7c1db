// How patient the engine is with the network (retries and their waits, time-outs and the speed
// floor) and with a new release's lobby, as one value. The launcher runs with the shipped one, made from the build's
// configuration; tests pass faster ones.
#pragma once
#include <windows.h>

#include <cstdint>

/// How many more times a download that failed for a reason that may pass can be tried at most,
/// and the waits before each of those tries.
constexpr unsigned kDownloadRetries = 3;
constexpr unsigned kRetryDelaysSeconds[kDownloadRetries] = {1, 2, 4};

/// How long the lobby of a release just committed is watched: a lobby that fails to start, or
/// ends with an exception within this time, has its release undone.
constexpr DWORD kLobbyWatchMs = 30000;

struct UpdatePolicy {
    /// More tries of a download that failed for a reason that may pass (at most kDownloadRetries).
    unsigned retries = kDownloadRetries;
    /// How long one second of the waits between tries lasts.
    DWORD secondMs = 1000;
    /// How long a connection may take, and how often it is tried again at once.
    DWORD connectTimeoutMs = 2000;
    DWORD connectRetries = 1;
    /// How long a download waits for the server's next bytes (the headers, or the next block of the
    /// body) before it gives up: a server that accepts and then falls silent ends the attempt.
    DWORD receiveTimeoutMs = 30000;
    /// The floor under a body's speed: an attempt that receives fewer than speedFloorBytes in a
    /// window of speedWindowMs fails as timed out. The same window bounds the time from a request
    /// to the first byte of its body.
    DWORD speedWindowMs = 30000;
    std::uint32_t speedFloorBytes = 16 * 1024;
    /// How long start-up waits for one host's manifest before it moves on.
    DWORD manifestDeadlineMs = 15000;
    /// How long the lobby of a new release is watched (kLobbyWatchMs).
    DWORD lobbyWatchMs = kLobbyWatchMs;

    /// The policy of the launcher as it was built (its speed window comes from the build).
    static UpdatePolicy Shipped();
};
