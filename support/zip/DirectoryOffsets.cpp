#include "support/zip/DirectoryOffsets.h"

#include <utility>

#include "support/zip/ZipFormat.h"

using namespace zipformat;

namespace {

constexpr std::size_t kNameLengthAt = 28;
constexpr std::size_t kExtraLengthAt = 30;
constexpr std::size_t kCommentLengthAt = 32;
constexpr std::size_t kLocalOffsetAt = 42;
constexpr std::size_t kCommentSizeAt = 20;  // in the end record

}  // namespace

bool ReadEntryOffsets(const unsigned char* directory, std::size_t size, std::map<std::string, std::uint32_t>& offsets)
{
    std::map<std::string, std::uint32_t> found;
    std::size_t position = 0;
    while (size - position >= kSignatureSize && Le32(directory + position) == kCentralRecordSignature) {
        if (size - position < kCentralRecordSize)
            return false;
        const unsigned char* record = directory + position;
        const std::size_t nameLength = Le16(record + kNameLengthAt);
        const std::size_t recordSize =
            kCentralRecordSize + nameLength + Le16(record + kExtraLengthAt) + Le16(record + kCommentLengthAt);
        if (size - position < recordSize)
            return false;
        found[std::string(reinterpret_cast<const char*>(record + kCentralRecordSize), nameLength)] =
            Le32(record + kLocalOffsetAt);
        position += recordSize;
    }
    // The end record and its comment end the bytes exactly.
    if (size - position < kEndRecordSize || Le32(directory + position) != kEndRecordSignature ||
        size - position != kEndRecordSize + Le16(directory + position + kCommentSizeAt))
        return false;
    offsets = std::move(found);
    return true;
}
