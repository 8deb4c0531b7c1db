// libFuzzer target: arbitrary bytes as an old file and a patch for it. The first two bytes give
// the old file's length (little-endian), its bytes follow, the rest is the patch.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/File.h"
#include "support/patch/PatchApply.h"

namespace {

constexpr std::size_t kLengthBytes = 2;

class CCountingOutput final : public IPatchOutput {
public:
    void Write(const unsigned char*, std::size_t size) override { written += size; }
    std::size_t written = 0;
};

std::string ScratchPath(const char* name)
{
    return "/tmp/kvo_patch_fuzz_" + std::to_string(::getpid()) + "_" + name;
}

void WriteScratch(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size))
        std::abort();
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kLengthBytes)
        return 0;
    std::size_t oldLength = data[0] | static_cast<std::size_t>(data[1]) << 8;
    if (oldLength > size - kLengthBytes)
        oldLength = size - kLengthBytes;
    static const std::string oldPath = ScratchPath("old");
    static const std::string patchPath = ScratchPath("patch");
    WriteScratch(oldPath, data + kLengthBytes, oldLength);
    WriteScratch(patchPath, data + kLengthBytes + oldLength, size - kLengthBytes - oldLength);
    kvo::CFile oldFile;
    kvo::CFile patchFile;
    if (!oldFile.Open(oldPath.c_str(), kvo::CFile::modeRead) || !patchFile.Open(patchPath.c_str(), kvo::CFile::modeRead))
        std::abort();
    CCountingOutput output;
    ApplyPatch(patchFile, oldFile, output);
    return 0;
}
