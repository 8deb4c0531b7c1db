#include "app/Desktop.h"

#include <vector>

#include "app/UnelevatedShell.h"
#include "framework/Handles.h"

namespace {

class CSystemDesktop final : public IDesktop {
public:
    int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) override
    {
        return ::MessageBoxA(owner, text, caption, type);
    }

    kvo::unique_handle StartProgram(const std::string& programPath, const std::string& commandLine) override
    {
        // The program file is named explicitly, so a path with spaces can never run another program.
        std::vector<char> mutableCommandLine(commandLine.begin(), commandLine.end());
        mutableCommandLine.push_back('\0');
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOW;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessA(programPath.c_str(), mutableCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &process))
            return kvo::unique_handle();
        const kvo::unique_handle thread(process.hThread);
        return kvo::unique_handle(process.hProcess);
    }

    bool OpenWebSite(const char* url) override { return OpenWebSiteUnelevated(url, SystemWebSiteRoutes()); }
};

CSystemDesktop g_systemDesktop;
IDesktop* g_desktop = &g_systemDesktop;

}  // namespace

IDesktop& Desktop() { return *g_desktop; }

void SetDesktopForTesting(IDesktop* desktop) { g_desktop = desktop ? desktop : &g_systemDesktop; }
