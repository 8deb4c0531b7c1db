#include "update/ReleaseWatch.h"

#include <cstdio>

#include "update/ReleaseCommit.h"
#include "update/Settings.h"

namespace {

const char kRolledBackPrefix[] = "更新未完成  已恢复版本 ";
const char kRolledForwardPrefix[] = "更新未完成  已完成版本 ";
const char kRecoveryFailedPrefix[] = "更新恢复失败 ";
const char kUndoneFormat[] = "大厅无法启动  版本%u 已撤回到版本%u  代码 0x%08lX";
const char kUndoFailedPrefix[] = "版本撤回失败 ";
const char kSkippedFormat[] = "版本%u 已撤回  不再安装";
constexpr std::size_t kLineSize = 160;

/// Statuses from this one up are exceptions (access violations, stack overflows, ...).
constexpr DWORD kFirstExceptionStatus = 0xC0000000;

std::string Number(DWORD value)
{
    return std::to_string(static_cast<int>(value));
}

/// How the lobby ended within the watch: false when it is still running (or cannot be asked).
bool EndedWithin(HANDLE lobby, DWORD watchMs, DWORD& exitCode)
{
    return ::WaitForSingleObject(lobby, watchMs) == WAIT_OBJECT_0 && ::GetExitCodeProcess(lobby, &exitCode);
}

}  // namespace

bool FinishEarlierRelease(const std::string& moduleDir, CLog& log)
{
    const Recovery recovery = RecoverRelease(CReleaseArea(moduleDir));
    switch (recovery.done) {
    case Recovery::Done::rolledForward:
        log.WriteLog((kRolledForwardPrefix + std::to_string(recovery.toVersion)).c_str());
        return true;
    case Recovery::Done::rolledBack:
    case Recovery::Done::undone:
        log.WriteLog((kRolledBackPrefix + std::to_string(recovery.fromVersion)).c_str());
        return false;
    case Recovery::Done::failed:
        log.WriteLog((kRecoveryFailedPrefix + Number(recovery.error)).c_str());
        return false;
    case Recovery::Done::nothing:
    case Recovery::Done::confirmed:
        return false;
    }
    return false;
}

LobbyWatchEnd StartWatchedLobby(const std::string& moduleDir, CLog& log, const LobbyStarter& start, DWORD watchMs)
{
    const CReleaseArea area(moduleDir);
    ReleaseJournal journal = ReadJournal(area);
    kvo::unique_handle lobby = start();
    if (journal.state != ReleaseJournal::State::complete)
        return LobbyWatchEnd::unwatched;
    DWORD code = lobby ? STILL_ACTIVE : ::GetLastError();
    if (lobby && (!EndedWithin(lobby.get(), watchMs, code) || code < kFirstExceptionStatus)) {
        ConfirmRelease(area);
        return LobbyWatchEnd::confirmed;
    }
    lobby.reset();
    const DWORD error = UndoRelease(area, journal);
    if (error != ERROR_SUCCESS) {
        log.WriteLog((kUndoFailedPrefix + Number(error)).c_str());
        return LobbyWatchEnd::undoFailed;
    }
    char line[kLineSize];
    std::snprintf(line, sizeof line, kUndoneFormat, journal.toVersion, journal.fromVersion,
                  static_cast<unsigned long>(code));
    log.WriteLog(line);
    start();  // the release that worked before
    return LobbyWatchEnd::undone;
}

bool IsUndoneRelease(const std::string& moduleDir, int serverVersion, CLog& log)
{
    const unsigned undone = ReadUndoneVersion(moduleDir);
    // Compared as the versions always are, unsigned; a higher release is taken again.
    if (undone == 0 || static_cast<unsigned>(serverVersion) > undone)
        return false;
    char line[kLineSize];
    std::snprintf(line, sizeof line, kSkippedFormat, static_cast<unsigned>(serverVersion));
    log.WriteLog(line);
    return true;
}
