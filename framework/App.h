// The application object: start-up decision and the message loop of the main window.
#pragma once
#include <windows.h>

namespace kvo {

class CWinApp {
public:
    CWinApp() noexcept;
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    /// Start-up. True: a main window exists and the message loop runs until it is destroyed.
    virtual BOOL InitInstance() { return TRUE; }
    /// Runs the message loop; returns the exit code.
    virtual int Run();

    static CWinApp* GetApp() noexcept { return s_pApp; }
    static HINSTANCE GetResourceHandle() noexcept;
    /// Called by every framework window as it goes; the loop ends with the main window.
    static void OnWindowDestroyed(HWND hwnd) noexcept;

    HWND m_hMainWnd = nullptr;

private:
    static CWinApp* s_pApp;
};

/// The program's entry: InitInstance of `app`, then the loop when it returned true.
int RunApplication(CWinApp& app) noexcept;

}  // namespace kvo
