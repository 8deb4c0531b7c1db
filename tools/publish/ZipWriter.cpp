#include "tools/publish/ZipWriter.h"

#include <zlib.h>

#include <limits>
#include <memory>

#include "support/zip/ZipFormat.h"

namespace {

using zipformat::kCentralRecordSignature;
using zipformat::kEndRecordSignature;
using zipformat::kLocalHeaderSignature;

/// "Version needed to extract" and "made by": 2.0 (deflate, directories), made on MS-DOS, so the
/// reader takes the low word of the external attributes as Windows attributes.
constexpr std::uint16_t kVersion20 = 20;
constexpr int kDeflateWindowBits = -15;  // raw deflate, as ZIP stores it
constexpr int kDeflateMemLevel = 8;
constexpr std::size_t kStreamBufferSize = 64 * 1024;
/// Offset of the CRC field in a local header; the two sizes follow it.
constexpr std::uint32_t kLocalCrcOffset = 14;
constexpr std::uint32_t kCrcAndSizesLength = 12;
/// Entry counts and offsets from here on would need ZIP64 records, which the launcher refuses.
constexpr std::uint32_t kMaxEntries = zipformat::kZip64Marker16 - 1;
constexpr std::uint64_t kMaxOffset = zipformat::kZip64Marker32 - 1;
constexpr std::size_t kMaxNameLength = zipformat::kZip64Marker16;
constexpr unsigned kByteBits = 8;
constexpr unsigned kByteMask = 0xFF;
constexpr unsigned kWordBits = 16;
constexpr std::uint32_t kWordMask = 0xFFFF;

/// Little-endian fields appended to a record being built.
class RecordBuilder {
public:
    void U16(std::uint32_t value)
    {
        m_bytes.push_back(static_cast<char>(value & kByteMask));
        m_bytes.push_back(static_cast<char>((value >> kByteBits) & kByteMask));
    }
    void U32(std::uint32_t value)
    {
        U16(value & kWordMask);
        U16(value >> kWordBits);
    }
    void Bytes(const std::string& text) { m_bytes += text; }
    void WriteTo(kvo::CFile& file) const { file.Write(m_bytes.data(), static_cast<unsigned>(m_bytes.size())); }

private:
    std::string m_bytes;
};

/// A deflate stream that is ended whatever happens.
class DeflateStream {
public:
    DeflateStream()
    {
        const int result = deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kDeflateWindowBits,
                                        kDeflateMemLevel, Z_DEFAULT_STRATEGY);
        if (result == Z_MEM_ERROR)
            throw kvo::CMemoryException();
        if (result != Z_OK)
            throw kvo::CException("the deflate stream cannot be set up");
    }
    ~DeflateStream() { deflateEnd(&m_stream); }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;
    z_stream* operator->() noexcept { return &m_stream; }
    z_stream* get() noexcept { return &m_stream; }

private:
    z_stream m_stream{};
};

}  // namespace

void CZipWriter::CheckOpen() const
{
    if (m_bFinished)
        throw kvo::CException("the archive is finished already");
    if (m_entries.size() >= kMaxEntries)
        throw kvo::CException("too many entries for one package (at most 65534)");
}

std::uint32_t CZipWriter::Offset32(std::uint64_t offset) const
{
    if (offset > kMaxOffset)
        throw kvo::CException("the package would reach 4 GiB, which the launcher cannot read");
    return static_cast<std::uint32_t>(offset);
}

CZipWriter::Entry CZipWriter::BeginEntry(const std::string& name, std::uint32_t dosDateTime, std::uint16_t method,
                                          std::uint16_t attributes)
{
    if (name.empty() || name.size() >= kMaxNameLength)
        throw kvo::CException("an entry name must have 1 to 65534 bytes");
    Entry entry;
    entry.name = name;
    entry.dosDateTime = dosDateTime;
    entry.method = method;
    entry.attributes = attributes;
    entry.headerOffset = Offset32(m_output.GetPosition());
    RecordBuilder header;
    header.U32(kLocalHeaderSignature);
    header.U16(kVersion20);
    header.U16(0);  // no flags: sizes and CRC stand in this header (patched after the data)
    header.U16(entry.method);
    header.U32(entry.dosDateTime);
    header.U32(entry.crc);
    header.U32(entry.compressedSize);
    header.U32(entry.uncompressedSize);
    header.U16(static_cast<std::uint32_t>(entry.name.size()));
    header.U16(0);  // no extra field
    header.Bytes(entry.name);
    header.WriteTo(m_output);
    return entry;
}

