// The launcher's package installation, timed: InstallPackage unpacks beside the package.
//   BenchInstall.exe PACKAGE
#include "BenchSupport.h"
#include "update/PackageInstall.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: BenchInstall PACKAGE\n");
        return 2;
    }
    const BenchClock clock;
    const bool ok = InstallPackage(argv[1]);
    PrintBenchResult(ok, clock.Seconds(), 0);
    return ok ? 0 : 1;
}
