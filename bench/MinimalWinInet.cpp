// The least a WinINet download can do, as the yardstick of the launcher's: one request, reads of
// 10240 bytes written straight to the file, no checks, no progress. With "sha256" every block is
// also hashed as the launcher hashes it: the cost of the hash alone. With "bounded" each read asks
// only for what InternetQueryDataAvailable says has come, as a download with a speed floor must
// (a read of a whole block would wait for all of it): the cost of the bounded reads alone.
//   MinimalWinInet.exe HOST PORT OBJECT FILE [sha256|bounded]
#include "BenchSupport.h"

#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/Handles.h"
#include "support/Sha256.h"

namespace {
constexpr DWORD kBlockSize = 10240;  // the launcher's transfer buffer
}

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: MinimalWinInet HOST PORT OBJECT FILE [sha256]\n");
        return 2;
    }
    const bool hashing = argc == 6 && std::strcmp(argv[5], "sha256") == 0;
    const bool bounded = argc == 6 && std::strcmp(argv[5], "bounded") == 0;
    CSha256 hash;
    const BenchClock clock;
    const kvo::unique_hinternet session(::InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const kvo::unique_hinternet connection(::InternetConnectA(session.get(), argv[1],
                                                              static_cast<INTERNET_PORT>(std::atoi(argv[2])), nullptr,
                                                              nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    const kvo::unique_hinternet request(::HttpOpenRequestA(connection.get(), "GET", argv[3], nullptr, nullptr, nullptr,
                                                           INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    const kvo::unique_hfile file(::CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!request || !file || !::HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) {
        PrintBenchResult(false, clock.Seconds(), 0);
        return 1;
    }
    std::vector<char> buffer(kBlockSize);
    std::uint64_t total = 0;
    DWORD got = 0;
    for (;;) {
        DWORD want = kBlockSize;
        if (bounded && (!::InternetQueryDataAvailable(request.get(), &want, 0, 0) || want == 0))
            break;
        if (!::InternetReadFile(request.get(), buffer.data(), std::min(want, kBlockSize), &got) || got == 0)
            break;
        DWORD written = 0;
        ::WriteFile(file.get(), buffer.data(), got, &written, nullptr);
        if (hashing)
            hash.Update(buffer.data(), got);
        total += written;
    }
    if (hashing)
        hash.Finish();
    PrintBenchResult(true, clock.Seconds(), total);
    return 0;
}
