// The headers of a PE image, read through ReadFile at their offsets: a file from the network, or
// one of thousands of current modules, is never mapped or loaded for them. Every offset comes from
// the file, so every read is bounded and checked.
#include "support/PeImage.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/Handles.h"

namespace {

/// The loader takes no image with more sections than this.
constexpr WORD kMaxSections = 96;
/// A resource directory with more entries than this is not read (a real one has a handful).
constexpr unsigned kMaxDirectoryEntries = 4096;
constexpr DWORD kSubdirectoryFlag = 0x80000000;
constexpr DWORD kNamedEntryFlag = 0x80000000;
constexpr int kFirstEntry = -1;
/// A resource read whole (the update key) is small; anything larger is not what is looked for.
constexpr DWORD kMaxResourceSize = 1 << 20;

// The version resource: type RT_VERSION (16), name VS_VERSION_INFO (1); its record starts with a
// 6-byte header and the key L"VS_VERSION_INFO" with its terminator, padded to 4 bytes, and then
// holds the fixed record.
constexpr int kVersionResourceType = 16;
constexpr int kVersionResourceName = 1;
constexpr WCHAR kVersionKey[] = L"VS_VERSION_INFO";
constexpr std::uint32_t kFixedInfoOffset = 40;
constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;

struct VersionRecordHeader {
    WORD length;
    WORD valueLength;
    WORD type;
    WCHAR key[sizeof kVersionKey / sizeof kVersionKey[0]];
};

/// The bytes fetched by one system read: the headers and section table of an image lie in its
/// first block, its resource directory in one more, so a version lookup costs a few reads where
/// each field read on its own would be a system call (a round trip to the Wine server there).
constexpr DWORD kBlockSize = 16384;

/// Reads of one file through the last block read.
class BlockReader {
public:
    explicit BlockReader(HANDLE file) noexcept : m_file(file) {}

