#include "framework/Wnd.h"

#include <commctrl.h>

#include <exception>

#include "framework/App.h"

namespace kvo {

namespace {

// Dialog procedures return these messages' results themselves instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message)
{
    switch (message) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return true;
    default:
        return false;
    }
}

// The one subclass this layer installs on a window.
constexpr UINT_PTR kSubclassId = 1;

}  // namespace

CWnd::~CWnd()
{
    Unsubclass();
}

void CWnd::ModifyStyle(DWORD remove, DWORD add) const noexcept
{
    const DWORD style = (GetStyle() & ~remove) | add;
    ::SetWindowLongPtrA(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>(style));
}

void CWnd::CenterWindow() const noexcept
{
    RECT window{};
    if (!::GetWindowRect(m_hWnd, &window))
        return;
    RECT area{};
    const HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (!owner || !::IsWindowVisible(owner) || !::GetWindowRect(owner, &area)) {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (!::GetMonitorInfoA(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor))
            return;
        area = monitor.rcWork;
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CWnd::SubclassWindow(HWND hwnd) noexcept
{
    if (!hwnd || m_hWnd)
        return false;
    m_hWnd = hwnd;
    PreSubclassWindow();
    if (!::SetWindowSubclass(hwnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        m_hWnd = nullptr;
        return false;
    }
    m_bSubclassed = true;
    return true;
}

bool CWnd::SubclassDlgItem(UINT id, HWND parent) noexcept
{
    return SubclassWindow(::GetDlgItem(parent, static_cast<int>(id)));
}

void CWnd::Unsubclass() noexcept
{
    if (m_bSubclassed && m_hWnd)
        ::RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
    m_bSubclassed = false;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return Default(message, wParam, lParam);
}

LRESULT CWnd::Default(UINT message, WPARAM wParam, LPARAM lParam) noexcept
{
    return ::DefSubclassProc(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR refData)
{
    auto* self = reinterpret_cast<CWnd*>(refData);
    if (message == WM_NCDESTROY) {
        const LRESULT result = ::DefSubclassProc(hwnd, message, wParam, lParam);
        self->Unsubclass();
        self->m_hWnd = nullptr;
        return result;
    }
    try {
        return self->WindowProc(message, wParam, lParam);
    } catch (const std::exception&) {
        // No error may unwind through the system's frames; the message simply had no effect.
        return 0;
    }
}

std::string CWnd::GetWindowText() const
{
    const int length = ::GetWindowTextLengthA(m_hWnd);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
    const int copied = ::GetWindowTextA(m_hWnd, text.data(), static_cast<int>(text.size()));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

bool CDialog::Create(HWND parent)
{
    const HWND hwnd = ::CreateDialogParamA(CWinApp::GetResourceHandle(), MAKEINTRESOURCEA(m_nTemplateId),
                                           parent, DialogProc, reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

bool CDialog::DestroyWindow() noexcept
{
    return m_hWnd && ::DestroyWindow(m_hWnd);
}

BOOL CDialog::OnInitDialog()
{
    DoDataExchange();
    return TRUE;
}

bool CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    switch (message) {
    case WM_INITDIALOG:
        result = OnInitDialog();
        return true;
    case WM_CLOSE:
        OnCancel();
        result = 0;
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            result = 0;
            return true;
        }
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            result = 0;
            return true;
        }
        return false;
    default:
        return false;
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = hwnd;
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self)
        return FALSE;

    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        CWinApp::OnWindowDestroyed(hwnd);
        self->PostNcDestroy();  // may delete the object
        return FALSE;
    }

    LRESULT result = 0;
    try {
        if (!self->OnMessage(message, wParam, lParam, result))
            return FALSE;
    } catch (const std::exception&) {
        // No error may unwind through the system's frames: the message counts as handled, to no effect.
        result = 0;
    }
    if (ReturnsResultDirectly(message))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace kvo
