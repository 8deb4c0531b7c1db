#include "app/KvoLauncherDlg.h"

#include "app/Desktop.h"
#include "app/KvoLauncherApp.h"
#include "framework/App.h"
#include "update/BuildHosts.h"
#include "app/LobbyWatch.h"

namespace {

// The painted status text's font: 12-pixel characters of the Song face.
constexpr int kStatusFontHeight = -12;
constexpr int kStatusFontWeight = 1;
const char kStatusFontFace[] = "宋体";

const char kFileFailedText[] = "文件更新失败，请从官网下载更新!";
const char kRunFailedText[] = "更新失败，请从官网下载更新";
const char kRunFailedCaption[] = "Kvo更新程序!";

constexpr UINT kTimerPeriodMs = 1000;
constexpr UINT kSysCommandMask = 0xFFF0;
// Size the window without moving it, changing the Z order or redrawing.
constexpr UINT kSizeOnlyFlags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW;
constexpr int kAboutTextSize = 256;

constexpr COLORREF kLabelBackground = RGB(240, 240, 240);

/// Where each label goes, relative to the client area. Outside the shipped 380 x 100 picture:
/// the labels carry their texts but are never seen.
struct LabelPlace {
    int left;
    int top;
    int width;
    int height;
};
constexpr LabelPlace kProgressPlace{33, 130, 130, 14};
constexpr LabelPlace kFileNamePlace{178, 130, 230, 14};
constexpr LabelPlace kSparePlace{425, 130, 160, 14};

void SetUpLabel(CSkinHyperLink& label, const RECT& client, const LabelPlace& place)
{
    label.SetBackgroundColor(kLabelBackground);
    label.m_bCustomFont = true;
    label.m_bUnderline = false;
    label.m_bBold = false;
    label.m_nFontHeight = kStatusFontHeight;
    label.m_nFontWidth = 0;
    label.m_pszFaceName = kStatusFontFace;
    label.SetWindowText("");
    label.MoveWindow(client.left + place.left, client.top + place.top, place.width, place.height, true);
    label.RedrawWindow(RDW_INVALIDATE | RDW_UPDATENOW);
}

void OfferWebSite(HWND owner, const char* text, const char* caption)
{
    // A browser that could only be started with the launcher's administrator rights is not
    // started: the address is shown for the player to open.
    if (Desktop().ShowMessageBox(owner, text, caption, MB_OKCANCEL) == IDOK && !Desktop().OpenWebSite(kOfficialSiteUrl))
        Desktop().ShowMessageBox(owner, kOfficialSiteUrl, caption, MB_OK | MB_ICONINFORMATION);
}

}  // namespace

CKvoLauncherDlg::CKvoLauncherDlg(std::unique_ptr<CUpdateEngine> engine) : kvo::CDialog(IDD), m_engine(std::move(engine))
{
    m_engine->SetListener(this);
}

void CKvoLauncherDlg::LoadPresentation()
{
    // The icon, the font and the image library are loaded only for a window that is shown.
    m_hIcon = ::LoadIconA(kvo::CWinApp::GetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    m_font.reset(::CreateFontA(kStatusFontHeight, 0, 0, 0, kStatusFontWeight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                               OUT_STROKE_PRECIS, CLIP_STROKE_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH,
                               kStatusFontFace));
    const HMODULE module = kvo::CWinApp::GetResourceHandle();
    m_background.LoadPngResource(module, IDR_PNG_BACKGROUND);
    if (m_strip.LoadPngResource(module, IDR_PNG_SCALE)) {
        m_nScaleWidth = m_strip.GetWidth();
        m_nScaleHalfHeight = m_strip.GetHeight() / 2;
    }
}

CKvoLauncherDlg::~CKvoLauncherDlg()
{
    // Before anything of the window goes: an engine whose run a worker still holds ends the process.
    m_engine.reset();
}

void CKvoLauncherDlg::DoDataExchange()
{
    m_lblProgress.SubclassDlgItem(IDC_LBL_PROGRESS, m_hWnd);
    m_lblFileName.SubclassDlgItem(IDC_LBL_FILENAME, m_hWnd);
    m_lblSpare.SubclassDlgItem(IDC_LBL_SPARE, m_hWnd);
}

BOOL CKvoLauncherDlg::OnInitDialog()
{
    kvo::CDialog::OnInitDialog();
    LoadPresentation();

    ::SetWindowPos(m_hWnd, nullptr, 0, 0, m_background.GetWidth(), m_background.GetHeight(), kSizeOnlyFlags);

    CenterWindow();
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    CenterWindow();

    if (const HMENU systemMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
        char aboutText[kAboutTextSize] = {};
        if (::LoadStringA(kvo::CWinApp::GetResourceHandle(), IDS_ABOUTBOX, aboutText, kAboutTextSize) > 0) {
            ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText);
        }
    }

    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    SetUpLabel(m_lblProgress, client, kProgressPlace);
    SetUpLabel(m_lblFileName, client, kFileNamePlace);
    SetUpLabel(m_lblSpare, client, kSparePlace);

    ::SetTimer(m_hWnd, IDT_START_UPDATE, kTimerPeriodMs, nullptr);
    ::SetTimer(m_hWnd, IDT_REPAINT, kTimerPeriodMs, nullptr);
    return TRUE;
}

void CKvoLauncherDlg::OnCancel()
{
    DestroyWindow();
}

void CKvoLauncherDlg::PostNcDestroy()
{
    kvo::CDialog::PostNcDestroy();
    delete this;  // the window owned the object
}

bool CKvoLauncherDlg::OnSysCommand(UINT command)
{
    // The window is never minimised; the About entry, like every other command, has its default effect.
    return (command & kSysCommandMask) == SC_MINIMIZE;
}

bool CKvoLauncherDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_SYSCOMMAND:
        result = 0;
        return OnSysCommand(static_cast<UINT>(wParam));
    case WM_ERASEBKGND:
        // Handled either way: FALSE leaves the previous picture instead of a default erase.
        result = OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(m_hIcon);
        return true;
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wParam));
        result = 0;
        return true;
    case WM_RUN_STATUS:
        ShowRunStatus();
        result = 0;
        return true;
    default:
        return kvo::CDialog::OnMessage(message, wParam, lParam, result);
    }
}

void CKvoLauncherDlg::OnTimer(UINT_PTR timerId)
{
    switch (timerId) {
    case IDT_START_UPDATE:
        ::KillTimer(m_hWnd, IDT_START_UPDATE);
        if (!m_engine->m_files.empty()) {
            m_engine->StartRun();
        } else {
            StartLobby(m_engine->m_strModuleDir);
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

void CKvoLauncherDlg::OnRunEnded(const RunOutcome& outcome) noexcept
{
    // The window is captured first: once the run lets the engine go, this object may go any moment.
    const HWND hwnd = GetSafeHwnd();
    try {
        switch (outcome.end) {
        case RunOutcome::End::updated:
            // Watched once the window has gone; the process holds the instance guard until then.
            BeginLobbyWatch(m_engine->m_strModuleDir, m_engine->m_policy.lobbyWatchMs);
            break;
        case RunOutcome::End::fileFailed:
            OfferWebSite(nullptr, kFileFailedText, kLauncherCaption);
            break;
        case RunOutcome::End::runFailed:
            OfferWebSite(hwnd, kRunFailedText, kRunFailedCaption);
            break;
        }
    } catch (const std::exception&) {
        // Not even the box could be had: at least the program ends.
    }
    m_engine->ReleaseRun();
    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
}
