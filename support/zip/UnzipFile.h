// Reading ZIP archives from disk: the central directory, its entries, their contents.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "framework/File.h"
#include "support/zip/EntryInfo.h"
#include "support/zip/ZUBaseFile.h"

struct EntryReadState;

/// A ZIP archive opened for reading. Every problem of the archive raises CZipException (by
/// value), failures of the file calls raise kvo::CFileException, of memory kvo::CMemoryException.
/// Archives of 4 GiB or more, ZIP64 records and multi-disk archives are refused as badZipFile.
/// One object serves one thread.
class CUnzipFile : public CZUBaseFile {
public:
    /// Opens the archive at `path` and makes its first entry current. An archive that cannot be
    /// read, or whose central directory is missing, damaged or empty, raises.
    explicit CUnzipFile(const char* path);
    /// The same over the open, readable `file`, whose handle it takes over (and closes).
    explicit CUnzipFile(kvo::CFile& file);
    /// Chooses the constructor that reads entries laid one after another with no central
    /// directory: a byte range of an archive, from a local header to the end of an entry's data.
    struct LocalHeadersOnly {};
    /// Opens such a run of entries in `file` (taken over): each entry's local header must carry
    /// its sizes, and the last entry's data must end where the file ends. Entries read this way
    /// have the archive attribute and no comment; anything else raises as for an archive.
    CUnzipFile(kvo::CFile& file, LocalHeadersOnly);
    /// Frees everything without checks and without raising (an open entry is not CRC-checked).
    ~CUnzipFile() override;

    /// Makes entry 0 current.
    void MoveToFirstEntry();
    /// Makes the next entry current; false (and nothing changes) when the current one is the last.
    bool MoveToNextEntry();

    /// Reads the current entry's central record again into `info` (may be null) and fills the
    /// buffers asked for (null buffers are skipped). The name and the comment come NUL-terminated
    /// when the buffer is larger than they are, otherwise cut to the buffer without a terminator;
    /// the extra field is never terminated.
    void GetEntryInfo(EntryInfo* info, char* name = nullptr, std::uint32_t nameSize = 0, void* extra = nullptr,
                      std::uint32_t extraSize = 0, char* comment = nullptr, std::uint32_t commentSize = 0);

    /// Checks the current entry's local header against its central record and prepares reading
    /// it. An entry still open is closed first (and its CRC checked).
    void OpenEntry();
    /// Places up to `length` uncompressed bytes of the open entry in `buffer`; returns how many
    /// (0 at the end). Never returns more than the entry's declared size in total.
    int ReadEntry(void* buffer, std::uint32_t length);
    /// Ends reading the open entry. An entry read to its declared end whose CRC differs raises
    /// badCrc (and stays open); an entry abandoned before its end is closed without a check.
    void CloseEntry();

    /// Closes `file` and gives it the entry's modification time and attributes (creation and
    /// access time become now).
    static void SetEntryFileStatus(kvo::CFile& file, const EntryInfo& info);
    /// Gives the closed file at `path` the entry's modification time and attributes.
    static void SetEntryFileStatus(const std::string& path, const EntryInfo& info);
    /// Gives the still open `file` the entry's times through its handle; call it after the last
    /// write. A move of the file keeps them, so a file written beside its target is stamped
    /// before it is moved over it.
    static void SetEntryFileTimes(kvo::CFile& file, const EntryInfo& info);
    /// Gives the file at `path` the entry's attributes; only the low word of the external
    /// attributes goes to the file system (an archive made on Unix keeps a Unix mode in the high
    /// word). A file system that refuses some keeps the file as it is.
    static void SetEntryAttributes(const std::string& path, const EntryInfo& info) noexcept;
    /// The attribute word SetEntryAttributes gives a file of the entry.
    static std::uint16_t EntryAttributeWord(const EntryInfo& info) noexcept;

    /// Closes the open entry (checking its CRC) and the archive file.
    void CloseArchive();

    std::uint32_t GetEntryCount() const noexcept { return m_archive.entryCount; }
    std::uint32_t GetEntryIndex() const noexcept { return m_archive.entryIndex; }
    /// Bytes in front of the archive proper (a self-extractor stub, say).
    std::uint32_t GetBytesBefore() const noexcept { return m_archive.bytesBefore; }

private:
    struct ArchiveState {
        kvo::CFile file;
        std::uint32_t entryCount = 0;
        std::uint32_t commentSize = 0;
        std::uint32_t bytesBefore = 0;
        std::uint32_t entryIndex = 0;
        std::uint32_t entryRecordPosition = 0;  ///< without bytes before
        bool entryValid = false;
        std::uint32_t endRecordPosition = 0;    ///< absolute
        std::uint32_t directorySize = 0;
        std::uint32_t directoryOffset = 0;      ///< without bytes before
        EntryInfo currentEntry;
        std::uint32_t localHeaderOffset = 0;    ///< without bytes before
        std::unique_ptr<EntryReadState> readState;  ///< the entry open for reading, if any
        bool localHeadersOnly = false;          ///< no central directory: records are local headers
    };

    void Open(const char* path);
    /// Reads the end record and the central directory of the archive just opened.
    void ReadDirectory();
    std::uint32_t FindEndOfCentralDir(std::uint32_t fileLength);
    /// Reads the central record at the current record position.
    void ReadCentralRecord(EntryInfo& info, std::uint32_t& localHeaderOffset);
    /// Reads the local header at `position` as an entry's record (local headers only).
    void ReadLocalRecord(std::uint32_t position, EntryInfo& info);
    /// Counts the entries of a run of local headers and makes the first current.
    void ReadLocalRun();
    /// The size of the current record with its variable parts: the step to the next record.
    std::uint32_t RecordStep(const EntryInfo& info) const;
    /// Checks the current entry's local header; returns the offset of its data (without bytes before).
    std::uint32_t CheckLocalHeader();
    /// Reads exactly `count` bytes at absolute `position`; a short read is badZipFile.
    void ReadAt(std::uint64_t position, void* buffer, std::uint32_t count);
    [[noreturn]] void ThrowBadZipFile() const;

    ArchiveState m_archive;
};