    /// Reads `size` bytes at `offset`; false when the file ends before them.
    bool ReadAt(std::uint64_t offset, void* buffer, DWORD size)
    {
        if (offset < m_start || offset + size > m_start + m_block.size()) {
            if (offset > UINT32_MAX)
                return false;
            m_block.resize(std::max(size, kBlockSize));
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            DWORD got = 0;
            if (!::ReadFile(m_file, m_block.data(), static_cast<DWORD>(m_block.size()), &got, &at))
                got = 0;
            m_block.resize(got);
            m_start = offset;
            if (got < size)
                return false;
        }
        std::memcpy(buffer, m_block.data() + (offset - m_start), size);
        return true;
    }

private:
    HANDLE m_file;
    std::uint64_t m_start = 0;
    std::vector<char> m_block;
};

kvo::unique_hfile OpenForReading(const std::string& path, DWORD share = FILE_SHARE_READ)
{
    return kvo::unique_hfile(
        ::CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

/// The headers every step starts from.
struct PeHeaders {
    std::uint32_t peOffset = 0;
    IMAGE_FILE_HEADER file{};

    std::uint64_t OptionalHeaderOffset() const { return std::uint64_t{peOffset} + sizeof(DWORD) + sizeof file; }
    std::uint64_t SectionTableOffset() const { return OptionalHeaderOffset() + file.SizeOfOptionalHeader; }
};

/// False when `file` is not a PE image.
bool ReadHeaders(BlockReader& reader, PeHeaders& headers)
{
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    if (!reader.ReadAt(0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    headers.peOffset = static_cast<std::uint32_t>(dos.e_lfanew);
    return reader.ReadAt(headers.peOffset, &signature, sizeof signature) && signature == IMAGE_NT_SIGNATURE &&
           reader.ReadAt(std::uint64_t{headers.peOffset} + sizeof signature, &headers.file, sizeof headers.file);
}

bool ReadSections(BlockReader& reader, const PeHeaders& headers, std::vector<IMAGE_SECTION_HEADER>& sections)
{
    if (headers.file.NumberOfSections > kMaxSections)
        return false;
    sections.resize(headers.file.NumberOfSections);
    return sections.empty() || reader.ReadAt(headers.SectionTableOffset(), sections.data(),
                                      static_cast<DWORD>(sections.size() * sizeof(IMAGE_SECTION_HEADER)));
}

/// The file offset of `size` bytes at the relative address `rva`, when they lie in one section's data.
bool FileOffsetOf(const std::vector<IMAGE_SECTION_HEADER>& sections, std::uint64_t rva, std::uint32_t size,
                  std::uint64_t& offset)
{
    for (const IMAGE_SECTION_HEADER& section : sections) {
        const std::uint64_t start = section.VirtualAddress;
        if (rva >= start && rva + size <= start + section.SizeOfRawData) {
            offset = section.PointerToRawData + (rva - start);
            return true;
        }
    }
    return false;
}

/// The resource directory's relative address; false when the image has none.
bool ResourceDirectoryRva(BlockReader& reader, const PeHeaders& headers, std::uint32_t& rva)
{
    WORD magic = 0;
    if (!reader.ReadAt(headers.OptionalHeaderOffset(), &magic, sizeof magic))
        return false;
    std::size_t countAt = 0;
    std::size_t directoriesAt = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        countAt = offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
        directoriesAt = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        countAt = offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
        directoriesAt = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    } else {
        return false;
    }
    const std::size_t resourceAt = directoriesAt + IMAGE_DIRECTORY_ENTRY_RESOURCE * sizeof(IMAGE_DATA_DIRECTORY);
    DWORD count = 0;
    IMAGE_DATA_DIRECTORY resources{};
    if (headers.file.SizeOfOptionalHeader < resourceAt + sizeof resources ||
        !reader.ReadAt(headers.OptionalHeaderOffset() + countAt, &count, sizeof count) ||
        count <= IMAGE_DIRECTORY_ENTRY_RESOURCE ||
        !reader.ReadAt(headers.OptionalHeaderOffset() + resourceAt, &resources, sizeof resources) ||
        resources.VirtualAddress == 0)
        return false;
    rva = resources.VirtualAddress;
    return true;
}

/// The entry a step down the resource tree takes: by number, by name (upper case, as the resource
/// compiler stores names), or the first one.
struct ResourceKey {
    int id = kFirstEntry;
    const WCHAR* name = nullptr;
};

/// Whether the directory entry `entry` is the one `key` names; a name is read from the tree.
bool IsEntryFor(BlockReader& reader, const std::vector<IMAGE_SECTION_HEADER>& sections, std::uint32_t rootRva,
                const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry, const ResourceKey& key)
{
    const bool named = (entry.Name & kNamedEntryFlag) != 0;
    if (!key.name)
        return key.id == kFirstEntry || (!named && entry.Name == static_cast<DWORD>(key.id));
    if (!named)
        return false;
    const std::size_t length = std::char_traits<WCHAR>::length(key.name);
    std::vector<WCHAR> stored(length + 1);  // its length, then its characters
    std::uint64_t at = 0;
    const auto size = static_cast<std::uint32_t>(stored.size() * sizeof(WCHAR));
    return FileOffsetOf(sections, std::uint64_t{rootRva} + (entry.Name & ~kNamedEntryFlag), size, at) &&
           reader.ReadAt(at, stored.data(), size) && stored[0] == length &&
           std::memcmp(stored.data() + 1, key.name, length * sizeof(WCHAR)) == 0;
}

/// One level down the resource tree: the entry `key` names of the directory at `offset` (from the
/// tree's root). `next` receives its OffsetToData, which must lead to a directory when
/// `wantDirectory` and to data otherwise.
bool Descend(BlockReader& reader, const std::vector<IMAGE_SECTION_HEADER>& sections, std::uint32_t rootRva, DWORD offset,
             const ResourceKey& key, bool wantDirectory, DWORD& next)
{
    const std::uint64_t directoryRva = std::uint64_t{rootRva} + (offset & ~kSubdirectoryFlag);
    IMAGE_RESOURCE_DIRECTORY directory{};
    std::uint64_t at = 0;
    if (!FileOffsetOf(sections, directoryRva, sizeof directory, at) || !reader.ReadAt(at, &directory, sizeof directory))
        return false;
    const unsigned count = unsigned{directory.NumberOfNamedEntries} + directory.NumberOfIdEntries;
    if (count == 0 || count > kMaxDirectoryEntries)
        return false;
    std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> entries(count);
    const auto size = static_cast<std::uint32_t>(count * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY));
    if (!FileOffsetOf(sections, directoryRva + sizeof directory, size, at) || !reader.ReadAt(at, entries.data(), size))
        return false;
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const IMAGE_RESOURCE_DIRECTORY_ENTRY& entry) {
        return IsEntryFor(reader, sections, rootRva, entry, key);
    });
    if (found == entries.end())
        return false;
    next = found->OffsetToData;
    return ((next & kSubdirectoryFlag) != 0) == wantDirectory;
}

/// The data entry of the resource `type`/`name` in its first language, and the image's sections
/// to find its bytes with.
bool LocateResource(BlockReader& reader, const ResourceKey& type, const ResourceKey& name,
                    IMAGE_RESOURCE_DATA_ENTRY& data, std::vector<IMAGE_SECTION_HEADER>& sections)
{
    PeHeaders headers;
    std::uint32_t root = 0;
    if (!ReadHeaders(reader, headers) || !ReadSections(reader, headers, sections) ||
        !ResourceDirectoryRva(reader, headers, root))
        return false;
    DWORD typeOffset = 0;
    DWORD nameOffset = 0;
    DWORD language = 0;
    std::uint64_t at = 0;
    return Descend(reader, sections, root, kSubdirectoryFlag, type, true, typeOffset) &&
           Descend(reader, sections, root, typeOffset, name, true, nameOffset) &&
           Descend(reader, sections, root, nameOffset, ResourceKey{}, false, language) &&
           FileOffsetOf(sections, std::uint64_t{root} + language, sizeof data, at) &&
           reader.ReadAt(at, &data, sizeof data);
}

}  // namespace

