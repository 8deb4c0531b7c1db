// Test helpers' search for a dialog (a message box or the progress window) of one program: other
// programs' dialogs on the same desktop, such as a unit test's, are never it.
#pragma once
#include <windows.h>

#include <cstring>

namespace helpers {

constexpr int kClassNameSize = 64;
constexpr char kDialogClass[] = "#32770";

/// True when `window` is a dialog titled `title` whose process runs `program`: a full path, or a
/// file name alone that the process's image ends with.
inline bool IsDialogOf(HWND window, const char* title, const char* program)
{
    char className[kClassNameSize] = {};
    char text[MAX_PATH] = {};
    if (::GetClassNameA(window, className, kClassNameSize) == 0 || std::strcmp(className, kDialogClass) != 0)
        return false;
    ::GetWindowTextA(window, text, MAX_PATH);
    if (std::strcmp(text, title) != 0)
        return false;
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return false;
    char image[MAX_PATH * 4] = {};
    DWORD size = sizeof image;
    const bool known = ::QueryFullProcessImageNameA(process, 0, image, &size) != FALSE;
    ::CloseHandle(process);
    const char* fileName = std::strrchr(image, '\\') ? std::strrchr(image, '\\') + 1 : image;
    return known && ::lstrcmpiA(std::strchr(program, '\\') ? image : fileName, program) == 0;
}

struct DialogSearch {
    const char* title;
    const char* program;
    HWND found = nullptr;
};

inline BOOL CALLBACK FindDialog(HWND window, LPARAM param)
{
    auto& search = *reinterpret_cast<DialogSearch*>(param);
    if (!IsDialogOf(window, search.title, search.program))
        return TRUE;
    search.found = window;
    return FALSE;
}

/// The first top-level dialog titled `title` of `program`, or null.
inline HWND FindDialogOf(const char* title, const char* program)
{
    DialogSearch search{title, program};
    ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace helpers
