#include "framework/File.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvo {

const CFile::NativeHandle CFile::hFileNull = -1;

namespace {

int CauseFor(int error)
{
    switch (error) {
    case ENOENT: return CFileException::fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG: return CFileException::badPath;
    case EACCES:
    case EPERM: return CFileException::accessDenied;
    default: return CFileException::generic;
    }
}

int OpenFlagsFor(unsigned flags)
{
    int result = 0;
    switch (flags & 0x3) {
    case CFile::modeWrite: result = O_WRONLY; break;
    case CFile::modeReadWrite: result = O_RDWR; break;
    default: result = O_RDONLY; break;
    }
    if (flags & CFile::modeCreate)
        result |= O_CREAT | ((flags & CFile::modeNoTruncate) ? 0 : O_TRUNC);
    return result | O_CLOEXEC;
}

}  // namespace

CFile::~CFile() { Abort(); }

// POSIX has no share modes: the sharing flags are accepted and ignored.
bool CFile::Open(const char* path, unsigned flags, CFileException* error)
{
    Abort();
    m_strFileName = path ? path : "";
    const int fd = ::open(m_strFileName.c_str(), OpenFlagsFor(flags), 0644);
    if (fd < 0) {
        if (error)
            *error = CFileException(CauseFor(errno), errno, m_strFileName);
        return false;
    }
    m_hFile = fd;
    return true;
}

void CFile::ThrowLastError() const
{
    throw CFileException(CauseFor(errno), errno, m_strFileName);
}

unsigned CFile::Read(void* buffer, unsigned count)
{
    for (;;) {
        const ssize_t done = ::read(m_hFile, buffer, count);
        if (done >= 0)
            return static_cast<unsigned>(done);
        if (errno != EINTR)
            ThrowLastError();
    }
}

void CFile::Write(const void* buffer, unsigned count)
{
    const char* next = static_cast<const char*>(buffer);
    while (count > 0) {
        const ssize_t done = ::write(m_hFile, next, count);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            ThrowLastError();
        }
        next += done;
        count -= static_cast<unsigned>(done);
    }
}

std::uint64_t CFile::Seek(std::int64_t offset, SeekPosition from)
{
    const int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(m_hFile, static_cast<off_t>(offset), whence);
    if (position < 0)
        ThrowLastError();
    return static_cast<std::uint64_t>(position);
}

std::uint64_t CFile::GetLength() const
{
    struct stat info {};
    if (::fstat(m_hFile, &info) != 0)
        ThrowLastError();
    return static_cast<std::uint64_t>(info.st_size);
}

std::uint64_t CFile::GetPosition() const
{
    const off_t position = ::lseek(m_hFile, 0, SEEK_CUR);
    if (position < 0)
        ThrowLastError();
    return static_cast<std::uint64_t>(position);
}

void CFile::Flush()
{
    if (::fsync(m_hFile) != 0)
        ThrowLastError();
}

void CFile::Close()
{
    if (m_hFile == hFileNull)
        return;
    const int fd = m_hFile;
    m_hFile = hFileNull;
    if (::close(fd) != 0)
        ThrowLastError();
}

void CFile::Abort() noexcept
{
    if (m_hFile != hFileNull) {
        ::close(m_hFile);
        m_hFile = hFileNull;
    }
}

bool CFile::Remove(const char* path) noexcept
{
    return ::unlink(path) == 0;
}

bool CFile::RenameReplacing(const char* to, CFileException* error) noexcept
{
    if (!MoveReplacing(m_strFileName.c_str(), to, error))
        return false;
    m_strFileName = to;
    return true;
}

// Nothing holds a file against a rename here: only a file without write permission is refused.
std::uint32_t CFile::ReplaceRefusal(const char* path, std::uint32_t) noexcept
{
    return ReplaceRefusal(path);
}

std::uint32_t CFile::ReplaceRefusal(const char* path) noexcept
{
    struct stat status {};
    if (::stat(path, &status) != 0)
        return 0;
    return (status.st_mode & S_IWUSR) ? 0 : EACCES;
}

// rename() replaces the target atomically; the directory entry reaches the disk with the next sync.
bool CFile::MoveReplacing(const char* from, const char* to, CFileException* error) noexcept
{
    if (::rename(from, to) == 0)
        return true;
    const int lastError = errno;
    if (error)
        *error = CFileException(CauseFor(lastError), lastError, to);
    errno = lastError;
    return false;
}

bool CFile::RenameInto(const char* to, CFileException* error) noexcept
{
    struct stat status {};
    if (::stat(to, &status) == 0) {
        if (error)
            *error = CFileException(CFileException::accessDenied, EEXIST, to);
        return false;
    }
    return RenameReplacing(to, error);
}

}  // namespace kvo
