#include "RunTestSupport.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "ManifestTestSupport.h"
#include "app/KvoLauncherApp.h"
#include "framework/Thread.h"
#include "resources/resource.h"
#include "support/ReplaceFile.h"
#include "update/UpdateRun.h"

namespace {

constexpr DWORD kPumpSliceMs = 50;
constexpr UINT_PTR kLabelSpyId = 0x4B56;  // any number; one spy per label
constexpr int kLabelTextSize = 512;
constexpr int kLabelIds[] = {IDC_LBL_PROGRESS, IDC_LBL_FILENAME, IDC_LBL_SPARE};
// The body pattern of the test server's /gen.
constexpr std::size_t kPatternStep = 7;
constexpr std::size_t kPatternModulus = 251;

std::atomic<int> g_workersStarted{0};
std::atomic<bool> g_failWorkerStarts{false};

bool CountingStarter(kvo::WorkerProc proc, void* param) noexcept
{
    if (g_failWorkerStarts) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    ++g_workersStarted;
    return kvo::BeginWorkerThread(proc, param);
}

LRESULT CALLBACK LabelSpy(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR refData)
{
    if (message == WM_NCDESTROY)
        ::RemoveWindowSubclass(hwnd, LabelSpy, kLabelSpyId);
    const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
    if (message == WM_SETTEXT) {
        // Read back as ANSI: a subclassed window may see the message in either character set.
        char text[kLabelTextSize] = {};
        ::GetWindowTextA(hwnd, text, kLabelTextSize);
        reinterpret_cast<DialogWindow*>(refData)->RecordLabelText(::GetDlgCtrlID(hwnd), text);
    }
    return result;
}

void CollectTemporaryFiles(const std::string& base, const std::string& relative, std::vector<std::string>& found)
{
    const std::string suffix = CTempFileBeside::kSuffix;
    WIN32_FIND_DATAA data{};
    const HANDLE search = ::FindFirstFileA((base + relative + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectTemporaryFiles(base, relative + name + "\\", found);
        else if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found.push_back(relative + name);
    } while (::FindNextFileA(search, &data));
    ::FindClose(search);
}

/// A copy of a list that another thread may be adding to.
template <typename T>
std::vector<T> Copied(kvo::CCriticalSection& cs, const std::vector<T>& list)
{
    kvo::CSingleLock lock(cs);
    return list;
}

}  // namespace

int RecordingDesktop::ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    kvo::CSingleLock lock(m_cs);
    m_boxes.push_back({owner, text, caption, type, ::GetCurrentThreadId()});
    return answer;
}

void RecordingDesktop::StartProgram(const std::string& programPath, const std::string& commandLine)
{
    kvo::CSingleLock lock(m_cs);
    m_starts.push_back(programPath + "|" + commandLine);
    m_startThreads.push_back(::GetCurrentThreadId());
}

void RecordingDesktop::OpenWebSite(const char* url)
{
    kvo::CSingleLock lock(m_cs);
    m_sites.push_back(url);
}

std::vector<ShownBox> RecordingDesktop::Boxes() { return Copied(m_cs, m_boxes); }
std::vector<std::string> RecordingDesktop::Starts() { return Copied(m_cs, m_starts); }
std::vector<DWORD> RecordingDesktop::StartThreads() { return Copied(m_cs, m_startThreads); }
std::vector<std::string> RecordingDesktop::Sites() { return Copied(m_cs, m_sites); }

DialogWindow::DialogWindow(bool runTimers) : m_previousModuleDir(theApp.m_strModuleDir), m_bRunTimers(runTimers)
{
    ::CreateDirectoryA((m_dir / "DownLoad").c_str(), nullptr);
    ::CreateDirectoryA((m_dir / "LobbyDate").c_str(), nullptr);
    theApp.m_strModuleDir = m_dir.path();
    SetDesktopForTesting(&m_desktop);

    auto dialog = std::make_unique<CKvoLauncherDlg>();
    if (!dialog->Create(nullptr)) {
        ADD_FAILURE() << "the dialog window could not be created";
        return;
    }
    m_dialog = dialog.release();  // the window deletes it from now on
    m_hwnd = m_dialog->GetSafeHwnd();
    if (!runTimers) {
        ::KillTimer(m_hwnd, CKvoLauncherDlg::IDT_START_UPDATE);
        ::KillTimer(m_hwnd, CKvoLauncherDlg::IDT_REPAINT);
    }
    for (const int id : kLabelIds)
        ::SetWindowSubclass(::GetDlgItem(m_hwnd, id), LabelSpy, kLabelSpyId, reinterpret_cast<DWORD_PTR>(this));
    ::ShowWindow(m_hwnd, SW_SHOW);
}

DialogWindow::~DialogWindow()
{
    if (m_hwnd && ::IsWindow(m_hwnd)) {
        if (m_bRunTimers) {
            // A run that never ended may still use the object: destroying it is not safe.
            std::fprintf(stderr, "FAILED: the run's dialog outlived its test\n");
            std::fflush(stderr);
            ::ExitProcess(1);
        }
        ::DestroyWindow(m_hwnd);  // deletes the dialog
    }
    SetDesktopForTesting(nullptr);
    theApp.m_strModuleDir = m_previousModuleDir;
}

bool DialogWindow::WaitUntilClosed(DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        PumpPendingMessages();
        if (!m_hwnd || !::IsWindow(m_hwnd))
            return true;
        if (::GetTickCount64() >= deadline)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kPumpSliceMs, QS_ALLINPUT);
    }
}

void DialogWindow::RunOnWorker(const std::function<void()>& work)
{
    RunBoundedOnWorker(work, kRunBoundMs, "the work on the dialog");
}

std::vector<std::string> DialogWindow::LogLines() const
{
    return LogLinesIn(m_dir);
}

std::vector<LabelText> DialogWindow::LabelTexts() { return Copied(m_cs, m_labelTexts); }

std::vector<std::string> DialogWindow::TextsOf(int id)
{
    std::vector<std::string> texts;
    for (const LabelText& label : LabelTexts()) {
        if (label.id == id && !label.text.empty())
            texts.push_back(label.text);
    }
    return texts;
}

void DialogWindow::RecordLabelText(int id, const char* text)
{
    kvo::CSingleLock lock(m_cs);
    m_labelTexts.push_back({id, text ? text : ""});
}

std::string MarkedUrl(const std::string& marker, const std::string& options)
{
    return TestServerUrl("/gen?marker=" + marker + "&" + options);
}

bool Requested(const std::string& marker)
{
    return TestServerRequestLog().find("marker=" + marker + "&") != std::string::npos;
}

std::vector<std::string> TemporaryFilesBelow(const std::string& dir)
{
    std::vector<std::string> found;
    CollectTemporaryFiles(dir, "", found);
    return found;
}

std::string PatternBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * kPatternStep) % kPatternModulus);
    return bytes;
}

WorkerStarts::WorkerStarts()
{
    g_workersStarted = 0;
    g_failWorkerStarts = false;
    SetWorkerStarterForTesting(CountingStarter);
}

WorkerStarts::~WorkerStarts()
{
    SetWorkerStarterForTesting(nullptr);
    g_failWorkerStarts = false;
}

int WorkerStarts::Count() const { return g_workersStarted; }

void WorkerStarts::FailStarts(bool fail) { g_failWorkerStarts = fail; }
