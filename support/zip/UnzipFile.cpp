#include "support/zip/UnzipFile.h"

#include <algorithm>
#include <ctime>
#include <vector>

#include "framework/FileStatus.h"
#include "support/zip/DosTime.h"
#include "support/zip/EntryReadState.h"
#include "support/zip/ZipFormat.h"

using namespace zipformat;

namespace {

constexpr unsigned kOpenFlags = kvo::CFile::modeRead | kvo::CFile::shareDenyWrite;  // 0x0020
constexpr std::int32_t kInvalidArgument = static_cast<std::int32_t>(0x80070057);     // E_INVALIDARG
constexpr std::uint64_t kMaxArchiveSize = 0xFFFFFFFFu;  // offsets are 32-bit

// The end record is looked for in windows of this size, each overlapping the previous one by a
// signature's length, reaching back no further than kEndRecordReach bytes from the end.
constexpr std::uint32_t kSearchStep = 1024;
constexpr std::uint32_t kSearchWindow = kSearchStep + kSignatureSize;
constexpr std::uint32_t kEndRecordReach = 0xFFFF;

constexpr std::uint32_t kAttributeWordMask = 0xFFFFu;
constexpr std::uint32_t kLocalEntryAttributes = 0x0020;  // FILE_ATTRIBUTE_ARCHIVE: local headers carry none

std::int64_t CurrentTime()
{
#ifdef _WIN32
    return static_cast<std::int64_t>(_time64(nullptr));
#else
    return static_cast<std::int64_t>(std::time(nullptr));
#endif
}

/// The times a file unpacked from `info` gets: the entry's modification time; created and last
/// read now.
kvo::CFileStatus EntryFileStatus(const EntryInfo& info)
{
    kvo::CFileStatus status;
    status.m_ctime = status.m_atime = CurrentTime();
    status.m_mtime = info.time;
    return status;
}

}  // namespace

CUnzipFile::CUnzipFile(const char* path)
{
    m_bWriter = false;
    m_pFile = &m_archive.file;
    Open(path);
}

CUnzipFile::CUnzipFile(kvo::CFile& file)
{
    m_bWriter = false;
    m_pFile = &m_archive.file;
    file.HandOver(m_archive.file);
    ReadDirectory();
}

CUnzipFile::CUnzipFile(kvo::CFile& file, LocalHeadersOnly)
{
    file.HandOver(m_archive.file);
    m_archive.localHeadersOnly = true;
    ReadLocalRun();
}

// The read state goes without a CRC check or an inflateEnd; the blocks zlib still holds are
// freed with the base's allocation list.
CUnzipFile::~CUnzipFile() = default;

void CUnzipFile::ThrowBadZipFile() const
{
    ThrowZipError(CZipException::codeBadZipFile);
}

void CUnzipFile::ReadAt(std::uint64_t position, void* buffer, std::uint32_t count)
{
    if (position + count > kMaxArchiveSize)
        ThrowBadZipFile();
    m_archive.file.Seek(static_cast<std::int64_t>(position), kvo::CFile::begin);
    auto* next = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        const unsigned done = m_archive.file.Read(next, count);
        if (done == 0 || done > count)
            ThrowBadZipFile();  // the archive ends before the record or data it announces
        next += done;
        count -= done;
    }
}

void CUnzipFile::Open(const char* path)
{
    kvo::CFileException openError(kvo::CFileException::none, -1, std::string());
    if (!m_archive.file.Open(path, kOpenFlags, &openError))
        throw openError;
    ReadDirectory();
}

