// Test helper: waits for a message box (or the untitled progress window) of a running
// KvoLauncher.exe with the given caption and presses one of its buttons.
//   AnswerBox.exe <caption-hex> <ok|cancel|none> <timeout-ms>   (none: only report the box)
// The caption is given as hex bytes in the ANSI code page (command lines lose non-ASCII text).
// Prints "owner=<0|1> text=<hex of the box's text>" and exits 0 when answered, 2 on timeout.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "LauncherDialog.h"

namespace {

constexpr DWORD kPollIntervalMs = 50;
constexpr int kMessageTextControlId = 0xFFFF;  // the static control that holds a message box's text
constexpr char kLauncherProgram[] = "KvoLauncher.exe";  // whatever the directory it runs from

std::string FromHex(const char* hex)
{
    std::string bytes;
    for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        const char pair[3] = {hex[i], hex[i + 1], '\0'};
        bytes.push_back(static_cast<char>(std::strtoul(pair, nullptr, 16)));
    }
    return bytes;
}

std::string ToHex(const std::string& bytes)
{
    std::string hex;
    char pair[3];
    for (unsigned char byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: AnswerBox <caption-hex> <ok|cancel|none> <timeout-ms>\n");
        return 1;
    }
    const std::string caption = FromHex(argv[1]);
    const bool press = std::strcmp(argv[2], "none") != 0;
    const int button = std::strcmp(argv[2], "ok") == 0 ? IDOK : IDCANCEL;
    const DWORD deadline = ::GetTickCount() + std::strtoul(argv[3], nullptr, 10);

    HWND box = nullptr;
    while (!(box = helpers::FindDialogOf(caption.c_str(), kLauncherProgram))) {
        if (static_cast<LONG>(::GetTickCount() - deadline) > 0)
            return 2;
        ::Sleep(kPollIntervalMs);
    }
    char text[1024] = {};
    ::GetDlgItemTextA(box, kMessageTextControlId, text, sizeof text);
    const bool owned = ::GetWindow(box, GW_OWNER) != nullptr;
    std::printf("owner=%d text=%s\n", owned ? 1 : 0, ToHex(text).c_str());
    std::fflush(stdout);
    if (press)
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    return 0;
}
