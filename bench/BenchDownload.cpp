// The launcher's own download of one file, timed: CKvoLauncherDlg::DownloadFile into a folder.
//   BenchDownload.exe URL FOLDER [SHA256]    downloads URL to FOLDER\bench.bin (checked against
//   SHA256 when given, which also lets a cut transfer resume)
#include <string>

#include "BenchSupport.h"
#include "app/KvoLauncherDlg.h"

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: BenchDownload URL FOLDER [SHA256]\n");
        return 2;
    }
    CKvoLauncherDlg dialog(std::string(argv[2]) + "\\");  // no window: nothing is shown, the counters still run
    UpdateFileEntry entry;
    entry.FileName = "bench.bin";
    entry.URL = argv[1];
    if (argc == 4)
        entry.SHA256 = argv[3];
    const BenchClock clock;
    const bool ok = dialog.DownloadFile(entry);
    PrintBenchResult(ok, clock.Seconds(), dialog.m_nCurFileDone);
    return ok ? 0 : 1;
}
