// A file object over the operating system's file handle (Win32 HANDLE, or a POSIX descriptor).
#pragma once
#include <cstdint>
#include <string>

#include "framework/Exceptions.h"

namespace kvo {

class CFile {
public:
    /// Open flags; the values are those that stored settings and callers use.
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        /// Opened so that RenameReplacing can move it while it is open.
        modeRenameable = 0x100000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

#ifdef _WIN32
    using NativeHandle = void*;
#else
    using NativeHandle = int;
#endif
    static const NativeHandle hFileNull;

    CFile() noexcept = default;
    ~CFile();  ///< closes an open handle, never raises
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    /// Opens `path`; on failure fills `error` (when given) and returns false.
    bool Open(const char* path, unsigned flags, CFileException* error = nullptr);

    /// Reads up to `count` bytes; returns how many came (0 at the end). Raises CFileException.
    unsigned Read(void* buffer, unsigned count);
    /// Writes all `count` bytes. Raises CFileException.
    void Write(const void* buffer, unsigned count);
    /// Moves the position and returns the new one. Raises CFileException.
    std::uint64_t Seek(std::int64_t offset, SeekPosition from);
    std::uint64_t SeekToEnd() { return Seek(0, end); }
    std::uint64_t GetLength() const;
    std::uint64_t GetPosition() const;

    /// Writes what the system still holds of the file to the disk before returning. Raises
    /// CFileException.
    void Flush();
    /// Closes the handle; raises CFileException when the system call fails.
    void Close();
    /// Closes the handle, ignoring every error.
    void Abort() noexcept;

    /// Deletes the file at `path`; false when it could not be deleted (or did not exist).
    static bool Remove(const char* path) noexcept;
    /// ERROR_SUCCESS when the file at `path` may be moved or replaced (or is missing); otherwise why
    /// not: read-only, or held open by someone. Windows refuses both; Wine would do it anyway.
    static std::uint32_t ReplaceRefusal(const char* path) noexcept;
    /// The same for a file whose attributes (GetFileAttributes) the caller has just read.
    static std::uint32_t ReplaceRefusal(const char* path, std::uint32_t attributes) noexcept;
    /// Moves `from` over `to`, replacing an existing `to` in one step and flushing the move to disk;
    /// on failure fills `error` (when given) and returns false, leaving both files as they were.
    static bool MoveReplacing(const char* from, const char* to, CFileException* error = nullptr) noexcept;
    /// Moves this open file (opened modeRenameable) over `to` in the same folder, replacing an
    /// existing `to` in one step, without opening it again; it stays open under its new name. On
    /// failure fills `error` (when given) and returns false, leaving both files as they were.
    bool RenameReplacing(const char* to, CFileException* error = nullptr) noexcept;
    /// Moves this open file (opened modeRenameable) to `to`, anywhere on its volume, where no file
    /// is: nothing is replaced and nothing asked first. It stays open under its new name. On
    /// failure fills `error` (when given) and returns false, leaving the file where it was.
    bool RenameInto(const char* to, CFileException* error = nullptr) noexcept;

    /// Hands this file's open handle (and its path) to `to`, which closes whatever it held; this
    /// object is closed afterwards. The file itself stays open throughout.
    void HandOver(CFile& to) noexcept
    {
        if (&to == this)
            return;
        to.Abort();
        to.m_hFile = m_hFile;
        to.m_strFileName.swap(m_strFileName);
        m_hFile = hFileNull;
        m_strFileName.clear();
    }

    bool IsOpen() const noexcept { return m_hFile != hFileNull; }
    NativeHandle GetHandle() const noexcept { return m_hFile; }
    const std::string& GetFilePath() const noexcept { return m_strFileName; }

private:
    [[noreturn]] void ThrowLastError() const;

    NativeHandle m_hFile = hFileNull;
    std::string m_strFileName;
};

}  // namespace kvo
