// Test and benchmark helper: how well a window answers while it lives.
//   ProbeWindow.exe <timeout-ms> <program path>
// Waits up to <timeout-ms> for the progress window (a dialog without a title of the process that
// runs <program path>; other programs' dialogs on the same desktop are not it), then sends it
// WM_NULL every 200 ms with SendMessageTimeout until it is gone, and prints
// "probes=<n> longest_ms=<the longest time between two answers>", exit 0; 2 when no window came.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "LauncherDialog.h"

namespace {

constexpr DWORD kPollIntervalMs = 50;
constexpr DWORD kProbeIntervalMs = 200;
constexpr UINT kGiveUpMs = 30000;  // a window silent this long is hung: the answer is "no"

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: ProbeWindow <timeout-ms> <program path>\n");
        return 1;
    }
    const DWORD deadline = ::GetTickCount() + std::strtoul(argv[1], nullptr, 10);
    HWND window = nullptr;
    while (!(window = helpers::FindDialogOf("", argv[2]))) {
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
