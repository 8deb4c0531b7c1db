// The launcher's own download of one file, timed: CUpdateEngine::DownloadFile into the folder's
// staging area; the release is committed after the clock stops (the commit is timed with the
// installation), so that the next run starts from an empty staging area.
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
    const std::string folder = std::string(argv[2]) + "\\";
    ::CreateDirectoryA((folder + "LobbyDate").c_str(), nullptr);  // where the commit records the version
    CUpdateEngine engine(folder);  // no listener: nothing is shown, the counters still run
    UpdateFileEntry entry;
    entry.FileName = "bench.bin";
    entry.URL = argv[1];
    if (argc == 4)
        entry.SHA256 = argv[3];
    const BenchClock clock;
    bool ok = engine.DownloadFile(entry) == ERROR_SUCCESS;
    const double seconds = clock.Seconds();
    ok = ok && engine.m_staging.CommitAll(1) == ERROR_SUCCESS;
    PrintBenchResult(ok, seconds, engine.m_nCurFileDone);
    return ok ? 0 : 1;
}
