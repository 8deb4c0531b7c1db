// Giving a file on disk the times and attributes recorded elsewhere (an archive entry, a download).
#pragma once
#include <cstdint>
#include <string>

#include "framework/Exceptions.h"

namespace kvo {

class CFile;

/// File times as seconds since 1970-01-01 UTC.
struct CFileStatus {
    std::int64_t m_ctime = 0;  ///< creation
    std::int64_t m_mtime = 0;  ///< last modification
    std::int64_t m_atime = 0;  ///< last access
};

/// Sets the three times of the file at `path`. Raises CFileException when the file cannot be
/// opened for it or the system refuses. POSIX file systems keep their own creation time.
void SetFileTimes(const std::string& path, const CFileStatus& status);

/// Sets the three times of the open `file` through its handle (opened for writing), so the file
/// is not opened a second time. Call it after the last write, which would move the modification
/// time again; a rename or move of the file keeps the times. Raises CFileException as above.
void SetFileTimes(CFile& file, const CFileStatus& status);

/// Gives the file at `path` the DOS/Windows attribute word (read-only, hidden, system, archive...);
/// a file that has them already is left alone. Returns false when the system refused. POSIX
/// honours only the read-only bit (it clears the write permissions).
bool SetFileAttributeWord(const std::string& path, std::uint16_t attributes) noexcept;
/// The same through the open `file` (opened for writing), which is not opened again.
bool SetFileAttributeWord(CFile& file, std::uint16_t attributes) noexcept;

}  // namespace kvo
