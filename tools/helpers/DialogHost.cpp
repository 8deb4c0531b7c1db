// Shows the real progress window without an update run, for the window tests.
//
// Usage: DialogHost <program-dir\>. The dialog is created as start-up creates it; both timers are
// stopped at once, so no run starts and only commands repaint. Commands come one a line on stdin,
// each answered by one line on stdout:
//   state <fileCount> <filesLeft> <curFileSize> <curFileDone>  -> "ok"
//   paint            repaint now, with erasing                 -> "ok dots=<dot count>"
//   info             window and screen geometry                -> "info x y w h clientW clientH iconic visible screenW screenH"
//   menu             the system menu's last two entries        -> "menu <count> <sep|text> <id> <hex of the text>"
//   label <id>       one label control                         -> "label x y w h visible"
//   syscommand <n>   WM_SYSCOMMAND with wParam n               -> "ok"
//   dragicon         WM_QUERYDRAGICON                          -> "dragicon <1 when it is the window's icon>"
//   close            WM_CLOSE; the program ends with the window
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <deque>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "app/KvoLauncherApp.h"
#include "app/KvoLauncherDlg.h"
#include "framework/Sync.h"
#include "framework/Thread.h"

namespace {

constexpr UINT kCommandArrived = WM_APP + 1;
constexpr UINT kRepaintNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ERASENOW;
constexpr int kMenuTextSize = 256;

/// Lines read from stdin, handed to the window's thread.
struct CommandQueue {
    kvo::CCriticalSection cs;
    std::deque<std::string> lines;
    DWORD uiThread = 0;
};

unsigned ReadCommands(void* param)
{
    auto* queue = static_cast<CommandQueue*>(param);
    std::string line;
    bool more = true;
    while (more) {
        more = static_cast<bool>(std::getline(std::cin, line));
        if (!more)
            line = "close";  // the driver went away: end with it
        {
            kvo::CSingleLock lock(queue->cs);
            queue->lines.push_back(line);
        }
        ::PostThreadMessageA(queue->uiThread, kCommandArrived, 0, 0);
    }
    return 0;
}

void Reply(const std::string& text)
{
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0xF];
    }
    return hex;
}

std::string MenuReport(HWND hwnd)
{
    const HMENU menu = ::GetSystemMenu(hwnd, FALSE);
    const int count = menu ? ::GetMenuItemCount(menu) : 0;
    if (count < 2)
        return "menu " + std::to_string(count) + " none 0 -";
    MENUITEMINFOA separator{};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    ::GetMenuItemInfoA(menu, static_cast<UINT>(count - 2), TRUE, &separator);
    char text[kMenuTextSize] = {};
    MENUITEMINFOA last{};
    last.cbSize = sizeof last;
    last.fMask = MIIM_ID | MIIM_STRING;
    last.dwTypeData = text;
    last.cch = kMenuTextSize;
    ::GetMenuItemInfoA(menu, static_cast<UINT>(count - 1), TRUE, &last);
    return "menu " + std::to_string(count) + ((separator.fType & MFT_SEPARATOR) ? " sep " : " text ") +
           std::to_string(last.wID) + " " + Hex(text);
}

std::string InfoReport(HWND hwnd)
{
    RECT window{};
    RECT client{};
    ::GetWindowRect(hwnd, &window);
    ::GetClientRect(hwnd, &client);
    std::ostringstream out;
    out << "info " << window.left << ' ' << window.top << ' ' << window.right - window.left << ' '
        << window.bottom - window.top << ' ' << client.right << ' ' << client.bottom << ' '
        << (::IsIconic(hwnd) ? 1 : 0) << ' ' << (::IsWindowVisible(hwnd) ? 1 : 0) << ' '
        << ::GetSystemMetrics(SM_CXSCREEN) << ' ' << ::GetSystemMetrics(SM_CYSCREEN);
    return out.str();
}

