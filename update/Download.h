// The retry decision of a download: how often an attempt that failed for a reason that may pass
// is tried again, and how long the run waits before each new try.
#pragma once
#include <windows.h>

/// How many more times a download that failed for a reason that may pass is tried, and the
/// waits before each of those tries.
constexpr unsigned kDownloadRetries = 3;
constexpr unsigned kRetryDelaysSeconds[kDownloadRetries] = {1, 2, 4};

/// Limits later downloads to `retries` retries (at most kDownloadRetries) and makes each second
/// of their waits `secondMs` long (0: a real second). For tests.
void SetDownloadRetriesForTesting(unsigned retries, DWORD secondMs) noexcept;
