#include "framework/LibrarySearch.h"

#include <new>

namespace {

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
#endif
constexpr DWORD kModuleNameBufferSize = MAX_PATH * 4;
constexpr UINT kSystemDirectoryBufferSize = MAX_PATH;
const char kKernelLibrary[] = "kernel32.dll";
const char kSetDefaultDllDirectories[] = "SetDefaultDllDirectories";

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

}  // namespace

namespace kvo {

void RestrictLibrarySearch() noexcept
{
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA(kKernelLibrary), kSetDefaultDllDirectories)));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    ::SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* name) noexcept
{
    if (const HMODULE module = ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        return module;
    if (::GetLastError() != ERROR_INVALID_PARAMETER)
        return nullptr;  // the flag is known, and the library is not in the system directory
    // A system without the flag: the full path, and the library's own imports searched from there.
    char directory[kSystemDirectoryBufferSize] = {};
    const UINT length = ::GetSystemDirectoryA(directory, kSystemDirectoryBufferSize);
    if (length == 0 || length >= kSystemDirectoryBufferSize)
        return nullptr;
    try {
        const std::string path = std::string(directory, length) + "\\" + name;
        return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::string RunningProgramPath()
{
    char moduleName[kModuleNameBufferSize] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, moduleName, kModuleNameBufferSize);
    return length == 0 || length >= kModuleNameBufferSize ? std::string() : std::string(moduleName, length);
}

std::string ProgramDirectoryFile(const char* name)
{
    std::string path = RunningProgramPath();
    if (path.empty())
        return path;
    path.erase(path.rfind('\\') + 1);  // a full module path always has a backslash
    return path + name;
}

HMODULE LoadProgramDirectoryLibrary(const char* name) noexcept
{
    try {
        const std::string path = ProgramDirectoryFile(name);
        if (path.empty() || ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return nullptr;
        // A full path: the library itself is never searched for; its own imports follow the
        // process's default search, which start-up restricted to the system directory.
        return ::LoadLibraryExA(path.c_str(), nullptr, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace kvo