std::string LabelReport(HWND hwnd, int id)
{
    const HWND label = ::GetDlgItem(hwnd, id);
    RECT rect{};
    ::GetWindowRect(label, &rect);
    ::MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&rect), 2);
    std::ostringstream out;
    out << "label " << rect.left << ' ' << rect.top << ' ' << rect.right - rect.left << ' ' << rect.bottom - rect.top
        << ' ' << (::IsWindowVisible(label) ? 1 : 0);
    return out.str();
}

/// Runs one command line against the dialog.
void Execute(CKvoLauncherDlg& dialog, const std::string& line)
{
    const HWND hwnd = dialog.GetSafeHwnd();
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "state") {
        long long fileCount = 0, filesLeft = 0, size = 0, done = 0;
        in >> fileCount >> filesLeft >> size >> done;
        CUpdateEngine& engine = dialog.Engine();
        engine.m_nFileCount = static_cast<int>(fileCount);
        engine.m_nFilesLeft = static_cast<int>(filesLeft);
        engine.m_nCurFileSize = static_cast<std::uint32_t>(size);
        engine.m_nCurFileDone = static_cast<std::uint32_t>(done);
        Reply("ok");
    } else if (command == "paint") {
        ::RedrawWindow(hwnd, nullptr, nullptr, kRepaintNow);
        ::GdiFlush();
        Reply("ok dots=" + std::to_string(dialog.m_nDotCount));
    } else if (command == "info") {
        Reply(InfoReport(hwnd));
    } else if (command == "menu") {
        Reply(MenuReport(hwnd));
    } else if (command == "label") {
        int id = 0;
        in >> id;
        Reply(LabelReport(hwnd, id));
    } else if (command == "syscommand") {
        unsigned long code = 0;
        in >> code;
        ::SendMessageA(hwnd, WM_SYSCOMMAND, code, 0);
        Reply("ok");
    } else if (command == "dragicon") {
        const LRESULT icon = ::SendMessageA(hwnd, WM_QUERYDRAGICON, 0, 0);
        Reply(std::string("dragicon ") +
              (icon && reinterpret_cast<HICON>(icon) == dialog.m_hIcon ? "1" : "0"));
    } else if (command == "close") {
        ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
    } else {
        Reply("error unknown command");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: DialogHost <program-dir\\>\n", stderr);
        return 2;
    }
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    auto owner = std::make_unique<CKvoLauncherDlg>(std::make_unique<CUpdateEngine>(argv[1]));
    if (!owner->Create(nullptr)) {
        std::fputs("the dialog could not be created\n", stderr);
        return 1;
    }
    CKvoLauncherDlg& dialog = *owner.release();  // the window deletes it from now on
    const HWND hwnd = dialog.GetSafeHwnd();
    ::KillTimer(hwnd, CKvoLauncherDlg::IDT_START_UPDATE);
    ::KillTimer(hwnd, CKvoLauncherDlg::IDT_REPAINT);
    theApp.m_hMainWnd = hwnd;
    ::ShowWindow(hwnd, SW_SHOW);
    ::UpdateWindow(hwnd);

    static CommandQueue queue;  // outlives the reader, which may still be blocked at exit
    queue.uiThread = ::GetCurrentThreadId();
    MSG peek;
    ::PeekMessageA(&peek, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue must exist first
    if (!kvo::BeginWorkerThread(ReadCommands, &queue))
        return 1;
    Reply("ready");

    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!msg.hwnd && msg.message == kCommandArrived) {
            for (;;) {
                std::string line;
                {
                    kvo::CSingleLock lock(queue.cs);
                    if (queue.lines.empty())
                        break;
                    line = queue.lines.front();
                    queue.lines.pop_front();
                }
                if (theApp.m_hMainWnd)
                    Execute(dialog, line);
            }
            continue;
        }
        if (theApp.m_hMainWnd && ::IsDialogMessageA(theApp.m_hMainWnd, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return 0;
}
