// Where the program looks for libraries. It runs elevated from a folder that ordinary users may
// be able to write to, so no library it needs may be taken from there, from the current directory
// or from PATH.
#pragma once
#include <windows.h>

#include <string>

namespace kvo {

/// Restricts later loads of libraries by bare name (LoadLibrary, and the imports of the libraries
/// loaded that way) to the system directory: SetDefaultDllDirectories where the system has it
/// (Windows 8, or Windows 7 with KB2533623), else only removes the current directory from the
/// search (SetDllDirectoryA("")), which still leaves the program's folder first. It cannot reach
/// the static imports, which the loader resolved before the program's first line: those are
/// KnownDLLs only, and every other system library is delay-loaded through LoadSystemLibrary.
/// Call first thing at start-up.
void RestrictLibrarySearch() noexcept;

/// Loads the system library `name` ("wininet.dll") from the system directory and nowhere else,
/// whatever the process's search order: LOAD_LIBRARY_SEARCH_SYSTEM32 where the system knows it
/// (side-by-side redirection still applies, so the common controls come from the system's
/// assembly store), else by its full path under GetSystemDirectory with the altered search for
/// its own imports. Null when it cannot be loaded from there.
HMODULE LoadSystemLibrary(const char* name) noexcept;

/// The full path of the running program's own file, as GetModuleFileNameA gives it; "" when it
/// does not fit.
std::string RunningProgramPath();

/// The full path of `name` in the directory of the running program.
std::string ProgramDirectoryFile(const char* name);

/// Loads `name` from the running program's directory only, by its full path; null when it is not
/// there or does not load.
HMODULE LoadProgramDirectoryLibrary(const char* name) noexcept;

}  // namespace kvo