void CUnzipFile::ReadDirectory()
{

    const std::uint64_t length = m_archive.file.GetLength();
    if (length > kMaxArchiveSize)
        ThrowBadZipFile();
    m_archive.endRecordPosition = FindEndOfCentralDir(static_cast<std::uint32_t>(length));

    unsigned char record[kEndRecordSize];
    ReadAt(m_archive.endRecordPosition, record, kEndRecordSize);
    const std::uint32_t thisDisk = Le16(record + 4);
    const std::uint32_t directoryDisk = Le16(record + 6);
    const std::uint32_t entriesOnDisk = Le16(record + 8);
    const std::uint32_t entriesTotal = Le16(record + 10);
    m_archive.directorySize = Le32(record + 12);
    m_archive.directoryOffset = Le32(record + 16);
    m_archive.commentSize = Le16(record + 20);
    if (thisDisk != 0 || directoryDisk != 0 || entriesOnDisk != entriesTotal)
        ThrowBadZipFile();
    if (entriesTotal == kZip64Marker16 || m_archive.directorySize == kZip64Marker32 ||
        m_archive.directoryOffset == kZip64Marker32)
        ThrowBadZipFile();
    if (m_archive.endRecordPosition >= kZip64LocatorSize) {
        unsigned char signature[kSignatureSize];
        ReadAt(m_archive.endRecordPosition - kZip64LocatorSize, signature, kSignatureSize);
        if (Le32(signature) == kZip64LocatorSignature)
            ThrowBadZipFile();
    }
    m_archive.entryCount = entriesTotal;

    // 64-bit sums: an offset plus a size that wraps 32 bits must not look like a fit.
    const std::uint64_t directoryEnd = std::uint64_t{m_archive.directoryOffset} + m_archive.directorySize;
    if (m_archive.endRecordPosition < directoryEnd)
        ThrowBadZipFile();
    if (m_archive.entryCount == 0 ||
        std::uint64_t{m_archive.entryCount} * kCentralRecordSize > m_archive.directorySize)
        ThrowBadZipFile();
    m_archive.bytesBefore = static_cast<std::uint32_t>(m_archive.endRecordPosition - directoryEnd);

    MoveToFirstEntry();
}

std::uint32_t CUnzipFile::FindEndOfCentralDir(std::uint32_t fileLength)
{
    const std::uint32_t limit = std::min(kEndRecordReach, fileLength);
    std::vector<unsigned char> window(kSearchWindow);
    std::uint32_t reach = kSignatureSize;
    while (reach < limit) {
        reach = std::min(reach + kSearchStep, limit);
        const std::uint32_t start = fileLength - reach;
        const std::uint32_t size = std::min(kSearchWindow, fileLength - start);
        ReadAt(start, window.data(), size);
        for (std::uint32_t i = size - kSignatureSize + 1; i-- > 0;) {
            if (Le32(&window[i]) == kEndRecordSignature)
                return start + i;
        }
    }
    ThrowBadZipFile();
}

void CUnzipFile::ReadLocalRun()
{
    const std::uint64_t length = m_archive.file.GetLength();
    if (length == 0 || length > kMaxArchiveSize)
        ThrowBadZipFile();
    // The data of every entry must end before this, as it must before a central directory.
    m_archive.directoryOffset = static_cast<std::uint32_t>(length);
    std::uint64_t position = 0;
    std::uint32_t count = 0;
    while (position < length) {
        if (count == kZip64Marker16)
            ThrowBadZipFile();  // more entries than an archive's directory can count
        EntryInfo info;
        ReadLocalRecord(static_cast<std::uint32_t>(position), info);
        position += RecordStep(info);
        ++count;
    }
    m_archive.entryCount = count;
    MoveToFirstEntry();
}

