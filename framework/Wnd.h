// Window objects: this-pointer attached to the window, one virtual message handler.
#pragma once
#include <windows.h>

#include <string>

namespace kvo {

/// A window the program talks to through its handle.
class CWnd {
public:
    CWnd() noexcept = default;
    /// Detaches from a window that is still subclassed (the window outlives the object).
    virtual ~CWnd();
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
    DWORD GetStyle() const noexcept { return static_cast<DWORD>(::GetWindowLongPtrA(m_hWnd, GWL_STYLE)); }
    /// Removes then adds window style bits.
    void ModifyStyle(DWORD remove, DWORD add) const noexcept;
    bool MoveWindow(int x, int y, int width, int height, bool repaint = true) const noexcept
    {
        return ::MoveWindow(m_hWnd, x, y, width, height, repaint) != FALSE;
    }
    bool RedrawWindow(UINT flags) const noexcept { return ::RedrawWindow(m_hWnd, nullptr, nullptr, flags) != FALSE; }
    /// Centres the window over its owner, or over the work area of its monitor when it has none.
    void CenterWindow() const noexcept;

    /// Routes the messages of the existing window `hwnd` through WindowProc (PreSubclassWindow first).
    bool SubclassWindow(HWND hwnd) noexcept;
    /// SubclassWindow of the child control `id` of `parent`.
    bool SubclassDlgItem(UINT id, HWND parent) noexcept;

    HWND m_hWnd = nullptr;

protected:
    /// Last chance to adjust a window that is about to be subclassed; m_hWnd is set already.
    virtual void PreSubclassWindow() {}
    /// One message of a subclassed window; the default passes it on to the window's own procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    /// The window's own handling of a message (the procedure in place before subclassing).
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR refData);
    void Unsubclass() noexcept;

    bool m_bSubclassed = false;
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
