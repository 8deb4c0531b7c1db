// A library planted in the program's folder under a system library's name: when anything loads
// it, it appends a line to the file named by KVO_PLANTED_TRACE. It exports the names a launcher
// would import, so a static import of them finds it; none of them does anything.
#include <windows.h>

extern "C" int PlantedStub()
{
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    char trace[MAX_PATH] = {};
    if (reason != DLL_PROCESS_ATTACH || !::GetEnvironmentVariableA("KVO_PLANTED_TRACE", trace, sizeof trace))
        return TRUE;
    const HANDLE file = ::CreateFileA(trace, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const char line[] = "loaded\r\n";
        DWORD written = 0;
        ::WriteFile(file, line, sizeof line - 1, &written, nullptr);
        ::CloseHandle(file);
    }
    return TRUE;
}
