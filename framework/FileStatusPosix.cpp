#include "framework/FileStatus.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace kvo {

namespace {

constexpr std::uint16_t kAttributeReadOnly = 0x0001;  // FILE_ATTRIBUTE_READONLY
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

}  // namespace

void SetFileTimes(const std::string& path, const CFileStatus& status)
{
    timespec times[2] = {};
    times[0].tv_sec = static_cast<time_t>(status.m_atime);
    times[1].tv_sec = static_cast<time_t>(status.m_mtime);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw CFileException(errno == ENOENT ? CFileException::fileNotFound : CFileException::generic, errno, path);
}

bool SetFileAttributeWord(const std::string& path, std::uint16_t attributes) noexcept
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    const mode_t mode = (attributes & kAttributeReadOnly) ? (info.st_mode & ~kWriteBits) : info.st_mode;
    return mode == info.st_mode || ::chmod(path.c_str(), mode & 07777) == 0;
}

}  // namespace kvo
