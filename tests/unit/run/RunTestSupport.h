// Shared pieces of the download and run tests: the progress dialog with its real window in a
// throw-away program directory, a desktop that records what the run shows and starts, and the
// label texts the run set.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "app/Desktop.h"
#include "app/KvoLauncherDlg.h"
#include "framework/Sync.h"

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
    void StartProgram(const std::string& programPath, const std::string& commandLine) override;
    void OpenWebSite(const char* url) override;

    std::vector<ShownBox> Boxes();
    /// "<program>|<command line>" of every start.
    std::vector<std::string> Starts();
    std::vector<DWORD> StartThreads();
    std::vector<std::string> Sites();

    int answer = IDCANCEL;

private:
    kvo::CCriticalSection m_cs;
    std::vector<ShownBox> m_boxes;
    std::vector<std::string> m_starts;
    std::vector<DWORD> m_startThreads;
    std::vector<std::string> m_sites;
};

/// A text set on one of the dialog's labels.
struct LabelText {
    int id;
    std::string text;
};

/// A program directory (DownLoad\ for the log, LobbyDate\ for the settings) and the progress
/// dialog with its window, as start-up makes it. With `runTimers` false both timers are stopped
/// at once, so nothing but the test drives the dialog. The window owns the object: it is deleted
/// when the window goes, by the run's close request or by the destructor here.
class DialogWindow {
public:
    explicit DialogWindow(bool runTimers);
    ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    /// The dialog; only while its window exists.
    CKvoLauncherDlg& dialog() { return *m_dialog; }
    HWND hwnd() const { return m_hwnd; }
    const TempDir& dir() const { return m_dir; }
    RecordingDesktop& desktop() { return m_desktop; }

    /// Pumps this thread's messages until the window is gone; false when it outlived `timeoutMs`.
    bool WaitUntilClosed(DWORD timeoutMs = kRunBoundMs);
    /// Runs `work` on a worker while this thread pumps messages (the labels belong to it).
    /// A `work` still running after kRunBoundMs ends the test program: it uses the dialog.
    void RunOnWorker(const std::function<void()>& work);

    std::vector<std::string> LogLines() const;
    std::vector<LabelText> LabelTexts();
    /// The texts set on the label `id`, leaving out the clearing ones.
    std::vector<std::string> TextsOf(int id);

    /// Records a text set on a label; called by the labels' subclass procedure.
    void RecordLabelText(int id, const char* text);

private:
    TempDir m_dir;
    std::string m_previousModuleDir;
    RecordingDesktop m_desktop;
    kvo::CCriticalSection m_cs;
    std::vector<LabelText> m_labelTexts;
    bool m_bRunTimers;
    CKvoLauncherDlg* m_dialog = nullptr;
    HWND m_hwnd = nullptr;
};

/// A /gen address whose request the test server logs with "marker=<marker>&".
std::string MarkedUrl(const std::string& marker, const std::string& options);
/// True once the test server has received the request of MarkedUrl(`marker`, ...).
bool Requested(const std::string& marker);

/// Every "*.kvotmp" file below `dir`, as paths relative to it.
std::vector<std::string> TemporaryFilesBelow(const std::string& dir);

/// The bytes /gen sends for a body of `size` bytes.
std::string PatternBytes(std::size_t size);

/// Counts the workers the run starts; with `failStarts` none is started at all.
struct WorkerStarts {
    WorkerStarts();
    ~WorkerStarts();
    WorkerStarts(const WorkerStarts&) = delete;
    WorkerStarts& operator=(const WorkerStarts&) = delete;
    int Count() const;
    static void FailStarts(bool fail);
};
