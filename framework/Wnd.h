// Window objects: this-pointer attached to the window, one virtual message handler.
#pragma once
#include <windows.h>

#include <string>

namespace kvo {

/// A window the program talks to through its handle.
class CWnd {
public:
    CWnd() noexcept = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const noexcept { return m_hWnd; }
    operator HWND() const noexcept { return m_hWnd; }

    void SetWindowText(const char* text) const noexcept { ::SetWindowTextA(m_hWnd, text); }
    std::string GetWindowText() const;
    void Invalidate(bool erase = true) const noexcept { ::InvalidateRect(m_hWnd, nullptr, erase); }
    bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const noexcept
    {
        return ::PostMessageA(m_hWnd, message, wParam, lParam) != FALSE;
    }

    HWND m_hWnd = nullptr;
};

/// Modeless dialog on a dialog template of the program's own module.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId) noexcept : m_nTemplateId(templateId) {}

    /// Creates the window (WM_INITDIALOG runs inside). Returns false when it could not be made.
    bool Create(HWND parent = nullptr);
    bool DestroyWindow() noexcept;

protected:
    /// Binds child controls to members; called first by the base OnInitDialog.
    virtual void DoDataExchange() {}
    virtual BOOL OnInitDialog();
    virtual void OnOK() {}
    /// Escape, the system menu's Close and WM_CLOSE all arrive here.
    virtual void OnCancel() { DestroyWindow(); }
    /// Last call with the window gone; an owner that deletes the object does it here.
    virtual void PostNcDestroy() {}

    /// Handles one message. Returns true when handled, with `result` the message result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
};

}  // namespace kvo
