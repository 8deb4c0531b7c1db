// The headers of a PE image, read through ReadFile at their offsets: a file from the network
// is never mapped or loaded for them.
#include "support/PeImage.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "framework/Handles.h"

namespace {

/// Reads `size` bytes at `offset`; false when the file ends before them.
bool ReadAt(HANDLE file, std::uint32_t offset, void* buffer, DWORD size)
{
    OVERLAPPED at{};
    at.Offset = offset;
    DWORD got = 0;
    return ::ReadFile(file, buffer, size, &got, &at) && got == size;
}

/// The file header of the image in `file` and where it lies; false when it is not a PE image.
bool ReadFileHeader(HANDLE file, std::uint32_t& peOffset, IMAGE_FILE_HEADER& header)
{
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    if (!ReadAt(file, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    peOffset = static_cast<std::uint32_t>(dos.e_lfanew);
    return ReadAt(file, peOffset, &signature, sizeof signature) && signature == IMAGE_NT_SIGNATURE &&
           ReadAt(file, peOffset + sizeof signature, &header, sizeof header);
}

kvo::unique_hfile OpenForReading(const std::string& path)
{
    return kvo::unique_hfile(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

bool ReadPeImageKind(const std::string& path, PeImageKind& kind)
{
    const kvo::unique_hfile file = OpenForReading(path);
    std::uint32_t peOffset = 0;
    IMAGE_FILE_HEADER header{};
    if (!file || !ReadFileHeader(file.get(), peOffset, header))
        return false;
    // Magic and Subsystem lie at the same offsets in the PE32 and the PE32+ optional header.
    const std::uint32_t optional = peOffset + sizeof(DWORD) + sizeof header;
    if (header.SizeOfOptionalHeader < offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem) + sizeof(WORD) ||
        !ReadAt(file.get(), optional, &kind.magic, sizeof kind.magic) ||
        !ReadAt(file.get(), optional + offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem), &kind.subsystem,
                sizeof kind.subsystem))
        return false;
    kind.machine = header.Machine;
    return true;
}

bool IsWholeModuleImage(const std::string& path)
{
    const kvo::unique_hfile file = OpenForReading(path);
    LARGE_INTEGER size{};
    WORD magic = 0;
    if (!file || !::GetFileSizeEx(file.get(), &size) || !ReadAt(file.get(), 0, &magic, sizeof magic))
        return false;
    if (magic != IMAGE_DOS_SIGNATURE)
        return true;  // not a PE image: nothing to measure it by
    std::uint32_t peOffset = 0;
    IMAGE_FILE_HEADER header{};
    if (!ReadFileHeader(file.get(), peOffset, header))
        return false;
    std::uint64_t end = 0;
    std::uint64_t sectionAt = std::uint64_t{peOffset} + sizeof(DWORD) + sizeof header + header.SizeOfOptionalHeader;
    for (WORD i = 0; i < header.NumberOfSections; ++i, sectionAt += sizeof(IMAGE_SECTION_HEADER)) {
        IMAGE_SECTION_HEADER section{};
        if (sectionAt > UINT32_MAX || !ReadAt(file.get(), static_cast<std::uint32_t>(sectionAt), &section, sizeof section))
            return false;
        end = std::max<std::uint64_t>(end, std::uint64_t{section.PointerToRawData} + section.SizeOfRawData);
    }
    if (header.PointerToSymbolTable != 0) {
        // The symbol table, then the string table, which starts with its own size.
        const std::uint64_t strings = std::uint64_t{header.PointerToSymbolTable} +
                                      std::uint64_t{header.NumberOfSymbols} * IMAGE_SIZEOF_SYMBOL;
        std::uint32_t stringsSize = 0;
        if (strings > UINT32_MAX || !ReadAt(file.get(), static_cast<std::uint32_t>(strings), &stringsSize, sizeof stringsSize))
            return false;
        end = std::max(end, strings + stringsSize);
    }
    return static_cast<std::uint64_t>(size.QuadPart) >= end;
}
