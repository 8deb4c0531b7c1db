// A stand-in "D2DEngine.dll" that records what the launcher calls on it.
#include <windows.h>

#include <cstring>

#include "skin/DrawEngine.h"

namespace {

constexpr int kNameSize = 260;

int g_factoryCalls = 0;
int g_releaseCalls = 0;
int g_otherCalls = 0;
int g_lastReserved = -1;
char g_lastName[kNameSize] = "unset";

class FakeEngine final : public IDrawEngine {
public:
    void Reserved1() override { ++g_otherCalls; }
    void Reserved2() override { ++g_otherCalls; }
    void Reserved3() override { ++g_otherCalls; }
    void Reserved4() override { ++g_otherCalls; }
    void Reserved5() override { ++g_otherCalls; }
    void Reserved6() override { ++g_otherCalls; }
    void Reserved7() override { ++g_otherCalls; }
    int ReleaseImage(int reserved, const char* name) override
    {
        ++g_releaseCalls;
        g_lastReserved = reserved;
        std::strncpy(g_lastName, name ? name : "(null)", kNameSize - 1);
        return 1;
    }
};

FakeEngine g_engine;

}  // namespace

/// Leaves a trace of every load in the file that KVO_ENGINE_TRACE names: the scenario that plants
/// this library where the launcher must not look for it checks that no trace appears.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    char tracePath[MAX_PATH] = {};
    if (reason == DLL_PROCESS_ATTACH && ::GetEnvironmentVariableA("KVO_ENGINE_TRACE", tracePath, MAX_PATH) > 0) {
        const HANDLE trace = ::CreateFileA(tracePath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
        char module[MAX_PATH] = {};
        DWORD written = 0;
        const DWORD length = ::GetModuleFileNameA(nullptr, module, MAX_PATH);
        ::WriteFile(trace, module, length, &written, nullptr);
        ::CloseHandle(trace);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) IDrawEngine* CreateD2DEngine()
{
    ++g_factoryCalls;
    return &g_engine;
}

/// What the engine has seen so far, for the tests.
extern "C" __declspec(dllexport) void FakeDrawEngineStats(int* factoryCalls, int* releaseCalls, int* otherCalls,
                                                          int* lastReserved, char* lastName, int nameSize)
{
    *factoryCalls = g_factoryCalls;
    *releaseCalls = g_releaseCalls;
    *otherCalls = g_otherCalls;
    *lastReserved = g_lastReserved;
    std::strncpy(lastName, g_lastName, static_cast<std::size_t>(nameSize) - 1);
    lastName[nameSize - 1] = '\0';
}
