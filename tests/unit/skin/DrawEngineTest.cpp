// Runs beside the stand-in "D2DEngine.dll", so the launcher's lookup finds it.
#include <gtest/gtest.h>

#include "resources/resource.h"
#include "skin/DrawEngine.h"
#include "skin/PngImageSB.h"

namespace {

struct EngineCalls {
    int factory = 0;
    int release = 0;
    int other = 0;
};

EngineCalls Calls()
{
    using CallsFn = void (*)(int*, int*, int*);
    EngineCalls calls;
    const auto read = reinterpret_cast<CallsFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA(kDrawEngineLibrary), "FakeDrawEngineCalls")));
    if (read)
        read(&calls.factory, &calls.release, &calls.other);
    return calls;
}

}  // namespace

TEST(DrawEngine, EveryReleasedPngImageIsReportedThroughTheEighthOperation)
{
    {
        CPngImageSB first;  // the first release looks the engine up
        ASSERT_TRUE(first.LoadPngResource(::GetModuleHandleA(nullptr), IDR_PNG_BACKGROUND));
    }
    ASSERT_NE(GetDrawEngine(), nullptr);
    {
        CPngImageSB never;  // released without a picture: still reported
    }
    EXPECT_EQ(GetDrawEngine(), GetDrawEngine());
    const EngineCalls calls = Calls();
    EXPECT_EQ(calls.factory, 1) << "the engine is looked up once per process";
    EXPECT_EQ(calls.release, 2);
    EXPECT_EQ(calls.other, 0);
}
