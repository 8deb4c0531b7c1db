#include "update/SelfUpdate.h"

#include <windows.h>

#include <atomic>

#include "framework/LibrarySearch.h"
#include "framework/Sync.h"

namespace {

/// Held for the two renames of a swap.
kvo::CCriticalSection g_swap;
std::atomic<void (*)()> g_swapHook{nullptr};

bool EqualNoCase(const std::string& left, const std::string& right)
{
    return left.size() == right.size() && ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, left.c_str(),
                                                           static_cast<int>(left.size()), right.c_str(),
                                                           static_cast<int>(right.size())) == CSTR_EQUAL;
}

kvo::CFileException LastFileError(const std::string& path)
{
    return kvo::CFileException(kvo::CFileException::generic, static_cast<long>(::GetLastError()), path);
}

}  // namespace

bool IsRunningProgram(const std::string& path)
{
    const std::string program = kvo::RunningProgramPath();
    return !program.empty() && EqualNoCase(path, program);
}

bool ReplaceRunningProgram(const std::string& newFile, const std::string& program, kvo::CFileException& error)
{
    const std::string old = program + kOldProgramSuffix;
    kvo::CSingleLock swapping(g_swap);
    ::SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(old.c_str());  // a copy a failed cleanup left; if it stays, the rename below fails
    if (!::MoveFileExA(program.c_str(), old.c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = LastFileError(program);
        return false;
    }
    if (const auto hook = g_swapHook.load())
        hook();
    if (!::MoveFileExA(newFile.c_str(), program.c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = LastFileError(program);
        ::MoveFileExA(old.c_str(), program.c_str(), MOVEFILE_WRITE_THROUGH);  // the running copy goes back
        return false;
    }
    return true;
}

void WaitForProgramSwap() noexcept
{
    kvo::CSingleLock waiting(g_swap);
}

void SetProgramSwapHookForTesting(void (*hook)()) noexcept
{
    g_swapHook = hook;
}

void RemoveOldProgramCopy() noexcept
{
    try {
        const std::string program = kvo::RunningProgramPath();
        if (!program.empty())
            ::DeleteFileA((program + kOldProgramSuffix).c_str());
    } catch (const std::exception&) {
        // nothing to clean up, or nothing that can be: the next start tries again
    }
}