void CUnzipFile::ReadLocalRecord(std::uint32_t position, EntryInfo& info)
{
    unsigned char header[kLocalHeaderSize];
    if (std::uint64_t{position} + kLocalHeaderSize > m_archive.directoryOffset)
        ThrowBadZipFile();
    ReadAt(position, header, kLocalHeaderSize);
    EntryInfo read;
    read.versionNeeded = Le16(header + 4);
    read.flags = Le16(header + 6);
    read.method = Le16(header + 8);
    read.dosDateTime = Le32(header + 10);
    read.crc32 = Le32(header + 14);
    read.compressedSize = Le32(header + 18);
    read.uncompressedSize = Le32(header + 22);
    read.nameLength = Le16(header + 26);
    read.extraLength = Le16(header + 28);
    read.externalAttributes = kLocalEntryAttributes;
    // Sizes that follow the data cannot be found without a directory.
    if (Le32(header) != kLocalHeaderSignature || (read.flags & kFlagDataDescriptor) != 0 ||
        read.compressedSize == kZip64Marker32 || read.uncompressedSize == kZip64Marker32)
        ThrowBadZipFile();
    if (std::uint64_t{position} + RecordStep(read) > m_archive.directoryOffset)
        ThrowBadZipFile();
    read.time = DosDateTimeToUnix(read.dosDateTime);
    if (read.time == -1)
        throw kvo::COleException(kInvalidArgument);
    info = read;
}

std::uint32_t CUnzipFile::RecordStep(const EntryInfo& info) const
{
    // 64-bit sum, checked against the file by the callers before it is used as an offset.
    const std::uint64_t step = m_archive.localHeadersOnly
                                   ? std::uint64_t{kLocalHeaderSize} + info.nameLength + info.extraLength +
                                         info.compressedSize
                                   : std::uint64_t{kCentralRecordSize} + info.nameLength + info.extraLength +
                                         info.commentLength;
    return step > kMaxArchiveSize ? static_cast<std::uint32_t>(kMaxArchiveSize) : static_cast<std::uint32_t>(step);
}

void CUnzipFile::ReadCentralRecord(EntryInfo& info, std::uint32_t& localHeaderOffset)
{
    if (m_archive.localHeadersOnly) {
        ReadLocalRecord(m_archive.entryRecordPosition, info);
        localHeaderOffset = m_archive.entryRecordPosition;
        return;
    }
    const std::uint64_t directoryEnd = std::uint64_t{m_archive.directoryOffset} + m_archive.directorySize;
    const std::uint64_t position = m_archive.entryRecordPosition;
    if (position + kCentralRecordSize > directoryEnd)
        ThrowBadZipFile();
    unsigned char record[kCentralRecordSize];
    ReadAt(position + m_archive.bytesBefore, record, kCentralRecordSize);
    if (Le32(record) != kCentralRecordSignature)
        ThrowBadZipFile();

    EntryInfo read;
    read.versionMadeBy = Le16(record + 4);
    read.versionNeeded = Le16(record + 6);
    read.flags = Le16(record + 8);
    read.method = Le16(record + 10);
    read.dosDateTime = Le32(record + 12);
    read.crc32 = Le32(record + 16);
    read.compressedSize = Le32(record + 20);
    read.uncompressedSize = Le32(record + 24);
    read.nameLength = Le16(record + 28);
    read.extraLength = Le16(record + 30);
    read.commentLength = Le16(record + 32);
    read.diskNumberStart = Le16(record + 34);
    read.internalAttributes = Le16(record + 36);
    read.externalAttributes = Le32(record + 38);
    const std::uint32_t localOffset = Le32(record + 42);

    if (position + kCentralRecordSize + read.nameLength + read.extraLength + read.commentLength > directoryEnd)
        ThrowBadZipFile();
    if (read.compressedSize == kZip64Marker32 || read.uncompressedSize == kZip64Marker32 ||
        localOffset == kZip64Marker32 || read.diskNumberStart == kZip64Marker16)
        ThrowBadZipFile();

    read.time = DosDateTimeToUnix(read.dosDateTime);
    if (read.time == -1)
        throw kvo::COleException(kInvalidArgument);
    info = read;
    localHeaderOffset = localOffset;
}

void CUnzipFile::MoveToFirstEntry()
{
    m_archive.entryRecordPosition = m_archive.localHeadersOnly ? 0 : m_archive.directoryOffset;
    m_archive.entryIndex = 0;
    m_archive.entryValid = false;
    ReadCentralRecord(m_archive.currentEntry, m_archive.localHeaderOffset);
    m_archive.entryValid = true;
}

