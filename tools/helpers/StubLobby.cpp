// Stand-in for the lobby program in tests.
//   KVOLobby.exe            appends its command line and working directory to lobby-started.txt
//                           beside itself, then exits; when lobby-crash.txt lies beside it (a
//                           release can bring one), it ends as a crash does, with 0xC0000005.
//   KVOLobby.exe --window   opens a top-level window of class "KVOGAME", writes lobby-window.txt
//                           beside itself, and waits until it is closed or killed (at most 5 minutes).
//   KVOLobby.exe --watch    holds the windowed lobby of lobby-window.txt (writes lobby-watched.txt
//                           then), waits for it to end and writes its exit code to lobby-exit.txt,
//                           as Windows has it: a Unix parent of a process ended from outside may
//                           see another.
#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr UINT_PTR kGiveUpTimer = 1;
constexpr UINT kGiveUpAfterMs = 5 * 60 * 1000;
/// The status of an access violation: the exit code a crashed program leaves (ended here without
/// the crash itself, which Wine would answer with its debugger).
constexpr UINT kAccessViolation = 0xC0000005;

std::string FileBesideMe(const char* name)
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    dir.erase(dir.rfind('\\') + 1);
    return dir + name;
}

LRESULT CALLBACK LobbyWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER || message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

int RunLobbyWindow()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = LobbyWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KVOGAME";
    ::RegisterClassA(&windowClass);
    HWND hwnd = ::CreateWindowA("KVOGAME", "Stub lobby", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    if (!hwnd)
        return 2;
    ::ShowWindow(hwnd, SW_SHOW);
    ::SetTimer(hwnd, kGiveUpTimer, kGiveUpAfterMs, nullptr);
    std::ofstream(FileBesideMe("lobby-window.txt")) << ::GetCurrentProcessId() << "\n";
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return 0;
}

int WatchLobbyWindow()
{
    DWORD processId = 0;
    std::ifstream(FileBesideMe("lobby-window.txt")) >> processId;
    const HANDLE lobby = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!lobby)
        return 2;
    std::ofstream(FileBesideMe("lobby-watched.txt")) << processId << "\n";
    DWORD exitCode = 0;
    ::WaitForSingleObject(lobby, kGiveUpAfterMs);
    ::GetExitCodeProcess(lobby, &exitCode);
    ::CloseHandle(lobby);
    std::ofstream(FileBesideMe("lobby-exit.txt")) << exitCode << "\n";
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandTail, int)
{
    if (std::strstr(commandTail, "--window"))
        return RunLobbyWindow();
    if (std::strstr(commandTail, "--watch"))
        return WatchLobbyWindow();
    char cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, cwd);
    std::ofstream record(FileBesideMe("lobby-started.txt"), std::ios::binary | std::ios::app);
    record << "cmdline=" << ::GetCommandLineA() << "\n" << "cwd=" << cwd << "\n";
    record.close();
    if (::GetFileAttributesA(FileBesideMe("lobby-crash.txt").c_str()) != INVALID_FILE_ATTRIBUTES)
        ::ExitProcess(kAccessViolation);
    return 0;
}
