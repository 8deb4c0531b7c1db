// The patch's two sides on files, timed, with the process's peak working set:
//   BenchPatch diff OLD NEW PATCH   makes the patch from OLD to NEW, as the publishing tool does
//   BenchPatch apply OLD PATCH OUT  makes OUT from OLD and PATCH, as the launcher does (streaming)
#include <cstring>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "framework/File.h"
#include "support/patch/PatchApply.h"
#include "support/patch/PatchDiff.h"
#include "tools/publish/ReleaseTree.h"

namespace {

class CFileOutput final : public IPatchOutput {
public:
    explicit CFileOutput(kvo::CFile& file) : m_file(file) {}
    void Write(const unsigned char* data, std::size_t size) override
    {
        m_file.Write(data, static_cast<unsigned>(size));
        written += size;
    }
    std::uint64_t written = 0;

private:
    kvo::CFile& m_file;
};

int Diff(const char* oldPath, const char* newPath, const char* patchPath)
{
    std::string before, after;
    if (!ReadWholeFile(oldPath, before) || !ReadWholeFile(newPath, after))
        return 2;
    const BenchClock clock;
    const std::string patchBytes = MakePatch(reinterpret_cast<const unsigned char*>(before.data()), before.size(),
                                             reinterpret_cast<const unsigned char*>(after.data()), after.size());
    const double seconds = clock.Seconds();
    kvo::CFile out;
    if (!out.Open(patchPath, kvo::CFile::modeCreate | kvo::CFile::modeWrite))
        return 2;
    out.Write(patchBytes.data(), static_cast<unsigned>(patchBytes.size()));
    PrintBenchResult(true, seconds, patchBytes.size());
    return 0;
}

int Apply(const char* oldPath, const char* patchPath, const char* outPath)
{
    kvo::CFile old, patchFile, out;
    if (!old.Open(oldPath, kvo::CFile::modeRead) || !patchFile.Open(patchPath, kvo::CFile::modeRead) ||
        !out.Open(outPath, kvo::CFile::modeCreate | kvo::CFile::modeWrite))
        return 2;
    const BenchClock clock;
    CFileOutput output(out);
    const bool ok = ApplyPatch(patchFile, old, output) == PatchResult::applied;
    PrintBenchResult(ok, clock.Seconds(), output.written);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "diff") == 0)
        return Diff(argv[2], argv[3], argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "apply") == 0)
        return Apply(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: BenchPatch diff OLD NEW PATCH | apply OLD PATCH OUT\n");
    return 2;
}
