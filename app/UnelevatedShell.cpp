#include "app/UnelevatedShell.h"

#include <windows.h>
#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "framework/ComPtr.h"
#include "framework/Handles.h"

namespace {

const char kOpenVerb[] = "OPEN";
const wchar_t kOpenVerbWide[] = L"open";
/// ShellExecute's results above this value are success.
constexpr INT_PTR kShellExecuteErrorLimit = 32;

bool IsElevated()
{
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return true;  // unknown: treated as elevated, so no browser is started with our rights
    const kvo::unique_handle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return true;
    return elevation.TokenIsElevated != 0;
}

bool OpenDirectly(const char* url)
{
    return reinterpret_cast<INT_PTR>(::ShellExecuteA(nullptr, kOpenVerb, url, nullptr, nullptr, SW_SHOWNORMAL)) >
           kShellExecuteErrorLimit;
}

/// The shell's automation object of the desktop window, which runs in Explorer's process.
kvo::CComPtr<IShellDispatch2> DesktopShellDispatch()
{
    kvo::CComPtr<IShellWindows> windows;
    if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  windows.PutVoid())))
        return {};
    VARIANT desktop{};
    desktop.vt = VT_I4;
    desktop.lVal = CSIDL_DESKTOP;
    VARIANT empty{};
    long window = 0;
    kvo::CComPtr<IDispatch> found;
    if (windows->FindWindowSW(&desktop, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, found.Put()) != S_OK ||
        !found)
        return {};
    kvo::CComPtr<IServiceProvider> services;
    kvo::CComPtr<IShellBrowser> browser;
    kvo::CComPtr<IShellView> view;
    kvo::CComPtr<IDispatch> background;
    kvo::CComPtr<IShellFolderViewDual> folderView;
    kvo::CComPtr<IDispatch> application;
    kvo::CComPtr<IShellDispatch2> shell;
    if (FAILED(found.QueryInterface(IID_IServiceProvider, services)) ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.PutVoid())) ||
        FAILED(browser->QueryActiveShellView(view.Put())) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.PutVoid())) ||
        FAILED(background.QueryInterface(IID_IShellFolderViewDual, folderView)) ||
        FAILED(folderView->get_Application(application.Put())) ||
        FAILED(application.QueryInterface(IID_IShellDispatch2, shell)))
        return {};
    return shell;
}

/// A BSTR of `text` in the system's code page.
kvo::unique_bstr AnsiBstr(const char* text)
{
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return kvo::unique_bstr();
    kvo::unique_bstr result(::SysAllocStringLen(nullptr, static_cast<UINT>(length - 1)));
    if (result)
        ::MultiByteToWideChar(CP_ACP, 0, text, -1, result.get(), length);
    return result;
}

bool OpenThroughDesktopShell(const char* url)
{
    // Any thread may ask: the box that offers the site is shown on the run's workers too.
    const HRESULT initialised = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool opened = false;
    {
        const kvo::CComPtr<IShellDispatch2> shell = DesktopShellDispatch();
        const kvo::unique_bstr file = AnsiBstr(url);
        const kvo::unique_bstr verb(::SysAllocString(kOpenVerbWide));
        if (shell && file && verb) {
            VARIANT none{};
            VARIANT operation{};
            operation.vt = VT_BSTR;
            operation.bstrVal = verb.get();
            VARIANT show{};
            show.vt = VT_I4;
            show.lVal = SW_SHOWNORMAL;
            opened = SUCCEEDED(shell->ShellExecute(file.get(), none, none, operation, show));
        }
    }
    if (SUCCEEDED(initialised))
        ::CoUninitialize();
    return opened;
}

const WebSiteRoutes kSystemRoutes{IsElevated, OpenThroughDesktopShell, OpenDirectly};

}  // namespace

bool OpenWebSiteUnelevated(const char* url, const WebSiteRoutes& routes)
{
    if (!routes.isElevated())
        return routes.direct(url);
    return routes.throughDesktopShell(url);
}

const WebSiteRoutes& SystemWebSiteRoutes() { return kSystemRoutes; }
