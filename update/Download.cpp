// A manifest entry downloaded into place, with a few more tries when the network lets it down:
// each attempt (update/DownloadAttempt) either puts the file in place or leaves the old one as it
// was; between attempts the run waits a little longer each time.
#include "update/Download.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "app/KvoLauncherDlg.h"
#include "update/DownloadAttempt.h"

namespace {

constexpr DWORD kMillisecondsPerSecond = 1000;

const char kRetryInfix[] = " 下载失败 ";
const char kRetryWaitFormat[] = "，%u秒后重试";
constexpr std::size_t kRetryTextSize = 64;

std::atomic<DWORD> g_retryUnitMs{kMillisecondsPerSecond};
std::atomic<unsigned> g_retries{kDownloadRetries};

/// Waits before retry number `retry` (0-based): the window goes on painting meanwhile, its status
/// text saying that the download is being retried.
void WaitBeforeRetry(CKvoLauncherDlg& dialog, unsigned retry)
{
    dialog.m_bRetrying = true;
    ::Sleep(kRetryDelaysSeconds[retry] * g_retryUnitMs.load());
    dialog.m_bRetrying = false;
}

}  // namespace

void SetDownloadRetriesForTesting(unsigned retries, DWORD secondMs) noexcept
{
    g_retries = retries <= kDownloadRetries ? retries : kDownloadRetries;
    g_retryUnitMs = secondMs ? secondMs : kMillisecondsPerSecond;
}

bool CKvoLauncherDlg::DownloadFile(UpdateFileEntry entry)
{
    return DownloadFile(TakeEntry(entry, m_strModuleDir));
}

bool CKvoLauncherDlg::DownloadFile(const EntryRoad& road)
{
    TransferState state;
    for (unsigned retry = 0;; ++retry) {
        const AttemptResult attempt = DownloadAttempt(*this, road, state);
        if (attempt.outcome == AttemptOutcome::done)
            return true;
        if (attempt.outcome == AttemptOutcome::fail || retry >= g_retries.load()) {
            m_bFailed = true;
            // The run logs this number; the handles closed on the way out must not have replaced it.
            ::SetLastError(attempt.error);
            return false;
        }
        char wait[kRetryTextSize];
        std::snprintf(wait, sizeof wait, kRetryWaitFormat, kRetryDelaysSeconds[retry]);
        m_log.WriteLog((road.entry.FileName + kRetryInfix + std::to_string(static_cast<int>(attempt.error)) + wait).c_str());
        state.resume = attempt.outcome == AttemptOutcome::retry;
        WaitBeforeRetry(*this, retry);
    }
}
