#include "skin/SkinHyperLink.h"

#include <commctrl.h>

#include <cstring>

#include "framework/Handles.h"

namespace {

constexpr UINT kRedrawNowFlags = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ERASENOW;
constexpr UINT kTextFormat = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS;
constexpr LONG kBoldWeight = FW_BOLD;
constexpr int kCreateFailed = -1;

}  // namespace

void CSkinHyperLink::SetBackgroundColor(COLORREF color)
{
    m_crBackground = color;
    if (m_hWnd)
        RedrawNow();
}

void CSkinHyperLink::RedrawNow() const
{
    RedrawWindow(kRedrawNowFlags);
}

void CSkinHyperLink::FitToText()
{
    const std::string text = GetWindowText();
    RECT rect{};
    ::GetWindowRect(m_hWnd, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(m_hWnd), reinterpret_cast<POINT*>(&rect), 2);

    kvo::WindowDcGuard dc(m_hWnd);
    if (!dc.dc())
        return;
    const HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
    SIZE extent{};
    {
        kvo::SelectObjectGuard selected(dc.dc(), font ? font : ::GetCurrentObject(dc.dc(), OBJ_FONT));
        ::GetTextExtentPoint32A(dc.dc(), text.c_str(), static_cast<int>(text.size()), &extent);
    }
    MoveWindow(rect.left, rect.top, extent.cx, extent.cy, true);
}

void CSkinHyperLink::SetUpControl()
{
    m_bAutoSize = true;
    FitToText();
    ModifyStyle(0, SS_NOTIFY);
}

void CSkinHyperLink::PreSubclassWindow()
{
    SetUpControl();
}

LRESULT CSkinHyperLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        const LRESULT result = Default(message, wParam, lParam);
        if (result == kCreateFailed)
            return result;
        SetUpControl();
        return result;
    }
    case WM_SETTEXT: {
        const LRESULT result = Default(message, wParam, lParam);
        if (m_bAutoSize)
            FitToText();
        return result;
    }
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_MOUSEMOVE: {
        const LRESULT result = Default(message, wParam, lParam);
        OnMouseMove();
        return result;
    }
    case WM_MOUSELEAVE:
        m_bMouseOver = false;
        RedrawNow();
        return 0;
    default:
        return Default(message, wParam, lParam);
    }
}

void CSkinHyperLink::OnMouseMove()
{
    if (m_bMouseOver)
        return;
    m_bMouseOver = true;
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = m_hWnd;
    track.dwHoverTime = HOVER_DEFAULT;
    ::_TrackMouseEvent(&track);
    RedrawNow();
}

void CSkinHyperLink::OnPaint()
{
    kvo::PaintGuard paint(m_hWnd);
    const HDC dc = paint.dc();
    if (!dc)
        return;
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    ::SetBkMode(dc, TRANSPARENT);
    kvo::unique_hgdiobj brush(::CreateSolidBrush(m_crBackground));
    if (brush)
        ::FillRect(dc, &client, static_cast<HBRUSH>(brush.get()));

    kvo::unique_hgdiobj customFont;
    if (m_bCustomFont) {
        LOGFONTA font{};
        const HGDIOBJ parentFont =
            reinterpret_cast<HGDIOBJ>(::SendMessageA(::GetParent(m_hWnd), WM_GETFONT, 0, 0));
        if (!parentFont || ::GetObjectA(parentFont, sizeof font, &font) != sizeof font)
            font = LOGFONTA{};
        if (m_bBold)
            font.lfWeight = kBoldWeight;
        if (m_bUnderline)
            font.lfUnderline = TRUE;
        font.lfHeight = m_nFontHeight;
        font.lfWidth = m_nFontWidth;
        std::memset(font.lfFaceName, 0, sizeof font.lfFaceName);
        if (m_pszFaceName)
            std::strncpy(font.lfFaceName, m_pszFaceName, sizeof font.lfFaceName - 1);
        customFont.reset(::CreateFontIndirectA(&font));
    }
    // Selected for this paint only; the guard goes before the font is deleted.
    kvo::SelectObjectGuard selected(dc, customFont ? customFont.get() : ::GetCurrentObject(dc, OBJ_FONT));

    const DWORD style = GetStyle();
    UINT format = kTextFormat;
    if (style & SS_RIGHT)
        format |= DT_RIGHT;
    else if (style & SS_CENTER)
        format |= DT_CENTER;
    const std::string text = GetWindowText();
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &client, format);
}
