// Where the time of one current entry goes, each step as the launcher does it now beside the way
// it did it before, over COUNT current modules DIR\m\M00000.dll ... (hard links of one module).
//   BenchEntryCosts.exe DIR COUNT
// Prints one line per step: "step=<name> before_ms=<per entry> now_ms=<per entry>" (-1: not done).
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "framework/Handles.h"
#include "framework/Thread.h"
#include "support/Log.h"
#include "update/FileCheck.h"
#include "update/Leftovers.h"
#include "update/Manifest.h"

namespace {

std::string ModulePath(const std::string& dir, int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "m\\M%05d.dll", i);
    return dir + name;
}

/// Milliseconds per call of `step` over the `count` entries.
double PerEntry(int count, const std::function<void(int)>& step)
{
    const BenchClock clock;
    for (int i = 0; i < count; ++i)
        step(i);
    return clock.Seconds() * 1000 / count;
}

void Print(const char* step, double before, double now)
{
    std::printf("step=%s before_ms=%.4f now_ms=%.4f\n", step, before, now);
}

/// The version as the system's version functions read it: the file mapped twice.
void SystemVersion(const std::string& path)
{
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
    std::vector<char> block(size ? size : 1);
    void* value = nullptr;
    UINT length = 0;
    if (size && ::GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
        ::VerQueryValueA(block.data(), "\\", &value, &length);
}

std::string ManifestOf(int count)
{
    std::string text = "<?xml version=\"1.0\"?><UpdateInfo><Product productname=\"KvoLobby\" Ver=\"6\">";
    for (int i = 0; i < count; ++i) {
        text += "<File><FileName>m\\M" + std::to_string(i) + ".dll</FileName><FileVersion>1.0.0.5</FileVersion>"
                "<Length>0</Length><LocalPath></LocalPath><URL>http://127.0.0.1/x</URL><FileDateHigh>0</FileDateHigh>"
                "<FileDateLow>0</FileDateLow><Register>NO</Register><ZipFile>NO</ZipFile>"
                "<ForceOverwrite>YES</ForceOverwrite><Execute>NO</Execute><SHA256>" + std::string(64, '0') +
                "</SHA256></File>";
    }
    return text + "</Product></UpdateInfo>";
}

struct LabelJob {
    HWND label;
    int count;
    kvo::unique_handle done{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

unsigned SetLabelFromWorker(void* param)
{
    auto* job = static_cast<LabelJob*>(param);
    for (int i = 0; i < job->count; ++i)
        ::SetWindowTextA(job->label, "m\\M00000.dll");
    ::SetEvent(job->done.get());
    return 0;
}

/// A worker setting a label of a window whose thread runs its messages: one round trip a call.
double LabelRoundTrip(int count)
{
    const HWND label = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    LabelJob job{label, count};
    const BenchClock clock;
    if (!label || !kvo::BeginWorkerThread(SetLabelFromWorker, &job))
        return -1;
    const HANDLE done = job.done.get();
    while (::MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&msg);
    }
    const double perEntry = clock.Seconds() * 1000 / count;
    ::DestroyWindow(label);
    return perEntry;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: BenchEntryCosts DIR COUNT\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "\\";
    const int count = std::atoi(argv[2]);

    std::string version;
    Print("version", PerEntry(count, [&](int i) { SystemVersion(ModulePath(dir, i)); }),
          PerEntry(count, [&](int i) { GetFileVersionString(ModulePath(dir, i), version); }));
    Print("open_probe", PerEntry(count, [&](int i) {
              kvo::unique_hfile probe(::CreateFileA(ModulePath(dir, i).c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
          }), -1);
    CLeftoverTemporaryFiles leftovers;
    Print("leftover", PerEntry(count, [&](int i) { ::DeleteFileA((ModulePath(dir, i) + ".kvotmp").c_str()); }),
          PerEntry(count, [&](int i) { leftovers.RemoveBeside(ModulePath(dir, i)); }));
    Print("label", LabelRoundTrip(count), -1);
    CLog log;
    log.Open((dir + "costs.log").c_str());
    Print("log", -1, PerEntry(count, [&](int) { log.WriteLog("m\\M00000.dll 当前已是最新"); }));
    const std::string manifest = ManifestOf(count);
    ManifestRelease release;
    std::vector<UpdateFileEntry> entries;
    const BenchClock parse;
    const bool read = ReadManifestEntries(manifest, release, entries);
    Print("parse", -1, read ? parse.Seconds() * 1000 / count : -1);
    return 0;
}
