#include "UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <sstream>

#include "app/LobbyWatch.h"
#include "framework/Handles.h"
#include "framework/Thread.h"

namespace {
constexpr DWORD kPumpSliceMs = 50;
// The body pattern of the test server's /gen.
constexpr std::size_t kPatternStep = 7;
constexpr std::size_t kPatternModulus = 251;

std::atomic<int> g_workersStarted{0};
std::atomic<bool> g_failWorkerStarts{false};

DWORD CountingStarter(kvo::WorkerProc proc, void* param) noexcept
{
    if (g_failWorkerStarts)
        return ERROR_NOT_ENOUGH_MEMORY;
    ++g_workersStarted;
    return kvo::StartWorkerThread(proc, param);
}

/// A copy of a list that another thread may be adding to.
template <typename T>
std::vector<T> Copied(kvo::CCriticalSection& cs, const std::vector<T>& list)
{
    kvo::CSingleLock lock(cs);
    return list;
}

struct WorkerCall {
    const std::function<void()>* work;
    kvo::unique_handle done{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

unsigned RunWorkerCall(void* raw)
{
    auto* call = static_cast<WorkerCall*>(raw);
    (*call->work)();
    ::SetEvent(call->done.get());
    return 0;
}

std::string EnvironmentValue(const char* name)
{
    char value[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

/// "<scheme>://127.0.0.1:<port the test server names in `portVariable`><path>".
std::string ServerUrl(const char* scheme, const char* portVariable, const std::string& path)
{
    const std::string port = EnvironmentValue(portVariable);
    EXPECT_FALSE(port.empty()) << "run under tools/with_http_server.py";
    return std::string(scheme) + "://127.0.0.1:" + port + path;
}

std::string Hex(const std::string& bytes)
{
    std::string hex;
    char pair[3];
    for (const unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    return hex;
}

void PumpPendingMessages()
{
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

/// Runs `work` on a worker and waits for it (running this thread's messages meanwhile when
/// `pumpMessages`); a `work` still running after kRunBoundMs ends the test program.
void RunBoundedOnWorker(const std::function<void()>& work, bool pumpMessages)
{
    WorkerCall call{&work};
    if (!kvo::BeginWorkerThread(RunWorkerCall, &call)) {
        ADD_FAILURE() << "no worker thread";
        return;
    }
    const ULONGLONG deadline = ::GetTickCount64() + kRunBoundMs;
    const HANDLE done = call.done.get();
    while (::MsgWaitForMultipleObjects(1, &done, FALSE, kPumpSliceMs, QS_ALLINPUT) != WAIT_OBJECT_0) {
        if (pumpMessages)
            PumpPendingMessages();
        if (::GetTickCount64() >= deadline) {
            std::fprintf(stderr, "FAILED: the work on the update did not end\n");
            std::fflush(stderr);
            ::ExitProcess(1);
        }
    }
    if (pumpMessages)
        PumpPendingMessages();
}

}  // namespace

int RecordingDesktop::ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    kvo::CSingleLock lock(m_cs);
    m_boxes.push_back({owner, text, caption, type, ::GetCurrentThreadId()});
    return answer;
}

kvo::unique_handle RecordingDesktop::StartProgram(const std::string& programPath, const std::string& commandLine)
{
    kvo::CSingleLock lock(m_cs);
    m_starts.emplace_back(programPath + "|" + commandLine, ::GetCurrentThreadId());
    HANDLE self = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &self, SYNCHRONIZE, FALSE, 0);
    return kvo::unique_handle(self);
}

bool RecordingDesktop::OpenWebSite(const char* url)
{
    kvo::CSingleLock lock(m_cs);
    m_sites.push_back(url);
    return siteOpens;
}

std::vector<ShownBox> RecordingDesktop::Boxes() { return Copied(m_cs, m_boxes); }
std::vector<std::pair<std::string, DWORD>> RecordingDesktop::Starts() { return Copied(m_cs, m_starts); }
std::vector<std::string> RecordingDesktop::Sites() { return Copied(m_cs, m_sites); }

ProgramDir::ProgramDir()
{
    ::CreateDirectoryA((m_dir / "DownLoad").c_str(), nullptr);
    ::CreateDirectoryA((m_dir / "LobbyDate").c_str(), nullptr);
}

EngineHarness::EngineHarness(const UpdatePolicy& policy) : m_engine(dir().path(), policy)
{
    m_engine.SetListener(this);
}

void EngineHarness::RunOnWorker(const std::function<void()>& work)
{
    RunBoundedOnWorker(work, false);
}

DWORD EngineHarness::Download(const UpdateFileEntry& entry)
{
    return DownloadBy(entry, [this](const UpdateFileEntry& taken) { return m_engine.DownloadFile(taken); });
}

DWORD EngineHarness::Fetch(const UpdateFileEntry& entry)
{
    return DownloadBy(entry, [this](const UpdateFileEntry& taken) {
        return m_engine.FetchEntry(TakeEntry(taken, m_engine.m_strModuleDir, m_engine.m_mirrors));
    });
}

DWORD EngineHarness::DownloadBy(const UpdateFileEntry& entry, const std::function<DWORD(const UpdateFileEntry&)>& road)
{
    DWORD error = ERROR_SUCCESS;
    RunOnWorker([&] {
        error = road(entry);
        if (error == ERROR_SUCCESS)
            error = m_engine.m_staging.CommitAll(1);
        else
            m_engine.m_staging.Abandon();
    });
    return error;
}

DialogWindow::DialogWindow(bool runTimers, WorkerStarter starter) : m_bRunTimers(runTimers)
{
    SetDesktopForTesting(&m_desktop);

    // The recorded lobby is this test program, which never ends: a new release's lobby is not watched.
    UpdatePolicy policy = UpdatePolicy::Shipped();
    policy.lobbyWatchMs = 0;
    auto dialog = std::make_unique<CKvoLauncherDlg>(std::make_unique<CUpdateEngine>(dir().path(), policy));
    if (!dialog->Create(nullptr)) {
        ADD_FAILURE() << "the dialog window could not be created";
        return;
    }
    if (starter)
        dialog->Engine().SetWorkerStarter(starter);
    m_dialog = dialog.release();  // the window deletes it from now on
    m_hwnd = m_dialog->GetSafeHwnd();
    if (!runTimers) {
        ::KillTimer(m_hwnd, CKvoLauncherDlg::IDT_START_UPDATE);
        ::KillTimer(m_hwnd, CKvoLauncherDlg::IDT_REPAINT);
    }
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
    WaitForLobbyWatch();  // it starts the lobby through this test's desktop
    SetDesktopForTesting(nullptr);
}

bool DialogWindow::WaitUntilClosed()
{
    const ULONGLONG deadline = ::GetTickCount64() + kRunBoundMs;
    for (;;) {
        PumpPendingMessages();
        if (!m_hwnd || !::IsWindow(m_hwnd)) {
            WaitForLobbyWatch();  // a new release's lobby is started and watched after the window
            return true;
        }
        if (::GetTickCount64() >= deadline)
            return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kPumpSliceMs, QS_ALLINPUT);
    }
}

std::string MarkedUrl(const std::string& marker, const std::string& options)
{
    return TestServerUrl("/gen?marker=" + marker + "&" + options);
}

std::vector<std::string> RequestsWith(const std::string& marker)
{
    std::vector<std::string> lines;
    std::istringstream log(TestServerRequestLog());
    for (std::string line; std::getline(log, line);) {
        if (line.find("marker=" + marker + "&") != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

std::string PatternBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * kPatternStep) % kPatternModulus);
    return bytes;
}

WorkerStarts::WorkerStarts(bool failStarts)
{
    g_workersStarted = 0;
    g_failWorkerStarts = failStarts;
}

WorkerStarts::~WorkerStarts() { g_failWorkerStarts = false; }

WorkerStarter WorkerStarts::Starter() { return CountingStarter; }

int WorkerStarts::Count() const { return g_workersStarted; }

std::vector<std::string> ProgramDir::LogLines() const
{
    std::vector<std::string> lines;
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA((m_dir / "DownLoad\\AutoUpdate_*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return lines;
    ::FindClose(search);
    std::istringstream content(ReadWholeFile(m_dir / ("DownLoad\\" + std::string(found.cFileName))));
    for (std::string line; std::getline(content, line);) {  // "stamp TAB text CR"
        const std::size_t text = line.find('\t') + 1;
        lines.push_back(line.substr(text, line.size() - 1 - text));
    }
    return lines;
}

void DialogWindow::RunOnWorker(const std::function<void()>& work)
{
    RunBoundedOnWorker(work, true);
}

bool RunsIsolated()
{
    return !EnvironmentValue("KVO_ISOLATED_TEST").empty();
}

std::string TestServerUrl(const std::string& path)
{
    return ServerUrl("http", "KVO_TEST_HTTP_PORT", path);
}

std::string TlsServerUrl(const std::string& path)
{
    return ServerUrl("https", "KVO_TEST_HTTPS_PORT", path);
}

std::string ServedFilePath(const std::string& relative)
{
    const std::string unixRoot = EnvironmentValue("KVO_TEST_HTTP_ROOT");
    EXPECT_FALSE(unixRoot.empty()) << "run under tools/with_http_server.py";
    std::string path = WindowsPathOf(unixRoot) + "\\" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string TestServerRequestLog()
{
    // The server runs outside Wine and names its log by its Unix path.
    const std::string unixPath = EnvironmentValue("KVO_TEST_HTTP_LOG");
    EXPECT_FALSE(unixPath.empty());
    return ReadWholeFile(WindowsPathOf(unixPath));
}

std::string ClosedPortUrl()
{
    return ServerUrl("http", "KVO_TEST_CLOSED_PORT", "/AutoUpdate/update.xml");
}

std::string GeneratedBodyUrl(const std::string& body, const std::string& options)
{
    return TestServerUrl("/gen?text=" + Hex(body) + (options.empty() ? "" : "&" + options));
}

std::string ManifestText(const std::string& productAttributes, const std::string& content)
{
    return "<?xml version=\"1.0\"?>\r\n<Update>\r\n<Product " + productAttributes + ">\r\n" + content +
           "</Product>\r\n</Update>\r\n";
}

std::string FileElement(const std::string& fileName, const std::string& more)
{
    return "<File><FileName>" + fileName + "</FileName>" + more + "</File>\r\n";
}

std::vector<std::string> FileNamesOf(const CUpdateEngine& engine)
{
    std::vector<std::string> names;
    for (const UpdateFileEntry& entry : engine.m_files)
        names.push_back(entry.FileName);
    return names;
}

UpdateFileEntry Entry(const std::string& fileName, const std::string& url, const std::string& version)
{
    UpdateFileEntry entry;
    entry.FileName = fileName;
    entry.URL = url;
    entry.FileVersion = version;
    return entry;
}

std::string WindowsPathOf(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}
