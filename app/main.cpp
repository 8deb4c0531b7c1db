// Entry point of KvoLauncher.exe.
#include <windows.h>

#include "app/KvoLauncherApp.h"
#include "framework/LibrarySearch.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    kvo::RestrictLibrarySearch();  // before anything loads a library by name
    return kvo::RunApplication(theApp);
}
