// The launcher as it started while its system libraries were static imports: every one of them
// loaded before the program's first line, whether the start needs it or not. Against the real
// launcher it shows what loading them on first use saves a start with no update due.
#include <windows.h>

#include "app/KvoLauncherApp.h"
#include "framework/LibrarySearch.h"

namespace {
const char* const kOnceStaticImports[] = {"bcrypt.dll", "comctl32.dll", "gdiplus.dll",
                                          "msimg32.dll", "version.dll", "wininet.dll"};
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    for (const char* library : kOnceStaticImports)
        kvo::LoadSystemLibrary(library);
    kvo::RestrictLibrarySearch();
    return kvo::RunApplication(theApp);
}
