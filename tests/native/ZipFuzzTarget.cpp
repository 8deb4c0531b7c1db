// libFuzzer target: arbitrary bytes as an archive, as the changed range of one (walked through every
// entry and every byte) and as its central directory alone.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "ArchiveWalk.h"
#include "support/zip/DirectoryOffsets.h"

namespace {

/// One scratch file per fuzzing process, rewritten for every input.
const std::string& InputPath()
{
    static const std::string path = "/tmp/kvo_zip_fuzz_" + std::to_string(::getpid()) + ".zip";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = InputPath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);

    WalkReport report = WalkArchive(path);
    const WalkReport asRange = WalkArchive(path, true);
    report.violations.insert(report.violations.end(), asRange.violations.begin(), asRange.violations.end());
    std::remove(path.c_str());
    // And as a package's central directory fetched alone: every offset found is one the bytes hold.
    std::map<std::string, std::uint32_t> offsets;
    ReadEntryOffsets(data, size, offsets);
    for (const std::string& violation : report.violations)
        std::fprintf(stderr, "violation: %s\n", violation.c_str());
    if (!report.violations.empty())
        std::abort();
    return 0;
}
