// The launcher's installation, timed, today's way and as a staged release side by side:
//   BenchInstall.exe PACKAGE                  InstallPackage beside the package, each entry moved in place at once
//   BenchInstall.exe PACKAGE staged           the entries staged, then the release committed through its journal
//   BenchInstall.exe FILE SIZE [staged]       SIZE bytes, hashed as a download is, over the existing FILE: through a
//                                             temporary file beside it and a move, or staged and committed
// A staged run also reports the commit on its own ("commit=<s>").
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "support/Sha256.h"
#include "update/PackageInstall.h"
#include "update/ReleaseStaging.h"

namespace {

constexpr unsigned kBlock = 10240;
constexpr unsigned kReleaseVersion = 2;

/// The folder of `path`, with its trailing backslash.
std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\') + 1);
}

/// Writes `size` bytes into `temp` in download-sized blocks, hashing them as the download does.
bool WriteBody(CTempFileBeside& temp, std::uint64_t size)
{
    std::vector<char> block(kBlock, 'k');
    CSha256 hash;
    if (!temp.Open())
        return false;
    for (std::uint64_t done = 0; done < size; done += kBlock) {
        const unsigned count = static_cast<unsigned>(size - done < kBlock ? size - done : kBlock);
        temp.File().Write(block.data(), count);
        hash.Update(block.data(), count);
    }
    hash.Finish();
    return true;
}

void PrintResult(bool ok, double seconds, double commitSeconds)
{
    std::printf("ok=%d seconds=%.4f bytes=0 peak_ws=%llu commit=%.4f\n", ok ? 1 : 0, seconds,
                static_cast<unsigned long long>(PeakWorkingSet()), commitSeconds);
}

int InstallPackageNow(const std::string& package, bool staged)
{
    const BenchClock clock;
    if (!staged) {
        const bool ok = InstallPackage(package);
        PrintResult(ok, clock.Seconds(), 0);
        return ok ? 0 : 1;
    }
    CReleaseStaging staging(FolderOf(package));
    kvo::CFile file;
    std::string problem;
    bool ok = file.Open(package.c_str(), kvo::CFile::modeRead) &&
              InstallPackage(file, FolderOf(package), problem, staging);
    const BenchClock commit;
    ok = ok && staging.CommitAll(kReleaseVersion) == ERROR_SUCCESS;
    PrintResult(ok, clock.Seconds(), commit.Seconds());
    return ok ? 0 : 1;
}

int InstallFileNow(const std::string& target, std::uint64_t size, bool staged)
{
    const BenchClock clock;
    kvo::CFileException error(kvo::CFileException::none, 0, target);
    if (!staged) {
        CTempFileBeside temp(target);
        const bool ok = WriteBody(temp, size) && CommitInPlace().Commit(temp, IFileCommit::Kind::file,
                                                                         kNoAttributeWord, error);
        PrintResult(ok, clock.Seconds(), 0);
        return ok ? 0 : 1;
    }
    CReleaseStaging staging(FolderOf(target));
    std::string tempPath;
    bool ok = staging.TempPathFor(target, tempPath) == ERROR_SUCCESS;
    CTempFileBeside temp(target, tempPath);
    ok = ok && WriteBody(temp, size) && staging.Commit(temp, IFileCommit::Kind::file, kNoAttributeWord, error);
    const BenchClock commit;
    ok = ok && staging.CommitAll(kReleaseVersion) == ERROR_SUCCESS;
    PrintResult(ok, clock.Seconds(), commit.Seconds());
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 || (argc == 3 && std::strcmp(argv[2], "staged") == 0))
        return InstallPackageNow(argv[1], argc == 3);
    if (argc == 3 || (argc == 4 && std::strcmp(argv[3], "staged") == 0))
        return InstallFileNow(argv[1], std::strtoull(argv[2], nullptr, 10), argc == 4);
    std::fprintf(stderr, "usage: BenchInstall PACKAGE [staged] | BenchInstall FILE SIZE [staged]\n");
    return 2;
}
