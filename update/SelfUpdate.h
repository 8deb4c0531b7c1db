// The launcher replacing itself: a running program cannot be overwritten, but it can be renamed,
// so the old copy steps aside as "<name>.old" and is removed at the next start.
#pragma once
#include <string>

#include "framework/Exceptions.h"

/// The suffix of the launcher's previous copy, beside it until the next start.
inline constexpr char kOldProgramSuffix[] = ".old";

/// True when `path` names the running program's own file (compared without case).
bool IsRunningProgram(const std::string& path);

/// Puts the complete, verified file `newFile` in place of the running program `program`: the
/// program is renamed to program + kOldProgramSuffix (an earlier such copy removed first), then
/// `newFile` is moved to its name. On any failure the running program keeps its name and
/// `newFile` stays where it was; false, with `error` filled. The two renames are one step for
/// WaitForProgramSwap.
bool ReplaceRunningProgram(const std::string& newFile, const std::string& program, kvo::CFileException& error);

/// Returns once no ReplaceRunningProgram is between its renames: whoever ends the process at once
/// calls it first, so the program folder never holds the old copy without the program.
void WaitForProgramSwap() noexcept;

/// Called between the two renames of ReplaceRunningProgram (null: nothing). For tests.
void SetProgramSwapHookForTesting(void (*hook)()) noexcept;

/// Removes the previous copy left by a self-update (nothing when there is none). Called once a
/// manifest was verified at start-up: until then the copy that ran before stays for the operator.
void RemoveOldProgramCopy() noexcept;
