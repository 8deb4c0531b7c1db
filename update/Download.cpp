// A manifest entry downloaded into place, with a few more tries when the network lets it down:
// each attempt (update/DownloadAttempt) either puts the file in place or leaves the old one as it
// was; between attempts the run waits a little longer each time.

#include <algorithm>
#include <cstdio>
#include <string>

#include "framework/Internet.h"
#include "update/DownloadAttempt.h"
#include "update/UpdateEngine.h"

namespace {

const char kRetryInfix[] = " 下载失败 ";
const char kRetryWaitFormat[] = "，%u秒后重试";
const char kHostInfix[] = "  ";
const char kNextAddressSuffix[] = "，换用下一地址";
constexpr std::size_t kRetryTextSize = 64;


/// Waits before retry number `retry` (0-based): the window goes on painting meanwhile, its status
/// text saying that the download is being retried.
void WaitBeforeRetry(CUpdateEngine& engine, unsigned retry)
{
    engine.m_bRetrying = true;
    ::Sleep(kRetryDelaysSeconds[retry] * engine.m_policy.secondMs);
    engine.m_bRetrying = false;
}

/// What follows a failed attempt.
enum class AfterFailure { nextAddress, wait, nothing };

/// The download failed for good: the number the run logs. A body that was only a shortcut to the
/// entry's file (a patch, a part) fails alone: the whole file is fetched next.
DWORD GiveUp(CUpdateEngine& engine, DWORD error, const IReceivedBody* taker)
{
    if (!taker)
        engine.m_bFailed = true;
    return error;
}

/// "<file> 下载失败 <n>", with the address's host when the entry has more than one address, and
/// what follows. A file of one address logs only the attempts a wait follows, as it always has.
void LogFailedAttempt(CUpdateEngine& engine, const EntryRoad& road, const std::string& address, DWORD error,
                      AfterFailure next, unsigned round)
{
    const bool mirrored = road.addresses.size() > 1;
    if (!mirrored && next != AfterFailure::wait)
        return;
    std::string line = road.entry.FileName + kRetryInfix + std::to_string(static_cast<int>(error));
    kvo::ParsedUrl parts;
    if (mirrored && kvo::ParseURL(address, parts))
        line += kHostInfix + parts.server + ":" + std::to_string(parts.port);
    if (next == AfterFailure::wait) {
        char wait[kRetryTextSize];
        std::snprintf(wait, sizeof wait, kRetryWaitFormat, kRetryDelaysSeconds[round]);
        line += wait;
    } else if (next == AfterFailure::nextAddress) {
        line += kNextAddressSuffix;
    }
    engine.m_log.WriteLog(line.c_str());
}

}  // namespace

DWORD CUpdateEngine::DownloadFile(UpdateFileEntry entry)
{
    return DownloadFile(TakeEntry(entry, m_strModuleDir, m_mirrors));
}

DWORD CUpdateEngine::DownloadFile(const EntryRoad& road, IReceivedBody* taker)
{
    // Each round tries every address that may still serve the file; the wait comes only after a
    // whole round failed. An address that will not serve it (404, a wrong length or body) leaves
    // the list; resumed bytes carry over from one address to the next (the hash decides at the end).
    const std::vector<std::string>& addresses = road.addresses;
    std::vector<bool> usable(addresses.size(), true);
    const auto anyUsable = [&](std::size_t from) { return std::find(usable.begin() + from, usable.end(), true) != usable.end(); };
    TransferState state;
    const unsigned retries = std::min(m_policy.retries, kDownloadRetries);
    for (unsigned round = 0;; ++round) {
        AttemptResult attempt;
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            if (!usable[i])
                continue;
            attempt = DownloadAttempt(*this, road, addresses[i], state, taker);
            if (attempt.outcome == AttemptOutcome::done)
                return ERROR_SUCCESS;
            if (attempt.outcome == AttemptOutcome::fail)
                return GiveUp(*this, attempt.error, taker);
            usable[i] = attempt.outcome != AttemptOutcome::tryElsewhere;
            state.resume = attempt.outcome == AttemptOutcome::retry;
            const AfterFailure next = anyUsable(i + 1)                          ? AfterFailure::nextAddress
                                      : round < retries && anyUsable(0) ? AfterFailure::wait
                                                                                 : AfterFailure::nothing;
            LogFailedAttempt(*this, road, addresses[i], attempt.error, next, round);
        }
        if (!anyUsable(0) || round >= retries)
            return GiveUp(*this, attempt.error, taker);
        WaitBeforeRetry(*this, round);
    }
}
