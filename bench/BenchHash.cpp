// The launcher's SHA-256 alone, timed: SIZE bytes hashed from memory in 10240-byte pieces, the
// pieces a download hands it. What hashing can cost a download at most, whatever the network.
//   BenchHash.exe SIZE
#include <cstdlib>
#include <vector>

#include "BenchSupport.h"
#include "support/Sha256.h"

namespace {
constexpr std::size_t kBlockSize = 10240;  // the launcher's transfer buffer
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: BenchHash SIZE\n");
        return 2;
    }
    const std::uint64_t size = std::strtoull(argv[1], nullptr, 10);
    const std::vector<char> block(kBlockSize, 'k');
    const BenchClock clock;
    CSha256 hash;
    for (std::uint64_t done = 0; done < size; done += kBlockSize)
        hash.Update(block.data(), static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, size - done)));
    hash.Finish();
    PrintBenchResult(true, clock.Seconds(), size);
    return 0;
}
