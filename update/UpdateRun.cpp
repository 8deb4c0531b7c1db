// The update run: entries taken from the end of the list on workers only (the first tick hands the
// run to one, so the window answers however many entries are current), each out-of-date one
// downloaded by a worker of its own (one at a time, each starting the next), and the end that
// records the version and starts the lobby or reports the failure. Every way the run ends posts
// the close request, including an exception that escapes a worker's work.
#include "update/UpdateRun.h"

#include <atomic>
#include <exception>
#include <new>
#include <string>

#include "app/BuildHosts.h"
#include "app/Desktop.h"
#include "app/KvoLauncherApp.h"
#include "app/KvoLauncherDlg.h"
#include "app/Settings.h"
#include "update/FileCheck.h"
#include "update/SelfUpdate.h"

namespace {

const char kUpToDateSuffix[] = " 当前已是最新";
const char kDownloadedSuffix[] = "  下载成功";
const char kFileFailedInfix[] = " 更新失败 ";
const char kFileFailedText[] = "文件更新失败，请从官网下载更新!";
const char kVersionPrefix[] = "版本";
const char kCompletedSuffix[] = "  更新完成";
const char kRunFailedPrefix[] = "更新失败 ";
const char kRunFailedText[] = "更新失败，请从官网下载更新";
const char kRunFailedCaption[] = "Kvo更新程序!";

/// The dialog whose run is under way, from the first tick until its close request is posted.
/// There is one dialog per process; a pointer keeps a test's next dialog apart from the last.
std::atomic<const CKvoLauncherDlg*> g_dialogInRun{nullptr};
std::atomic<WorkerStarter> g_startWorker{&kvo::BeginWorkerThread};

std::string ErrorNumber(DWORD error)
{
    return std::to_string(static_cast<int>(error));
}

/// The last touch of the run: after this the dialog may be gone at any moment.
void PostClose(CKvoLauncherDlg& dialog)
{
    const HWND hwnd = dialog.GetSafeHwnd();
    const CKvoLauncherDlg* expected = &dialog;
    g_dialogInRun.compare_exchange_strong(expected, nullptr);
    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
}

void OfferWebSite(HWND owner, const char* text, const char* caption)
{
    // A browser that could only be started with the launcher's administrator rights is not
    // started: the address is shown for the player to open.
    if (Desktop().ShowMessageBox(owner, text, caption, MB_OKCANCEL) == IDOK && !Desktop().OpenWebSite(kOfficialSiteUrl))
        Desktop().ShowMessageBox(owner, kOfficialSiteUrl, caption, MB_OK | MB_ICONINFORMATION);
}

/// The run stops at the entry being processed: the rest is never looked at.
void ReportFileFailure(CKvoLauncherDlg& dialog, DWORD error)
{
    dialog.m_log.WriteLog((dialog.m_curFile.entry.FileName + kFileFailedInfix + ErrorNumber(error)).c_str());
    OfferWebSite(nullptr, kFileFailedText, kLauncherCaption);
    PostClose(dialog);
}

/// Runs one worker's part of the run; whatever escapes it ends the run on the per-file failure
/// path (a box and the close) rather than the process with std::terminate.
void RunGuarded(CKvoLauncherDlg& dialog, void (*work)(CKvoLauncherDlg&)) noexcept
{
    DWORD error = ERROR_GEN_FAILURE;
    try {
        work(dialog);
        return;
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::exception&) {
        error = ERROR_GEN_FAILURE;
    }
    try {
        ReportFileFailure(dialog, error);
    } catch (const std::exception&) {
        PostClose(dialog);  // not even the box could be had: at least the program ends
    }
}

/// The first worker of the run: every entry is taken on workers, never on the window's thread.
unsigned RunThreadProc(void* param)
{
    RunGuarded(*static_cast<CKvoLauncherDlg*>(param), [](CKvoLauncherDlg& dialog) { dialog.ProcessNextFile(); });
    return 0;
}

}  // namespace

void EndProcessIfRunHolds(const CKvoLauncherDlg& dialog) noexcept
{
    if (g_dialogInRun.load() == &dialog) {
        WaitForProgramSwap();  // a launcher half renamed would leave no program to start
        ::TerminateProcess(::GetCurrentProcess(), 0);
    }
}

void SetWorkerStarterForTesting(WorkerStarter starter) noexcept
{
    g_startWorker = starter ? starter : &kvo::BeginWorkerThread;
}

void CKvoLauncherDlg::OnTimer(UINT_PTR timerId)
{
    switch (timerId) {
    case IDT_START_UPDATE:
        ::KillTimer(m_hWnd, IDT_START_UPDATE);
        if (!m_files.empty()) {
            g_dialogInRun = this;
            if (!g_startWorker.load()(RunThreadProc, this)) {
                const DWORD error = ::GetLastError();
                m_curFile = TakeEntry(m_files.back(), m_strModuleDir, m_mirrors);  // the run stops at the entry it would have taken first
                ReportFileFailure(*this, error);
            }
        } else {
            StartLobby(m_strModuleDir);
            PostMessage(WM_CLOSE);
        }
        Invalidate(true);
        break;
    case IDT_REPAINT:
        Invalidate(true);
        break;
    default:
        break;
    }
}

void CKvoLauncherDlg::ProcessNextFile()
{
    while (!m_files.empty()) {
        m_curFile = TakeEntry(m_files.back(), m_strModuleDir, m_mirrors);
        m_files.pop_back();
        --m_nFilesLeft;
        TellCurrentFile(m_curFile.entry.FileName);
        if (IsFileOutdated(m_curFile)) {
            if (!g_startWorker.load()(UpdateFileThreadProc, this))
                ReportFileFailure(*this, ::GetLastError());
            return;  // the worker owns the run now: nothing here may touch the dialog any more
        }
        if (!m_curFile.target.empty())
            m_leftovers.RemoveBeside(m_curFile.target);  // a temporary file an interrupted run left
        m_log.WriteLog((m_curFile.entry.FileName + kUpToDateSuffix).c_str());
    }
    CompleteRun();
}

unsigned CKvoLauncherDlg::UpdateFileThreadProc(void* param)
{
    RunGuarded(*static_cast<CKvoLauncherDlg*>(param), [](CKvoLauncherDlg& dialog) {
        if (dialog.DownloadFile(dialog.m_curFile)) {
            dialog.m_log.WriteLog((dialog.m_curFile.entry.FileName + kDownloadedSuffix).c_str());
            dialog.ProcessNextFile();
        } else {
            ReportFileFailure(dialog, ::GetLastError());
        }
    });
    return 0;
}

void CKvoLauncherDlg::CompleteRun()
{
    const DWORD lastError = ::GetLastError();
    ::KillTimer(m_hWnd, IDT_START_UPDATE);
    m_log.WriteLog((kVersionPrefix + std::to_string(m_nServerVer) + kCompletedSuffix).c_str());
    if (!m_bFailed) {
        WriteInstalledVersion(m_strModuleDir, m_nServerVer);
        StartLobby(m_strModuleDir);
    } else {
        m_log.WriteLog((kRunFailedPrefix + ErrorNumber(lastError)).c_str());
        OfferWebSite(m_hWnd, kRunFailedText, kRunFailedCaption);
    }
    PostClose(*this);
}
