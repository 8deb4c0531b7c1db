// Entry point of KvoLauncher.exe.
#include <windows.h>

#include "app/KvoLauncherApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return kvo::RunApplication(theApp);
}
