// Writes ZIP archives in memory for the tests, with the knobs that broken archives need.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

/// One entry to write.
struct ZipTestEntry {
    ZipTestEntry(std::string entryName, std::string content, bool deflated = false)
        : name(std::move(entryName)), data(std::move(content)), deflate(deflated)
    {
    }

    std::string name;
    std::string data;                ///< uncompressed content
    bool deflate = false;
    std::uint32_t dosDateTime = 0x52AF6B2Du;  ///< 2021-05-15 13:25:26
    std::uint32_t externalAttributes = 0;
};

/// Where the builder put things, for byte-level edits.
struct ZipLayout {
    std::vector<std::size_t> localHeaders;    ///< offset of each local header
    std::vector<std::size_t> dataOffsets;     ///< offset of each entry's data
    std::vector<std::size_t> dataSizes;       ///< compressed size of each entry's data
    std::vector<std::size_t> centralRecords;  ///< offset of each central record
    std::size_t endRecord = 0;
};

/// The archive of `entries` with `comment` at its end.
std::string BuildZip(const std::vector<ZipTestEntry>& entries, const std::string& comment = std::string(),
                     ZipLayout* layout = nullptr);

/// A change to the bytes of an archive, knowing where the builder put things.
using ZipEdit = std::function<void(std::string& bytes, const ZipLayout& layout)>;
/// The archive of `entries` after `edit` changed its bytes.
std::string Edited(const std::vector<ZipTestEntry>& entries, const ZipEdit& edit);

/// Raw deflate data (no zlib header) of `data`.
std::string RawDeflate(const std::string& data);
std::uint32_t Crc32Of(const std::string& data);
/// Bytes that deflate hardly shrinks, the same for every seed.
std::string PseudoRandomBytes(std::size_t count, std::uint32_t seed);

void PutLe16(std::string& bytes, std::size_t position, std::uint32_t value);
void PutLe32(std::string& bytes, std::size_t position, std::uint32_t value);
/// Sets a 32-bit field in the local header and the central record of entry `index`.
void PutBoth(std::string& bytes, const ZipLayout& layout, std::size_t index, std::size_t localField,
             std::size_t centralField, std::uint32_t value);

/// Field offsets inside the records, for edits.
namespace zipfield {
constexpr std::size_t kLocalMethod = 8, kLocalCrc = 14, kLocalCompressed = 18, kLocalUncompressed = 22;
constexpr std::size_t kCentralMethod = 10, kCentralCrc = 16, kCentralCompressed = 20,
                      kCentralUncompressed = 24, kCentralLocalOffset = 42;
constexpr std::size_t kEndThisDisk = 4, kEndDirectoryDisk = 6, kEndEntriesOnDisk = 8, kEndEntriesTotal = 10,
                      kEndDirectorySize = 12, kEndDirectoryOffset = 16;
}  // namespace zipfield