void CZipWriter::PatchLocalHeader(const Entry& entry)
{
    const std::uint64_t end = m_output.GetPosition();
    RecordBuilder fields;
    fields.U32(entry.crc);
    fields.U32(entry.compressedSize);
    fields.U32(entry.uncompressedSize);
    m_output.Seek(entry.headerOffset + kLocalCrcOffset, kvo::CFile::begin);
    fields.WriteTo(m_output);
    m_output.Seek(static_cast<std::int64_t>(end), kvo::CFile::begin);
    static_assert(kCrcAndSizesLength == 3 * sizeof(std::uint32_t), "CRC and two sizes");
}

void CZipWriter::DeflateInto(kvo::CFile& source, Entry& entry)
{
    const auto input = std::make_unique<unsigned char[]>(kStreamBufferSize);
    const auto output = std::make_unique<unsigned char[]>(kStreamBufferSize);
    DeflateStream stream;
    std::uint64_t uncompressed = 0;
    std::uint64_t compressed = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    int flush = Z_NO_FLUSH;
    do {
        const unsigned got = source.Read(input.get(), kStreamBufferSize);
        flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        crc = crc32(crc, input.get(), got);
        uncompressed += got;
        stream->next_in = input.get();
        stream->avail_in = got;
        do {
            stream->next_out = output.get();
            stream->avail_out = kStreamBufferSize;
            const int result = deflate(stream.get(), flush);
            if (result == Z_STREAM_ERROR)
                throw kvo::CException("deflate failed");
            const unsigned produced = static_cast<unsigned>(kStreamBufferSize - stream->avail_out);
            m_output.Write(output.get(), produced);
            compressed += produced;
        } while (stream->avail_out == 0);
        // Both sizes must fit the 32-bit fields; checking as the data grows keeps the message early.
        Offset32(uncompressed);
        Offset32(entry.headerOffset + compressed);
    } while (flush != Z_FINISH);
    entry.crc = static_cast<std::uint32_t>(crc);
    entry.compressedSize = static_cast<std::uint32_t>(compressed);
    entry.uncompressedSize = static_cast<std::uint32_t>(uncompressed);
}

void CZipWriter::AddDirectory(const std::string& name, std::uint32_t dosDateTime)
{
    CheckOpen();
    m_entries.push_back(
        BeginEntry(name, dosDateTime, static_cast<std::uint16_t>(zipformat::kMethodStored), kDirectoryAttribute));
}

void CZipWriter::AddFile(const std::string& name, kvo::CFile& source, std::uint32_t dosDateTime,
                         std::uint16_t attributes)
{
    CheckOpen();
    Entry entry = BeginEntry(name, dosDateTime, static_cast<std::uint16_t>(zipformat::kMethodDeflated), attributes);
    DeflateInto(source, entry);
    PatchLocalHeader(entry);
    m_entries.push_back(entry);
}

void CZipWriter::Finish()
{
    if (m_bFinished)
        throw kvo::CException("the archive is finished already");
    const std::uint32_t directoryOffset = Offset32(m_output.GetPosition());
    for (const Entry& entry : m_entries) {
        RecordBuilder record;
        record.U32(kCentralRecordSignature);
        record.U16(kVersion20);  // made by: MS-DOS, 2.0
        record.U16(kVersion20);  // needed to extract
        record.U16(0);
        record.U16(entry.method);
        record.U32(entry.dosDateTime);
        record.U32(entry.crc);
        record.U32(entry.compressedSize);
        record.U32(entry.uncompressedSize);
        record.U16(static_cast<std::uint32_t>(entry.name.size()));
        record.U16(0);  // extra field
        record.U16(0);  // comment
        record.U16(0);  // disk number
        record.U16(0);  // internal attributes
        record.U32(entry.attributes);
        record.U32(entry.headerOffset);
        record.Bytes(entry.name);
        record.WriteTo(m_output);
    }
    const std::uint32_t directoryEnd = Offset32(m_output.GetPosition());
    const auto count = static_cast<std::uint32_t>(m_entries.size());
    RecordBuilder end;
    end.U32(kEndRecordSignature);
    end.U16(0);  // this disk
    end.U16(0);  // disk of the central directory
    end.U16(count);
    end.U16(count);
    end.U32(directoryEnd - directoryOffset);
    end.U32(directoryOffset);
    end.U16(0);  // no archive comment
    end.WriteTo(m_output);
    m_bFinished = true;
    static_assert(std::numeric_limits<std::uint16_t>::max() == kMaxEntries + 1, "entry count field");
}
