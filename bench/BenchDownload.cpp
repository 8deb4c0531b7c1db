// The launcher's own download of one file, timed: CKvoLauncherDlg::DownloadFile into a folder.
//   BenchDownload.exe URL FOLDER     downloads URL to FOLDER\bench.bin
#include <string>

#include "BenchSupport.h"
#include "app/KvoLauncherApp.h"
#include "app/KvoLauncherDlg.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: BenchDownload URL FOLDER\n");
        return 2;
    }
    theApp.m_strModuleDir = std::string(argv[2]) + "\\";
    CKvoLauncherDlg dialog;  // no window: the label texts go nowhere, the counters still run
    UpdateFileEntry entry;
    entry.FileName = "bench.bin";
    entry.URL = argv[1];
    const BenchClock clock;
    const bool ok = dialog.DownloadFile(entry);
    PrintBenchResult(ok, clock.Seconds(), dialog.m_nCurFileDone);
    return ok ? 0 : 1;
}
