// A manifest entry downloaded into place, with a few more tries when the network lets it down:
// each attempt (update/DownloadAttempt) either puts the file in place or leaves the old one as it
// was; between attempts the run waits a little longer each time.
#include "update/Download.h"

#include <atomic>
#include <cstdio>
#include <limits>

#include "app/KvoLauncherDlg.h"
#include "update/DownloadAttempt.h"

namespace {

constexpr std::uint64_t kPercent = 100;
constexpr std::size_t kMaxLengthDigits = 10;  // INT32_MAX has ten
constexpr unsigned kDecimalBase = 10;
constexpr std::size_t kProgressTextSize = 64;
constexpr DWORD kMillisecondsPerSecond = 1000;

const char kRetryInfix[] = " 下载失败 ";
const char kRetryWaitFormat[] = "，%u秒后重试";
constexpr std::size_t kRetryTextSize = 64;

std::atomic<DWORD> g_receiveTimeoutMs{kDownloadReceiveTimeoutMs};
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

void SetDownloadReceiveTimeoutForTesting(DWORD timeoutMs) noexcept
{
    g_receiveTimeoutMs = timeoutMs ? timeoutMs : kDownloadReceiveTimeoutMs;
}

DWORD DownloadReceiveTimeoutMs() noexcept
{
    return g_receiveTimeoutMs;
}

void SetDownloadRetriesForTesting(unsigned retries, DWORD secondMs) noexcept
{
    g_retries = retries <= kDownloadRetries ? retries : kDownloadRetries;
    g_retryUnitMs = secondMs ? secondMs : kMillisecondsPerSecond;
}

std::string DownloadProgressText(std::uint32_t received, std::uint32_t announced, int position, int count)
{
    const std::uint64_t percent = announced ? std::uint64_t{received} * kPercent / announced : kPercent;
    char text[kProgressTextSize];
    std::snprintf(text, sizeof text, "%d %%(%d/%d)", static_cast<int>(percent), position, count);
    return text;
}

bool ParseAnnouncedLength(const std::string& text, std::uint32_t& length)
{
    if (text.empty() || text.size() > kMaxLengthDigits)
        return false;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * kDecimalBase + static_cast<unsigned>(c - '0');
    }
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return false;
    length = static_cast<std::uint32_t>(value);
    return true;
}

bool CKvoLauncherDlg::DownloadFile(UpdateFileEntry entry)
{
    TransferState state;
    for (unsigned retry = 0;; ++retry) {
        const AttemptResult attempt = DownloadAttempt(*this, entry, state);
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
        m_log.WriteLog((entry.FileName + kRetryInfix + std::to_string(static_cast<int>(attempt.error)) + wait).c_str());
        state.resume = attempt.outcome == AttemptOutcome::retry;
        WaitBeforeRetry(*this, retry);
    }
}
