#include "ManifestTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "app/KvoLauncherApp.h"
#include "framework/Handles.h"
#include "framework/Thread.h"

namespace {

constexpr DWORD kPumpSliceMs = 50;

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

}  // namespace

DialogInTempDir::DialogInTempDir() : m_previousModuleDir(theApp.m_strModuleDir)
{
    ::CreateDirectoryA((m_dir / "DownLoad").c_str(), nullptr);
    theApp.m_strModuleDir = m_dir.path();
    m_dialog = std::make_unique<CKvoLauncherDlg>();
}

DialogInTempDir::~DialogInTempDir()
{
    m_dialog.reset();
    theApp.m_strModuleDir = m_previousModuleDir;
}

std::vector<std::string> DialogInTempDir::LogLines()
{
    return LogLinesIn(m_dir);
}

std::vector<std::string> LogLinesIn(const TempDir& dir)
{
    std::vector<std::string> lines;
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA((dir / "DownLoad\\AutoUpdate_*.log").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return lines;
    ::FindClose(search);
    const std::string content = ReadWholeFile(dir / ("DownLoad\\" + std::string(found.cFileName)));
    std::size_t start = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = content.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        lines.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
    }
    return lines;
}

void PumpPendingMessages()
{
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

void RunBoundedOnWorker(const std::function<void()>& work, DWORD boundMs, const std::string& what)
{
    WorkerCall call{&work};
    if (!kvo::BeginWorkerThread(RunWorkerCall, &call)) {
        ADD_FAILURE() << "no worker thread";
        return;
    }
    const ULONGLONG deadline = ::GetTickCount64() + boundMs;
    const HANDLE done = call.done.get();
    while (::MsgWaitForMultipleObjects(1, &done, FALSE, kPumpSliceMs, QS_ALLINPUT) != WAIT_OBJECT_0) {
        PumpPendingMessages();
        if (::GetTickCount64() >= deadline) {
            std::fprintf(stderr, "FAILED: %s did not end\n", what.c_str());
            std::fflush(stderr);
            ::ExitProcess(1);
        }
    }
    PumpPendingMessages();
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

std::vector<std::string> FileNamesOf(const CKvoLauncherDlg& dialog)
{
    std::vector<std::string> names;
    for (const UpdateFileEntry& entry : dialog.m_files)
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
