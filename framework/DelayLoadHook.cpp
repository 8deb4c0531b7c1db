// The delay-load helper's notification hook: every delay-loaded system library comes from the
// system directory (kvo::LoadSystemLibrary), never from the helper's own LoadLibraryA, whose
// search starts in the program's folder. Every program that links the framework takes this
// definition rather than the runtime's empty one (see framework/CMakeLists.txt).
#include <windows.h>

#include <delayimp.h>

#include "framework/LibrarySearch.h"

namespace {

FARPROC WINAPI LoadFromSystemDirectory(unsigned notification, PDelayLoadInfo info)
{
    if (notification != dliNotePreLoadLibrary)
        return nullptr;  // the helper's own handling
    if (const HMODULE module = kvo::LoadSystemLibrary(info->szDll))
        return reinterpret_cast<FARPROC>(module);
    // Not in the system directory: a module that exports nothing of it, so the call fails
    // with the helper's delay-load exception instead of a search of the program's folder.
    return reinterpret_cast<FARPROC>(::GetModuleHandleA(nullptr));
}

}  // namespace

PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemDirectory;  // declared extern "C" by <delayimp.h>
