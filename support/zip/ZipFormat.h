// Record layouts of the ZIP format as the reader understands them: signatures, sizes, field offsets.
#pragma once
#include <cstdint>

namespace zipformat {

constexpr std::uint32_t kEndRecordSignature = 0x06054B50;      // "PK\5\6"
constexpr std::uint32_t kCentralRecordSignature = 0x02014B50;  // "PK\1\2"
constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;    // "PK\3\4"
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;   // "PK\6\7"

constexpr unsigned kSignatureSize = 4;
constexpr unsigned kEndRecordSize = 22;
constexpr unsigned kCentralRecordSize = 46;
constexpr unsigned kLocalHeaderSize = 30;
constexpr unsigned kZip64LocatorSize = 20;

/// General purpose flag: CRC and sizes follow the data instead of standing in the local header.
constexpr std::uint32_t kFlagDataDescriptor = 0x0008;

constexpr std::uint32_t kMethodStored = 0;
constexpr std::uint32_t kMethodDeflated = 8;

/// Field values that announce ZIP64 extra records, which this reader does not handle.
constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFFu;
constexpr std::uint32_t kZip64Marker16 = 0xFFFFu;

/// Little-endian fields of a record read into memory.
inline std::uint32_t Le16(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}
inline std::uint32_t Le32(const unsigned char* p)
{
    return Le16(p) | Le16(p + 2) << 16;
}

}  // namespace zipformat
