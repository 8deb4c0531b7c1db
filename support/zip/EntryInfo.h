// One entry of a ZIP central directory, as the reader keeps it.
#pragma once
#include <cstdint>

/// The fields of a central directory record; 16-bit fields are widened to 32 bits.
struct EntryInfo {
    std::uint32_t versionMadeBy = 0;
    std::uint32_t versionNeeded = 0;
    std::uint32_t flags = 0;               ///< bit 3: CRC and sizes follow the data
    std::uint32_t method = 0;              ///< 0 stored, 8 deflated
    std::uint32_t dosDateTime = 0;         ///< time in the low 16 bits, date in the high 16 bits
    std::uint32_t crc32 = 0;               ///< of the uncompressed data
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t nameLength = 0;
    std::uint32_t extraLength = 0;
    std::uint32_t commentLength = 0;
    std::uint32_t diskNumberStart = 0;
    std::uint32_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;  ///< low word: DOS/Windows attributes; high word: Unix mode
    std::int64_t time = 0;                 ///< seconds since 1970 UTC of the DOS time taken as local time
};
