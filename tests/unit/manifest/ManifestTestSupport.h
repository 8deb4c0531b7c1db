// Shared pieces of the manifest and run tests: a dialog with its log in a throw-away program
// directory, work on a bounded worker, addresses on the loopback test server, and manifest texts.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "app/KvoLauncherDlg.h"

/// A program directory with DownLoad\ (so the log opens) and a dialog object without a window.
class DialogInTempDir {
public:
    DialogInTempDir();
    ~DialogInTempDir();

    CKvoLauncherDlg& dialog() { return *m_dialog; }
    const TempDir& dir() const { return m_dir; }
    /// The texts of the log lines so far (time stamp and tab removed).
    std::vector<std::string> LogLines();

private:
    TempDir m_dir;
    std::string m_previousModuleDir;
    std::unique_ptr<CKvoLauncherDlg> m_dialog;
};

/// The texts of the log lines of the program directory `dir` (time stamp and tab removed).
std::vector<std::string> LogLinesIn(const TempDir& dir);

/// True in a process started for tests named "Isolated*" alone (KVO_ISOLATED_TEST set).
bool RunsIsolated();
/// Tests that need a process of their own skip themselves in the shared run.
#define SKIP_UNLESS_ISOLATED()                                                  \
    do {                                                                        \
        if (!RunsIsolated())                                                    \
            GTEST_SKIP() << "runs in a test process of its own";                \
    } while (false)

/// Dispatches whatever is queued for this thread's windows.
void PumpPendingMessages();
/// Runs `work` on a worker while this thread pumps its messages. A `work` still running after
/// `boundMs` has hung and ends the test program: it may still use what the caller owns.
void RunBoundedOnWorker(const std::function<void()>& work, DWORD boundMs, const std::string& what);

/// "http://127.0.0.1:<port of the test server><path>".
std::string TestServerUrl(const std::string& path);
/// "https://127.0.0.1:<port of the test server's TLS listener><path>".
std::string TlsServerUrl(const std::string& path);
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
/// The FileName of every entry the dialog lists, in order.
std::vector<std::string> FileNamesOf(const CKvoLauncherDlg& dialog);

/// An entry with only the fields the file check and the run decide by.
UpdateFileEntry Entry(const std::string& fileName, const std::string& url, const std::string& version = "");

/// The Windows path of a file given by its Unix path (Wine maps the Unix root to drive Z:).
std::string WindowsPathOf(const std::string& unixPath);
