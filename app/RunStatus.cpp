// The run tells, the window reads: workers write the current file name under a lock and the
// counters as atomics, and post one notification; the window's thread sets its labels from that
// state. No worker ever waits for the window, so a window that is busy (or closing) holds up no
// download, and a worker is never caught inside the window's message handling.
#include "app/RunStatus.h"

#include <cstdio>

#include "app/KvoLauncherDlg.h"

namespace {

constexpr std::uint64_t kPercent = 100;
constexpr std::size_t kProgressTextSize = 64;

}  // namespace

std::string DownloadProgressText(std::uint32_t received, std::uint32_t announced, int position, int count)
{
    const std::uint64_t percent = announced ? std::uint64_t{received} * kPercent / announced : kPercent;
    char text[kProgressTextSize];
    std::snprintf(text, sizeof text, "%d %%(%d/%d)", static_cast<int>(percent), position, count);
    return text;
}

void CKvoLauncherDlg::OnCurrentFile(const std::string& fileName)
{
    {
        kvo::CSingleLock lock(m_statusLock);
        m_strStatusFile = fileName;
    }
    OnProgress();
}

void CKvoLauncherDlg::OnProgress() noexcept
{
    const HWND hwnd = GetSafeHwnd();
    if (hwnd && !m_bStatusPosted.exchange(true))
        ::PostMessageA(hwnd, WM_RUN_STATUS, 0, 0);
}

void CKvoLauncherDlg::ShowRunStatus()
{
    m_bStatusPosted = false;  // what is told from now on gets a notification of its own
    std::string fileName;
    {
        kvo::CSingleLock lock(m_statusLock);
        fileName = m_strStatusFile;
    }
    const CUpdateEngine& engine = *m_engine;
    const int count = engine.m_nFileCount;
    m_lblFileName.SetWindowText(fileName.c_str());
    m_lblProgress.SetWindowText(
        DownloadProgressText(engine.m_nCurFileDone, engine.m_nCurFileSize, count - engine.m_nFilesLeft, count).c_str());
}
