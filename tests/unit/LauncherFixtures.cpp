#include "LauncherFixtures.h"

#include "TempDir.h"

std::string LauncherFixture(const char* name)
{
    return std::string(KVO_LAUNCHER_FIXTURE_DIR) + "/" + name + ".exe";
}

std::string WithPeHeaderField(std::string image, std::size_t offset, WORD value, bool inOptionalHeader)
{
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    const std::size_t fileHeader = static_cast<std::size_t>(dos->e_lfanew) + sizeof(DWORD);
    const std::size_t at = fileHeader + (inOptionalHeader ? sizeof(IMAGE_FILE_HEADER) : 0) + offset;
    image[at] = static_cast<char>(value & 0xFF);
    image[at + 1] = static_cast<char>(value >> 8);
    return image;
}

std::string ForAnotherMachine(const std::string& image)
{
    return WithPeHeaderField(image, offsetof(IMAGE_FILE_HEADER, Machine), IMAGE_FILE_MACHINE_ARM64, false);
}
