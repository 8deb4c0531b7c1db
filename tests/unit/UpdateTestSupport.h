// Shared pieces of the manifest, download and run tests: the update engine in a throw-away program
// directory with a listener that records what it tells, the progress dialog with its real window,
// a desktop that records what the run shows and starts, work on a bounded worker, addresses and
// bodies of the loopback test server, and manifest texts.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "app/Desktop.h"
#include "app/KvoLauncherDlg.h"
#include "framework/Sync.h"
#include "update/UpdateEngine.h"
#include "update/UpdateRun.h"

/// Far beyond every time-out of a download; a test still waiting then has found a hang.
constexpr DWORD kRunBoundMs = 90000;

/// One message box the run asked for.
struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    DWORD threadId;
};

/// Stands in for the user's desktop: answers every box with `answer` and records everything.
class RecordingDesktop final : public IDesktop {
public:
    int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
    /// Records the start; the "process" is this one's own, already there to wait on.
    kvo::unique_handle StartProgram(const std::string& programPath, const std::string& commandLine) override;
    bool OpenWebSite(const char* url) override;

    std::vector<ShownBox> Boxes();
    /// "<program>|<command line>" of every start, and the thread that asked for it.
    std::vector<std::pair<std::string, DWORD>> Starts();
    std::vector<std::string> Sites();

    int answer = IDCANCEL;
    bool siteOpens = true;  ///< what OpenWebSite answers

private:
    kvo::CCriticalSection m_cs;
    std::vector<ShownBox> m_boxes;
    std::vector<std::pair<std::string, DWORD>> m_starts;
    std::vector<std::string> m_sites;
};

/// A program directory (DownLoad\ for the log, LobbyDate\ for the settings).
class ProgramDir {
public:
    ProgramDir();
    const TempDir& dir() const { return m_dir; }
    /// The texts of the log lines so far (time stamp and tab removed).
    std::vector<std::string> LogLines() const;

private:
    TempDir m_dir;
};

/// The update engine of a program directory, without a window: its listener ends the run's hold on
/// it when the run ends.
class EngineHarness : public ProgramDir, private IUpdateListener {
public:
    explicit EngineHarness(const UpdatePolicy& policy = UpdatePolicy::Shipped());
    CUpdateEngine& engine() { return m_engine; }
    /// Runs `work` on a worker; a `work` still running after kRunBoundMs ends the test program.
    void RunOnWorker(const std::function<void()>& work);
    /// Downloads `entry` on a worker as the run does, then commits what was staged (a release of
    /// that one entry); what the download or the commit ended with.
    DWORD Download(const UpdateFileEntry& entry);
    /// The same by the cheapest road the run would take (a patch, a package's changed range).
    DWORD Fetch(const UpdateFileEntry& entry);

private:
    DWORD DownloadBy(const UpdateFileEntry& entry, const std::function<DWORD(const UpdateFileEntry&)>& road);
    void OnCurrentFile(const std::string&) override {}
    void OnProgress() noexcept override {}
    void OnRunEnded(const RunOutcome&) noexcept override { m_engine.ReleaseRun(); }

    CUpdateEngine m_engine;
};

/// A program directory and the progress dialog with its window, as start-up makes it. With `runTimers` false both timers are stopped
/// at once, so nothing but the test drives the dialog. The window owns the object: it is deleted
/// when the window goes, by the run's close request or by the destructor here.
class DialogWindow : public ProgramDir {
public:
    /// The run starts its workers through `starter` when one is given.
    explicit DialogWindow(bool runTimers, WorkerStarter starter = nullptr);
    ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    /// The dialog and its engine; only while its window exists.
    CKvoLauncherDlg& dialog() { return *m_dialog; }
    CUpdateEngine& engine() { return m_dialog->Engine(); }
    HWND hwnd() const { return m_hwnd; }
    RecordingDesktop& desktop() { return m_desktop; }

    /// Pumps this thread's messages until the window is gone; false when it outlived kRunBoundMs.
    bool WaitUntilClosed();
    /// Runs `work` on a worker while this thread pumps messages. A `work` still running after
    /// kRunBoundMs ends the test program: it uses the dialog.
    void RunOnWorker(const std::function<void()>& work);

private:
    RecordingDesktop m_desktop;
    bool m_bRunTimers;
    CKvoLauncherDlg* m_dialog = nullptr;
    HWND m_hwnd = nullptr;
};

/// A /gen address whose request the test server logs with "marker=<marker>&".
std::string MarkedUrl(const std::string& marker, const std::string& options);
/// Every line of the test server's log of a MarkedUrl(`marker`, ...) request, in order.
std::vector<std::string> RequestsWith(const std::string& marker);

/// The bytes /gen sends for a body of `size` bytes.
std::string PatternBytes(std::size_t size);

/// Counts the workers a run started through Starter() starts; with `failStarts` none is started at all.
struct WorkerStarts {
    explicit WorkerStarts(bool failStarts = false);
    ~WorkerStarts();
    WorkerStarts(const WorkerStarts&) = delete;
    WorkerStarts& operator=(const WorkerStarts&) = delete;
    int Count() const;
    static WorkerStarter Starter();
};


/// True in a process started for tests named "Isolated*" alone (KVO_ISOLATED_TEST set).
bool RunsIsolated();
/// Tests that need a process of their own skip themselves in the shared run.
#define SKIP_UNLESS_ISOLATED()                                                  \
    do {                                                                        \
        if (!RunsIsolated())                                                    \
            GTEST_SKIP() << "runs in a test process of its own";                \
    } while (false)

/// "http://127.0.0.1:<port of the test server><path>".
std::string TestServerUrl(const std::string& path);
/// "https://127.0.0.1:<port of the test server's TLS listener><path>".
std::string TlsServerUrl(const std::string& path);
/// Where a file must lie to be served at TestServerUrl("/" + relative) (Windows path; "/" in
/// `relative` turned into "\").
std::string ServedFilePath(const std::string& relative);
/// What the test server logged of the requests it received so far.
std::string TestServerRequestLog();
/// An address where nothing listens.
std::string ClosedPortUrl();
/// A /gen address that answers `body` as it is, with the other options appended.
std::string GeneratedBodyUrl(const std::string& body, const std::string& options = std::string());

/// A manifest whose Product carries `productAttributes` and holds `products` as its content.
std::string ManifestText(const std::string& productAttributes, const std::string& content);
/// A File element with the given FileName and optional further child elements.
std::string FileElement(const std::string& fileName, const std::string& more = std::string());
/// The FileName of every entry the engine lists, in order.
std::vector<std::string> FileNamesOf(const CUpdateEngine& engine);

/// An entry with only the fields the file check and the run decide by.
UpdateFileEntry Entry(const std::string& fileName, const std::string& url, const std::string& version = "");

/// The Windows path of a file given by its Unix path (Wine maps the Unix root to drive Z:).
std::string WindowsPathOf(const std::string& unixPath);
