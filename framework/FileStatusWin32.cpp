#include "framework/FileStatus.h"

#include <windows.h>

#include "framework/File.h"
#include "framework/Handles.h"

namespace kvo {

namespace {

constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;        // FILETIME counts 100 ns
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;

/// The attributes a program may set; the rest (directory, compressed, encrypted...) are the file
/// system's own and are neither compared nor asked for.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

FILETIME ToFileTime(std::int64_t unixSeconds)
{
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(unixSeconds + kSecondsFrom1601To1970) * kFileTimeTicksPerSecond;
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}

[[noreturn]] void ThrowFor(const std::string& path)
{
    const DWORD lastError = ::GetLastError();
    const int cause = lastError == ERROR_FILE_NOT_FOUND   ? CFileException::fileNotFound
                      : lastError == ERROR_ACCESS_DENIED  ? CFileException::accessDenied
                      : lastError == ERROR_PATH_NOT_FOUND ? CFileException::badPath
                                                          : CFileException::generic;
    throw CFileException(cause, static_cast<long>(lastError), path);
}

void CheckRepresentable(const CFileStatus& status, const std::string& path)
{
    // Times before 1601 do not exist for the file system.
    for (const std::int64_t seconds : {status.m_ctime, status.m_mtime, status.m_atime}) {
        if (seconds < -kSecondsFrom1601To1970) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            ThrowFor(path);
        }
    }
}

void StampHandle(HANDLE file, const CFileStatus& status, const std::string& path)
{
    const FILETIME created = ToFileTime(status.m_ctime);
    const FILETIME accessed = ToFileTime(status.m_atime);
    const FILETIME modified = ToFileTime(status.m_mtime);
    if (!::SetFileTime(file, &created, &accessed, &modified))
        ThrowFor(path);
}

}  // namespace

void SetFileTimes(const std::string& path, const CFileStatus& status)
{
    CheckRepresentable(status, path);
    unique_hfile file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        ThrowFor(path);
    StampHandle(file.get(), status, path);
}

void SetFileTimes(CFile& file, const CFileStatus& status)
{
    CheckRepresentable(status, file.GetFilePath());
    StampHandle(file.GetHandle(), status, file.GetFilePath());
}

bool SetFileAttributeWord(const std::string& path, std::uint16_t attributes) noexcept
{
    // Asking opens nothing, setting opens the file: most entries want what a new file has already.
    const DWORD present = ::GetFileAttributesA(path.c_str());
    if (present != INVALID_FILE_ATTRIBUTES && (present & kSettableAttributes) == (attributes & kSettableAttributes))
        return true;
    return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

bool SetFileAttributeWord(CFile& file, std::uint16_t attributes) noexcept
{
    // Asked first, by its path (which opens nothing): most entries want what a new file has already.
    const DWORD present = ::GetFileAttributesA(file.GetFilePath().c_str());
    const DWORD wanted = attributes & kSettableAttributes;
    if (present != INVALID_FILE_ATTRIBUTES && (present & kSettableAttributes) == wanted)
        return true;
    FILE_BASIC_INFO info{};  // times of 0 stay as they are
    info.FileAttributes = wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL;  // 0 would change nothing
    return ::SetFileInformationByHandle(file.GetHandle(), FileBasicInfo, &info, sizeof info) != FALSE;
}

}  // namespace kvo
