// Test and benchmark helper: how well a window answers while it lives.
//   ProbeWindow.exe <timeout-ms> <program path>
// Waits up to <timeout-ms> for the progress window (a dialog without a title of the process that
// runs <program path>; other programs' dialogs on the same desktop are not it), then sends it
// WM_NULL every 200 ms with SendMessageTimeout until it is gone, and prints
// "probes=<n> longest_ms=<the longest time between two answers>", exit 0; 2 when no window came.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kPollIntervalMs = 50;
constexpr DWORD kProbeIntervalMs = 200;
constexpr UINT kGiveUpMs = 30000;  // a window silent this long is hung: the answer is "no"
constexpr int kClassNameSize = 64;

struct Search {
    const char* program;
    HWND found = nullptr;
};

/// True when `window` is a dialog without a title whose process runs `program`.
bool IsProgressWindowOf(HWND window, const char* program)
{
    char className[kClassNameSize] = {};
    if (::GetClassNameA(window, className, kClassNameSize) == 0 || std::strcmp(className, "#32770") != 0 ||
        ::GetWindowTextLengthA(window) != 0)
        return false;
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return false;
    char image[MAX_PATH * 4] = {};
    DWORD size = sizeof image;
    const bool same = ::QueryFullProcessImageNameA(process, 0, image, &size) && ::lstrcmpiA(image, program) == 0;
    ::CloseHandle(process);
    return same;
}

BOOL CALLBACK FindProgressWindow(HWND window, LPARAM param)
{
    auto& search = *reinterpret_cast<Search*>(param);
    if (!IsProgressWindowOf(window, search.program))
        return TRUE;
    search.found = window;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: ProbeWindow <timeout-ms> <program path>\n");
        return 1;
    }
    const DWORD deadline = ::GetTickCount() + std::strtoul(argv[1], nullptr, 10);
    Search search{argv[2]};
    HWND window = nullptr;
    while (::EnumWindows(FindProgressWindow, reinterpret_cast<LPARAM>(&search)), !(window = search.found)) {
        if (static_cast<LONG>(::GetTickCount() - deadline) > 0)
            return 2;
        ::Sleep(kPollIntervalMs);
    }
    unsigned probes = 0;
    DWORD longest = 0;
    DWORD lastAnswer = ::GetTickCount();
    while (::IsWindow(window)) {
        DWORD_PTR ignored = 0;
        if (!::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kGiveUpMs, &ignored))
            break;  // gone meanwhile, or hung for good
        const DWORD now = ::GetTickCount();
        if (now - lastAnswer > longest)
            longest = now - lastAnswer;
        lastAnswer = now;
        ++probes;
        ::Sleep(kProbeIntervalMs);
    }
    std::printf("probes=%u longest_ms=%lu\n", probes, static_cast<unsigned long>(longest));
    return 0;
}
