// A stand-in "D2DEngine.dll" that records what the launcher calls on it.
#include <windows.h>

#include "skin/DrawEngine.h"

namespace {

int g_factoryCalls = 0;
int g_releaseCalls = 0;
int g_otherCalls = 0;  ///< any other operation, and a release with other arguments than (0, "")

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
        ++(reserved == 0 && name && !*name ? g_releaseCalls : g_otherCalls);
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
extern "C" __declspec(dllexport) void FakeDrawEngineCalls(int* factoryCalls, int* releaseCalls, int* otherCalls)
{
    *factoryCalls = g_factoryCalls;
    *releaseCalls = g_releaseCalls;
    *otherCalls = g_otherCalls;
}
