// A static text control that paints itself: flat background, its own font, fit-to-text.
#pragma once
#include <windows.h>

#include "framework/Wnd.h"

class CSkinHyperLink : public kvo::CWnd {
public:
    CSkinHyperLink() = default;
    ~CSkinHyperLink() override = default;

    /// Stores the colour and redraws at once when the control has a window.
    void SetBackgroundColor(COLORREF color);
    /// Sizes the window to its text, measured in the control's own font; the top-left corner stays.
    void FitToText();

    bool m_bMouseOver = false;
    bool m_bUnderline = false;
    bool m_bBold = false;
    bool m_bAutoSize = true;
    bool m_bCustomFont = false;
    int m_nFontHeight = -12;
    int m_nFontWidth = 0;
    const char* m_pszFaceName = "宋体";
    COLORREF m_crBackground = RGB(250, 250, 250);

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    /// What creation and subclassing both do: fit to the text and ask for click notifications.
    void SetUpControl();
    void OnPaint();
    void OnMouseMove();
    /// Invalidates, erases and repaints at once.
    void RedrawNow() const;
};
