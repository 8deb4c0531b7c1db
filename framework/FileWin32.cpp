#include "framework/File.h"

#include <windows.h>

#include <cstddef>
#include <new>
#include <vector>

#include "framework/Handles.h"

namespace kvo {

const CFile::NativeHandle CFile::hFileNull = INVALID_HANDLE_VALUE;

namespace {

DWORD AccessFor(unsigned flags)
{
    const DWORD rename = (flags & CFile::modeRenameable) ? DELETE : 0;
    switch (flags & 0x3) {
    case CFile::modeWrite: return GENERIC_WRITE | rename;
    case CFile::modeReadWrite: return GENERIC_READ | GENERIC_WRITE | rename;
    default: return GENERIC_READ | rename;
    }
}

DWORD ShareFor(unsigned flags)
{
    switch (flags & 0x70) {
    case CFile::shareDenyWrite: return FILE_SHARE_READ;
    case CFile::shareDenyRead: return FILE_SHARE_WRITE;
    case CFile::shareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;  // exclusive, and the compatibility mode
    }
}

DWORD DispositionFor(unsigned flags)
{
    if (flags & CFile::modeCreate)
        return (flags & CFile::modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    return OPEN_EXISTING;
}

int CauseFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND: return CFileException::fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return CFileException::badPath;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return CFileException::accessDenied;
    case ERROR_HANDLE_EOF: return CFileException::endOfFile;
    default: return CFileException::generic;
    }
}

}  // namespace

CFile::~CFile() { Abort(); }

bool CFile::Open(const char* path, unsigned flags, CFileException* error)
{
    Abort();
    m_strFileName = path ? path : "";
    HANDLE handle = ::CreateFileA(m_strFileName.c_str(), AccessFor(flags), ShareFor(flags), nullptr,
                                  DispositionFor(flags), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD lastError = ::GetLastError();
        if (error)
            *error = CFileException(CauseFor(lastError), static_cast<long>(lastError), m_strFileName);
        ::SetLastError(lastError);
        return false;
    }
    m_hFile = handle;
    return true;
}

void CFile::ThrowLastError() const
{
    const DWORD lastError = ::GetLastError();
    throw CFileException(CauseFor(lastError), static_cast<long>(lastError), m_strFileName);
}

unsigned CFile::Read(void* buffer, unsigned count)
{
    if (count == 0)
        return 0;
    DWORD done = 0;
    if (!::ReadFile(m_hFile, buffer, count, &done, nullptr))
        ThrowLastError();
    return done;
}

void CFile::Write(const void* buffer, unsigned count)
{
    if (count == 0)
        return;
    DWORD done = 0;
    if (!::WriteFile(m_hFile, buffer, count, &done, nullptr))
        ThrowLastError();
    if (done != count) {
        ::SetLastError(ERROR_DISK_FULL);
        ThrowLastError();
    }
}

std::uint64_t CFile::Seek(std::int64_t offset, SeekPosition from)
{
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(m_hFile, distance, &position, static_cast<DWORD>(from)))
        ThrowLastError();
    return static_cast<std::uint64_t>(position.QuadPart);
}

std::uint64_t CFile::GetLength() const
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(m_hFile, &size))
        ThrowLastError();
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::uint64_t CFile::GetPosition() const
{
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(m_hFile, zero, &position, FILE_CURRENT))
        ThrowLastError();
    return static_cast<std::uint64_t>(position.QuadPart);
}

void CFile::Flush()
{
    if (!::FlushFileBuffers(m_hFile))
        ThrowLastError();
}

void CFile::Close()
{
    if (m_hFile == hFileNull)
        return;
    const HANDLE handle = m_hFile;
    m_hFile = hFileNull;
    if (!::CloseHandle(handle))
        ThrowLastError();
}

void CFile::Abort() noexcept
{
    if (m_hFile != hFileNull) {
        ::CloseHandle(m_hFile);
        m_hFile = hFileNull;
    }
}

bool CFile::Remove(const char* path) noexcept
{
    return ::DeleteFileA(path) != FALSE;
}

namespace {

/// False, with `error` filled and the last error set, for a move over `to` that failed with `lastError`.
bool MoveFailed(DWORD lastError, const char* to, CFileException* error) noexcept
{
    if (error)
        *error = CFileException(CauseFor(lastError), static_cast<long>(lastError), to);
    ::SetLastError(lastError);
    return false;
}

/// Renames the open `file` to `to` through its handle, over what is there when `replace`;
/// ERROR_SUCCESS or the failure.
DWORD RenameByHandle(HANDLE file, const char* to, bool replace) noexcept
{
    const int length = ::MultiByteToWideChar(CP_ACP, 0, to, -1, nullptr, 0);
    if (length <= 1)
        return ERROR_INVALID_NAME;
    const DWORD nameBytes = static_cast<DWORD>((length - 1) * sizeof(WCHAR));
    const DWORD size = static_cast<DWORD>(offsetof(FILE_RENAME_INFO, FileName)) + nameBytes + sizeof(WCHAR);
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = nameBytes;
    ::MultiByteToWideChar(CP_ACP, 0, to, -1, info->FileName, length);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, size) ? ERROR_SUCCESS : ::GetLastError();
}

}  // namespace

// Windows refuses to replace a read-only file or one that someone holds open; Wine's MoveFileEx
// does not, so both are asked first. ERROR_SUCCESS when `path` may be replaced (or is missing).
std::uint32_t CFile::ReplaceRefusal(const char* path) noexcept
{
    return ReplaceRefusal(path, ::GetFileAttributesA(path));
}

std::uint32_t CFile::ReplaceRefusal(const char* path, std::uint32_t attributes) noexcept
{
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ERROR_SUCCESS;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return ERROR_ACCESS_DENIED;
    unique_hfile probe(::CreateFileA(path, DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return probe ? ERROR_SUCCESS : ::GetLastError();
}

bool CFile::MoveReplacing(const char* from, const char* to, CFileException* error) noexcept
{
    DWORD refusal = static_cast<DWORD>(ReplaceRefusal(to));
    if (refusal == ERROR_SUCCESS) {
        if (::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        refusal = ::GetLastError();
    }
    return MoveFailed(refusal, to, error);
}

// A rename in the same folder is one directory update either way; through the handle it needs no
// second open of the file (MOVEFILE_WRITE_THROUGH only matters to moves made by copying).
bool CFile::RenameReplacing(const char* to, CFileException* error) noexcept
{
    DWORD refusal = static_cast<DWORD>(ReplaceRefusal(to));
    if (refusal == ERROR_SUCCESS)
        refusal = RenameByHandle(m_hFile, to, true);
    if (refusal != ERROR_SUCCESS)
        return MoveFailed(refusal, to, error);
    m_strFileName = to;
    return true;
}

bool CFile::RenameInto(const char* to, CFileException* error) noexcept
{
    const DWORD refusal = RenameByHandle(m_hFile, to, false);
    if (refusal != ERROR_SUCCESS)
        return MoveFailed(refusal, to, error);
    m_strFileName = to;
    return true;
}

}  // namespace kvo
