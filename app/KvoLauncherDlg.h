// The progress dialog: the program's only window. It starts the engine's run and shows what the
// run reports; the end of the run is shown here, with the boxes the user answers.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/Sync.h"
#include "framework/Wnd.h"
#include "resources/resource.h"
#include "skin/PngImageSB.h"
#include "skin/SkinHyperLink.h"
#include "update/UpdateEngine.h"

class CKvoLauncherDlg : public kvo::CDialog, private IUpdateListener {
public:
    enum { IDD = IDD_KVOLAUNCHER_DIALOG };
    enum TimerId : UINT_PTR { IDT_START_UPDATE = 300, IDT_REPAINT = 301 };
    /// Posted by the run when what the labels show has changed; at most one is waiting at a time.
    static constexpr UINT WM_RUN_STATUS = WM_APP + 1;

    /// The window of `engine`'s run; the dialog owns the engine from here on.
    explicit CKvoLauncherDlg(std::unique_ptr<CUpdateEngine> engine);
    ~CKvoLauncherDlg() override;

    CUpdateEngine& Engine() noexcept { return *m_engine; }

    // --- presentation ---
    kvo::unique_hgdiobj m_font;       ///< font of the painted status text
    CPngImageSB m_background;         ///< the window's picture, decoded once for the window
    CPngImageSB m_strip;              ///< the bars' strip: the empty state above the filled one
    int m_nScaleWidth = 0;            ///< width of the progress-bar strip
    int m_nScaleHalfHeight = 0;       ///< height of one bar state in the strip
    int m_nDotCount = 1;              ///< ellipsis marks of the status text, cycling 1..2
    CSkinHyperLink m_lblProgress;     ///< control 1002: percentage and counter
    CSkinHyperLink m_lblFileName;     ///< control 1005: current file name
    CSkinHyperLink m_lblSpare;        ///< control 1006: stays empty
    HICON m_hIcon = nullptr;

    /// Composes the whole picture off-screen (the one place it is drawn) and copies it in one
    /// BitBlt; FALSE when nothing was drawn.
    BOOL OnEraseBkgnd(HDC dc);

protected:
    void DoDataExchange() override;
    void PostNcDestroy() override;
    BOOL OnInitDialog() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // What the engine tells: from any thread, and never waiting for the window.
    void OnCurrentFile(const std::string& fileName) override;
    void OnProgress() noexcept override;
    /// Shows the end of the run (a failure's box), starts the lobby after an update, lets the run
    /// go and asks the window to close.
    void OnRunEnded(const RunOutcome& outcome) noexcept override;

    /// True when the command is swallowed (minimising); everything else goes to the default handling.
    bool OnSysCommand(UINT command);
    void OnTimer(UINT_PTR timerId);
    /// Shows what the run told in the labels (the window's thread).
    void ShowRunStatus();
    /// The icon, the status font and the two images with the strip's measures, for the window
    /// about to be shown.
    void LoadPresentation();

    std::unique_ptr<CUpdateEngine> m_engine;  ///< goes first when the window goes (see the destructor)
    kvo::CCriticalSection m_statusLock;     ///< guards m_strStatusFile
    std::string m_strStatusFile;
    std::atomic<bool> m_bStatusPosted{false};
};