bool CUnzipFile::MoveToNextEntry()
{
    if (!m_archive.entryValid || m_archive.entryIndex + 1 >= m_archive.entryCount)
        return false;
    const EntryInfo& current = m_archive.currentEntry;
    const std::uint32_t previousPosition = m_archive.entryRecordPosition;
    // The record read above ended inside the directory (or the run), so this sum fits 32 bits.
    m_archive.entryRecordPosition += RecordStep(current);
    EntryInfo next;
    std::uint32_t nextLocalOffset = 0;
    try {
        ReadCentralRecord(next, nextLocalOffset);
    } catch (...) {
        m_archive.entryRecordPosition = previousPosition;
        throw;
    }
    m_archive.currentEntry = next;
    m_archive.localHeaderOffset = nextLocalOffset;
    ++m_archive.entryIndex;
    return true;
}

void CUnzipFile::GetEntryInfo(EntryInfo* info, char* name, std::uint32_t nameSize, void* extra,
                              std::uint32_t extraSize, char* comment, std::uint32_t commentSize)
{
    if (!m_archive.entryValid)
        ThrowZipError(CZipException::codeBadFuncParam);
    EntryInfo scratch;
    std::uint32_t localOffset = 0;
    ReadCentralRecord(scratch, localOffset);
    if (info)
        *info = scratch;

    // The record's variable parts lie one after the other behind its fixed part; the record
    // was checked to end inside the directory.
    const std::uint64_t namePosition = std::uint64_t{m_archive.entryRecordPosition} + m_archive.bytesBefore +
                                       (m_archive.localHeadersOnly ? kLocalHeaderSize : kCentralRecordSize);
    const std::uint64_t extraPosition = namePosition + scratch.nameLength;
    const std::uint64_t commentPosition = extraPosition + scratch.extraLength;

    // Name and comment: whole and terminated when the buffer is larger, else cut unterminated.
    const auto readText = [this](std::uint64_t position, std::uint32_t length, char* buffer, std::uint32_t size) {
        if (!buffer || size == 0)
            return;
        if (length < size) {
            buffer[length] = '\0';
            if (length > 0)
                ReadAt(position, buffer, length);
        } else {
            ReadAt(position, buffer, size);
        }
    };
    readText(namePosition, scratch.nameLength, name, nameSize);
    if (extra && extraSize > 0 && scratch.extraLength > 0)
        ReadAt(extraPosition, extra, std::min(scratch.extraLength, extraSize));
    readText(commentPosition, scratch.commentLength, comment, commentSize);
}

void CUnzipFile::SetEntryFileStatus(kvo::CFile& file, const EntryInfo& info)
{
    SetEntryFileTimes(file, info);
    const std::string path = file.GetFilePath();
    file.Close();
    SetEntryAttributes(path, info);
}

void CUnzipFile::SetEntryFileStatus(const std::string& path, const EntryInfo& info)
{
    kvo::SetFileTimes(path, EntryFileStatus(info));
    SetEntryAttributes(path, info);
}

void CUnzipFile::SetEntryFileTimes(kvo::CFile& file, const EntryInfo& info)
{
    kvo::SetFileTimes(file, EntryFileStatus(info));
}

std::uint16_t CUnzipFile::EntryAttributeWord(const EntryInfo& info) noexcept
{
    return static_cast<std::uint16_t>(info.externalAttributes & kAttributeWordMask);
}

void CUnzipFile::SetEntryAttributes(const std::string& path, const EntryInfo& info) noexcept
{
    // The attributes are a wish of the archive: a file system that refuses some keeps the file.
    kvo::SetFileAttributeWord(path, EntryAttributeWord(info));
}

void CUnzipFile::CloseArchive()
{
    if (IsClosed())
        return;
    if (m_archive.readState)
        CloseEntry();
    m_archive.file.Close();
}
