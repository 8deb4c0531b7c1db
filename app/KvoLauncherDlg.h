// The progress dialog: the program's only window, and the owner of the update state.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/Wnd.h"
#include "resources/resource.h"
#include "skin/SkinHyperLink.h"
#include "framework/Sync.h"
#include "support/Log.h"
#include "update/EntryRoad.h"
#include "update/Leftovers.h"
#include "update/UpdateFileEntry.h"

class CKvoLauncherDlg : public kvo::CDialog {
public:
    enum { IDD = IDD_KVOLAUNCHER_DIALOG };
    enum TimerId : UINT_PTR { IDT_START_UPDATE = 300, IDT_REPAINT = 301 };
    /// Posted by the run when what the labels show has changed; at most one is waiting at a time.
    static constexpr UINT WM_RUN_STATUS = WM_APP + 1;

    /// The dialog of the installation at `moduleDir` (the program's directory, ending in a
    /// backslash): its log lives there, and every file of the run.
    explicit CKvoLauncherDlg(std::string moduleDir);
    ~CKvoLauncherDlg() override;

    // --- the update state, shared by start-up, the manifest, the run, the download and the painter ---
    const std::string m_strModuleDir;       ///< the installation the run updates
    CLog m_log;
    std::vector<UpdateFileEntry> m_files;   ///< not yet taken; taken from the end
    EntryRoad m_curFile;                    ///< the entry being processed, and what decides its road
    CLeftoverTemporaryFiles m_leftovers;    ///< temporary files of interrupted runs, found per directory
    // Written by one thread at a time and read unlocked by the painter: relaxed atomics.
    std::atomic<int> m_nFileCount{0};
    std::atomic<int> m_nFilesLeft{0};
    int m_nServerVer = 0;
    int m_nRollout = 100;                   ///< the manifest's Rollout: the share of installations it reaches
    std::vector<std::string> m_mirrors;     ///< the manifest's Mirror addresses, the base first
    std::atomic<std::uint32_t> m_nCurFileSize{0};
    std::atomic<std::uint32_t> m_nCurFileDone{0};
    std::atomic<bool> m_bFailed{false};
    std::atomic<bool> m_bRetrying{false};   ///< a download waits to be tried again: the status says so

    // --- the run ---
    /// Takes the next entry from the end of m_files, or completes the run when none is left.
    void ProcessNextFile();
    /// Entry of every download worker; `param` is the dialog.
    static unsigned UpdateFileThreadProc(void* param);
    /// Downloads one entry over its local file (and installs it when it is a package).
    bool DownloadFile(UpdateFileEntry entry);
    bool DownloadFile(const EntryRoad& road);

    // --- what the run tells the window: from any thread, and never waiting for the window ---
    /// The file the run works on now, for the window's label.
    void TellCurrentFile(const std::string& fileName);
    /// The counters moved: the window brings its labels up to date when it next runs its messages.
    void TellProgress() noexcept;

    // --- presentation ---
    kvo::unique_hgdiobj m_font;       ///< font of the painted status text
    int m_nScaleWidth = 0;            ///< width of the progress-bar strip
    int m_nScaleHalfHeight = 0;       ///< height of one bar state in the strip
    int m_nDotCount = 1;              ///< ellipsis marks of the status text, cycling 1..2
    CSkinHyperLink m_lblProgress;     ///< control 1002: percentage and counter
    CSkinHyperLink m_lblFileName;     ///< control 1005: current file name
    CSkinHyperLink m_lblSpare;        ///< control 1006: stays empty
    HICON m_hIcon = nullptr;

    /// Composes the whole picture off-screen and copies it in one BitBlt; FALSE when nothing was drawn.
    BOOL OnEraseBkgnd(HDC dc);

protected:
    void DoDataExchange() override;
    void PostNcDestroy() override;
    BOOL OnInitDialog() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    /// True when the command is swallowed (minimising); everything else goes to the default handling.
    bool OnSysCommand(UINT command);
    void OnTimer(UINT_PTR timerId);
    /// The end of the run: records the version and starts the lobby, or reports the failure.
    void CompleteRun();
    /// Shows what the run told in the labels (the window's thread).
    void ShowRunStatus();
    /// The icon, the status font and the strip's measures, for the window about to be shown.
    void LoadPresentation();

    kvo::CCriticalSection m_statusLock;     ///< guards m_strStatusFile
    std::string m_strStatusFile;
    std::atomic<bool> m_bStatusPosted{false};
};
