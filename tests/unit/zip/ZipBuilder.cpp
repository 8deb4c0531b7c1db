#include "ZipBuilder.h"

#include <stdexcept>

#include <zlib.h>

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kVersion = 20;
constexpr std::uint32_t kMethodDeflated = 8;

void Append16(std::string& out, std::uint32_t value)
{
    out.append(2, '\0');
    PutLe16(out, out.size() - 2, value);
}

void Append32(std::string& out, std::uint32_t value)
{
    out.append(4, '\0');
    PutLe32(out, out.size() - 4, value);
}

/// The fields from "version needed" to "extra length" that local header and central record share.
void AppendCommonFields(std::string& out, const ZipTestEntry& entry, std::uint32_t method, std::uint32_t crc,
                        std::size_t compressedSize)
{
    Append16(out, kVersion);
    Append16(out, 0);  // flags
    Append16(out, method);
    Append32(out, entry.dosDateTime);
    Append32(out, crc);
    Append32(out, static_cast<std::uint32_t>(compressedSize));
    Append32(out, static_cast<std::uint32_t>(entry.data.size()));
    Append16(out, static_cast<std::uint32_t>(entry.name.size()));
    Append16(out, 0);  // extra length
}

}  // namespace

void PutLe16(std::string& bytes, std::size_t position, std::uint32_t value)
{
    bytes[position] = static_cast<char>(value & 0xFF);
    bytes[position + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void PutLe32(std::string& bytes, std::size_t position, std::uint32_t value)
{
    PutLe16(bytes, position, value & 0xFFFF);
    PutLe16(bytes, position + 2, value >> 16);
}

std::uint32_t Crc32Of(const std::string& data)
{
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string RawDeflate(const std::string& data)
{
    // The zlib stream without its two-byte header and four-byte checksum.
    constexpr std::size_t kZlibHeader = 2, kZlibTrailer = 4;
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                  static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw std::runtime_error("compress2");
    return out.substr(kZlibHeader, size - kZlibHeader - kZlibTrailer);
}

std::string PseudoRandomBytes(std::size_t count, std::uint32_t seed)
{
    std::string out(count, '\0');
    std::uint32_t state = seed;
    for (char& c : out) {
        state = state * 1664525u + 1013904223u;  // the classic LCG
        c = static_cast<char>(state >> 24);
    }
    return out;
}

std::string BuildZip(const std::vector<ZipTestEntry>& entries, const std::string& comment, ZipLayout* layout)
{
    ZipLayout where;
    std::string out;
    std::string central;
    for (const ZipTestEntry& entry : entries) {
        const std::string data = entry.deflate ? RawDeflate(entry.data) : entry.data;
        const std::uint32_t crc = Crc32Of(entry.data);
        const std::uint32_t method = entry.deflate ? kMethodDeflated : 0;
        const auto localOffset = static_cast<std::uint32_t>(out.size());
        where.localHeaders.push_back(out.size());
        Append32(out, kLocalSignature);
        AppendCommonFields(out, entry, method, crc, data.size());
        out += entry.name;
        where.dataOffsets.push_back(out.size());
        where.dataSizes.push_back(data.size());
        out += data;

        std::string record;
        Append32(record, kCentralSignature);
        Append16(record, kVersion);  // made by
        AppendCommonFields(record, entry, method, crc, data.size());
        Append16(record, 0);  // comment length
        Append16(record, 0);  // disk number start
        Append16(record, 0);  // internal attributes
        Append32(record, entry.externalAttributes);
        Append32(record, localOffset);
        record += entry.name;
        where.centralRecords.push_back(central.size());
        central += record;
    }
    const auto directoryOffset = static_cast<std::uint32_t>(out.size());
    for (std::size_t& offset : where.centralRecords)
        offset += directoryOffset;
    out += central;
    where.endRecord = out.size();
    Append32(out, kEndSignature);
    Append16(out, 0);
    Append16(out, 0);
    Append16(out, static_cast<std::uint32_t>(entries.size()));
    Append16(out, static_cast<std::uint32_t>(entries.size()));
    Append32(out, static_cast<std::uint32_t>(central.size()));
    Append32(out, directoryOffset);
    Append16(out, static_cast<std::uint32_t>(comment.size()));
    out += comment;
    if (layout)
        *layout = where;
    return out;
}

std::string Edited(const std::vector<ZipTestEntry>& entries, const ZipEdit& edit)
{
    ZipLayout layout;
    std::string bytes = BuildZip(entries, std::string(), &layout);
    edit(bytes, layout);
    return bytes;
}

void PutBoth(std::string& bytes, const ZipLayout& layout, std::size_t index, std::size_t localField,
             std::size_t centralField, std::uint32_t value)
{
    PutLe32(bytes, layout.localHeaders[index] + localField, value);
    PutLe32(bytes, layout.centralRecords[index] + centralField, value);
}
