// Entry point of KvoLauncher.exe.
#include <windows.h>

#include "framework/App.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return kvo::RunApplication();
}
