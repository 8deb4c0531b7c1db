#include "framework/App.h"

namespace kvo {

CWinApp* CWinApp::s_pApp = nullptr;

CWinApp::CWinApp() noexcept { s_pApp = this; }

CWinApp::~CWinApp()
{
    if (s_pApp == this)
        s_pApp = nullptr;
}

HINSTANCE CWinApp::GetResourceHandle() noexcept { return ::GetModuleHandleA(nullptr); }

void CWinApp::OnWindowDestroyed(HWND hwnd) noexcept
{
    if (s_pApp && s_pApp->m_hMainWnd == hwnd) {
        s_pApp->m_hMainWnd = nullptr;
        ::PostQuitMessage(0);
    }
}

int CWinApp::Run()
{
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (m_hMainWnd && ::IsDialogMessageA(m_hMainWnd, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int RunApplication(CWinApp& app) noexcept
{
    try {
        if (!app.InitInstance())
            return 0;
        return app.Run();
    } catch (...) {
        // Nothing may end the launcher abnormally; an escaped error ends it quietly.
        return 1;
    }
}

}  // namespace kvo
