// Where the program looks for libraries. It runs elevated, so a library planted in the current
// directory or on PATH must never be loaded into it.
#pragma once
#include <windows.h>

#include <string>

namespace kvo {

/// Restricts later library loads by name to the system directory: SetDefaultDllDirectories where
/// the system has it (Windows 8, or Windows 7 with KB2533623), else at least removes the current
/// directory from the search (SetDllDirectoryA("")). Call first thing at start-up.
void RestrictLibrarySearch() noexcept;

/// The full path of the running program's own file, as GetModuleFileNameA gives it; "" when it
/// does not fit.
std::string RunningProgramPath();

/// The full path of `name` in the directory of the running program.
std::string ProgramDirectoryFile(const char* name);

/// Loads `name` from the running program's directory only, by its full path; null when it is not
/// there or does not load.
HMODULE LoadProgramDirectoryLibrary(const char* name) noexcept;

}  // namespace kvo
