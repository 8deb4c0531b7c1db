// The least an unpacker can do under this system: the files of a package written as they are,
// with no archive, no inflating and no checks, either straight to their names or, as the launcher
// must so that no good file is ever replaced by a broken one, each through a temporary file moved
// over its name (through the file's own handle, the cheapest move). The floor under every Win32
// unpacker's time.
//   BenchWriteFiles.exe DIR COUNT SIZE FOLDERS plain|replace
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "framework/File.h"

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: BenchWriteFiles DIR COUNT SIZE FOLDERS plain|replace\n");
        return 2;
    }
    const std::string root = argv[1];
    const int count = std::atoi(argv[2]);
    const std::vector<char> data(static_cast<std::size_t>(std::atoi(argv[3])), 'f');
    const int folders = std::atoi(argv[4]);
    const bool replace = std::strcmp(argv[5], "replace") == 0;
    const BenchClock clock;
    bool ok = ::CreateDirectoryA(root.c_str(), nullptr) != FALSE;
    std::uint64_t written = 0;
    for (int i = 0; ok && i < count; ++i) {
        const std::string folder = root + "\\d" + std::to_string(i % folders);
        if (i < folders)
            ::CreateDirectoryA(folder.c_str(), nullptr);
        const std::string target = folder + "\\f" + std::to_string(i) + ".dat";
        const std::string path = replace ? target + ".kvotmp" : target;
        kvo::CFile file;
        ok = file.Open(path.c_str(), kvo::CFile::modeCreate | kvo::CFile::modeWrite | kvo::CFile::modeRenameable);
        DWORD done = 0;
        ok = ok && ::WriteFile(file.GetHandle(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr);
        written += done;
        if (ok && replace)
            ok = file.RenameReplacing(target.c_str());
    }
    PrintBenchResult(ok, clock.Seconds(), written);
    return ok ? 0 : 1;
}