bool ReadPeImageKind(HANDLE file, PeImageKind& kind)
{
    BlockReader reader(file);
    PeHeaders headers;
    if (!ReadHeaders(reader, headers))
        return false;
    // Magic and Subsystem lie at the same offsets in the PE32 and the PE32+ optional header.
    if (headers.file.SizeOfOptionalHeader < offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem) + sizeof(WORD) ||
        !reader.ReadAt(headers.OptionalHeaderOffset(), &kind.magic, sizeof kind.magic) ||
        !reader.ReadAt(headers.OptionalHeaderOffset() + offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem),
                &kind.subsystem, sizeof kind.subsystem))
        return false;
    kind.machine = headers.file.Machine;
    return true;
}

bool ReadPeImageKind(const std::string& path, PeImageKind& kind)
{
    const kvo::unique_hfile file = OpenForReading(path);
    return file && ReadPeImageKind(file.get(), kind);
}

bool ReadPeFileVersion(HANDLE file, VS_FIXEDFILEINFO& version)
{
    BlockReader reader(file);
    IMAGE_RESOURCE_DATA_ENTRY data{};
    std::vector<IMAGE_SECTION_HEADER> sections;
    if (!LocateResource(reader, ResourceKey{kVersionResourceType}, ResourceKey{kVersionResourceName}, data, sections))
        return false;
    const std::uint32_t needed = kFixedInfoOffset + sizeof version;
    VersionRecordHeader record{};
    std::uint64_t at = 0;
    if (data.Size < needed || !FileOffsetOf(sections, data.OffsetToData, needed, at) ||
        !reader.ReadAt(at, &record, sizeof record) || !reader.ReadAt(at + kFixedInfoOffset, &version, sizeof version))
        return false;
    return std::memcmp(record.key, kVersionKey, sizeof kVersionKey) == 0 && record.valueLength >= sizeof version &&
           version.dwSignature == kFixedInfoSignature;
}

bool ReadPeFileVersion(const std::string& path, VS_FIXEDFILEINFO& version)
{
    // Shared as widely as the system's own version reading: a module in use still has a version.
    const kvo::unique_hfile file = OpenForReading(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    return file && ReadPeFileVersion(file.get(), version);
}

bool ReadPeResource(HANDLE file, int type, const WCHAR* name, std::string& bytes)
{
    BlockReader reader(file);
    IMAGE_RESOURCE_DATA_ENTRY data{};
    std::vector<IMAGE_SECTION_HEADER> sections;
    std::uint64_t at = 0;
    if (!LocateResource(reader, ResourceKey{type}, ResourceKey{kFirstEntry, name}, data, sections) ||
        data.Size > kMaxResourceSize || !FileOffsetOf(sections, data.OffsetToData, data.Size, at))
        return false;
    bytes.resize(data.Size);
    return data.Size == 0 || reader.ReadAt(at, &bytes[0], data.Size);
}

bool IsWholeModuleImage(HANDLE file)
{
    BlockReader reader(file);
    LARGE_INTEGER size{};
    WORD magic = 0;
    if (!::GetFileSizeEx(file, &size) || !reader.ReadAt(0, &magic, sizeof magic))
        return false;
    if (magic != IMAGE_DOS_SIGNATURE)
        return true;  // not a PE image: nothing to measure it by
    PeHeaders headers;
    std::vector<IMAGE_SECTION_HEADER> sections;
    if (!ReadHeaders(reader, headers) || !ReadSections(reader, headers, sections))
        return false;
    std::uint64_t end = 0;
    for (const IMAGE_SECTION_HEADER& section : sections)
        end = std::max<std::uint64_t>(end, std::uint64_t{section.PointerToRawData} + section.SizeOfRawData);
    if (headers.file.PointerToSymbolTable != 0) {
        // The symbol table, then the string table, which starts with its own size.
        const std::uint64_t strings = std::uint64_t{headers.file.PointerToSymbolTable} +
                                      std::uint64_t{headers.file.NumberOfSymbols} * IMAGE_SIZEOF_SYMBOL;
        std::uint32_t stringsSize = 0;
        if (!reader.ReadAt(strings, &stringsSize, sizeof stringsSize))
            return false;
        end = std::max(end, strings + stringsSize);
    }
    return static_cast<std::uint64_t>(size.QuadPart) >= end;
}

bool IsWholeModuleImage(const std::string& path)
{
    const kvo::unique_hfile file = OpenForReading(path);
    return file && IsWholeModuleImage(file.get());
}
