// Runs beside the stand-in "D2DEngine.dll", so the launcher's lookup finds it.
#include <gtest/gtest.h>

#include <string>

#include "resources/resource.h"
#include "skin/DrawEngine.h"
#include "skin/PngImageSB.h"

namespace {

constexpr int kNameSize = 260;

struct EngineStats {
    int factoryCalls = 0;
    int releaseCalls = 0;
    int otherCalls = 0;
    int lastReserved = 0;
    std::string lastName;
};

EngineStats Stats()
{
    using StatsFn = void (*)(int*, int*, int*, int*, char*, int);
    const HMODULE engine = ::GetModuleHandleA(kDrawEngineLibrary);
    EngineStats stats;
    if (!engine)
        return stats;
    const auto read = reinterpret_cast<StatsFn>(reinterpret_cast<void*>(::GetProcAddress(engine, "FakeDrawEngineStats")));
    char name[kNameSize] = {};
    read(&stats.factoryCalls, &stats.releaseCalls, &stats.otherCalls, &stats.lastReserved, name, kNameSize);
    stats.lastName = name;
    return stats;
}

}  // namespace

TEST(DrawEngine, EveryReleasedPngImageIsReportedThroughTheEighthOperation)
{
    {
        CPngImageSB first;  // the first release looks the engine up
        ASSERT_TRUE(first.LoadPngResource(::GetModuleHandleA(nullptr), IDR_PNG_BACKGROUND));
    }
    ASSERT_NE(GetDrawEngine(), nullptr);
    EngineStats stats = Stats();
    EXPECT_EQ(stats.factoryCalls, 1);
    EXPECT_EQ(stats.releaseCalls, 1);
    EXPECT_EQ(stats.otherCalls, 0);
    EXPECT_EQ(stats.lastReserved, 0);
    EXPECT_EQ(stats.lastName, "");  // nothing names the images

    {
        CPngImageSB never;  // released without a picture: still reported
    }
    EXPECT_EQ(GetDrawEngine(), GetDrawEngine());
    stats = Stats();
    EXPECT_EQ(stats.factoryCalls, 1) << "the engine is looked up once per process";
    EXPECT_EQ(stats.releaseCalls, 2);
    EXPECT_EQ(stats.otherCalls, 0);
}
