// The launcher's own download of one file, timed: CUpdateEngine::DownloadFile into a folder.
//   BenchDownload.exe URL FOLDER [SHA256]    downloads URL to FOLDER\bench.bin (checked against
//   SHA256 when given, which also lets a cut transfer resume)
#include <string>

#include "BenchSupport.h"
#include "update/UpdateEngine.h"

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: BenchDownload URL FOLDER [SHA256]\n");
        return 2;
    }
    CUpdateEngine engine(std::string(argv[2]) + "\\");  // no listener: nothing is shown, the counters still run
    UpdateFileEntry entry;
    entry.FileName = "bench.bin";
    entry.URL = argv[1];
    if (argc == 4)
        entry.SHA256 = argv[3];
    const BenchClock clock;
    const bool ok = engine.DownloadFile(entry) == ERROR_SUCCESS;
    PrintBenchResult(ok, clock.Seconds(), engine.m_nCurFileDone);
    return ok ? 0 : 1;
}
