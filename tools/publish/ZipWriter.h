// Writing the packages that the launcher unpacks: plain ZIP archives, deflated entries.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "framework/File.h"

/// Writes a ZIP archive into an open, empty file: deflated file entries, directory entries,
/// then the central directory. Names are stored as given (the system's ANSI code page, "/"
/// separators, a trailing "/" for a directory), without the UTF-8 flag, so the launcher reads
/// back exactly these bytes. The archive stays within the classic format the launcher reads (no
/// ZIP64): anything that would need it raises kvo::CException. File errors raise
/// kvo::CFileException, a lack of memory kvo::CMemoryException.
class CZipWriter {
public:
    /// Attribute word of a directory entry (FILE_ATTRIBUTE_DIRECTORY).
    static constexpr std::uint16_t kDirectoryAttribute = 0x0010;
    /// Attribute word of a plain file entry (FILE_ATTRIBUTE_ARCHIVE).
    static constexpr std::uint16_t kArchiveAttribute = 0x0020;

    /// Writes into `output`, which must stay open until Finish.
    explicit CZipWriter(kvo::CFile& output) noexcept : m_output(output) {}

    /// Adds a directory entry (`name` ends with "/") with the DOS date (high word) and time.
    void AddDirectory(const std::string& name, std::uint32_t dosDateTime);
    /// Adds a file entry whose data is the rest of `source`, deflated while it is read.
    void AddFile(const std::string& name, kvo::CFile& source, std::uint32_t dosDateTime,
                 std::uint16_t attributes);
    /// Writes the central directory and the end record. Nothing may be added afterwards.
    void Finish();

    std::size_t EntryCount() const noexcept { return m_entries.size(); }

private:
    struct Entry {
        std::string name;
        std::uint32_t dosDateTime = 0;
        std::uint16_t method = 0;
        std::uint32_t crc = 0;
        std::uint32_t compressedSize = 0;
        std::uint32_t uncompressedSize = 0;
        std::uint16_t attributes = 0;
        std::uint32_t headerOffset = 0;
    };

    /// A new entry with its local header written at the current end of the archive.
    Entry BeginEntry(const std::string& name, std::uint32_t dosDateTime, std::uint16_t method,
                     std::uint16_t attributes);
    /// Fills in the sizes and the CRC of the local header written by BeginEntry.
    void PatchLocalHeader(const Entry& entry);
    /// Deflates the rest of `source` into the archive; sizes and CRC go to `entry`.
    void DeflateInto(kvo::CFile& source, Entry& entry);
    /// The current end of the archive as a 32-bit offset; raises when the format cannot hold it.
    std::uint32_t Offset32(std::uint64_t offset) const;
    void CheckOpen() const;

    kvo::CFile& m_output;
    std::vector<Entry> m_entries;
    bool m_bFinished = false;
};
