#include "framework/FileStatus.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

#include "framework/File.h"

namespace kvo {

namespace {

constexpr std::uint16_t kAttributeReadOnly = 0x0001;  // FILE_ATTRIBUTE_READONLY
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

/// Access and modification time in the order utimensat and futimens take them.
struct AccessAndModification {
    timespec times[2] = {};
    explicit AccessAndModification(const CFileStatus& status)
    {
        times[0].tv_sec = static_cast<time_t>(status.m_atime);
        times[1].tv_sec = static_cast<time_t>(status.m_mtime);
    }
};

[[noreturn]] void ThrowFor(const std::string& path)
{
    const int error = errno;
    throw CFileException(error == ENOENT ? CFileException::fileNotFound : CFileException::generic, error, path);
}

}  // namespace

void SetFileTimes(const std::string& path, const CFileStatus& status)
{
    const AccessAndModification stamp(status);
    if (::utimensat(AT_FDCWD, path.c_str(), stamp.times, 0) != 0)
        ThrowFor(path);
}

void SetFileTimes(CFile& file, const CFileStatus& status)
{
    const AccessAndModification stamp(status);
    if (::futimens(file.GetHandle(), stamp.times) != 0)
        ThrowFor(file.GetFilePath());
}

bool SetFileAttributeWord(const std::string& path, std::uint16_t attributes) noexcept
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    const mode_t mode = (attributes & kAttributeReadOnly) ? (info.st_mode & ~kWriteBits) : info.st_mode;
    return mode == info.st_mode || ::chmod(path.c_str(), mode & 07777) == 0;
}

bool SetFileAttributeWord(CFile& file, std::uint16_t attributes) noexcept
{
    struct stat info {};
    if (::fstat(file.GetHandle(), &info) != 0)
        return false;
    const mode_t mode = (attributes & kAttributeReadOnly) ? (info.st_mode & ~kWriteBits) : info.st_mode;
    return mode == info.st_mode || ::fchmod(file.GetHandle(), mode & 07777) == 0;
}

}  // namespace kvo
