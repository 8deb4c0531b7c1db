#include <gtest/gtest.h>

#include "TempDir.h"
#include "framework/Handles.h"

namespace {

bool IsOpenEvent(HANDLE event) { return ::SetEvent(event) != FALSE; }

}  // namespace

// Every owner is the same template; its traits only name the empty value and the close call.
TEST(HandleOwner, TheOneOwnerClosesOnceAndReleaseGivesUp)
{
    const HANDLE raw = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        kvo::unique_handle first(raw);
        kvo::unique_handle second(std::move(first));
        EXPECT_FALSE(first);
        kvo::unique_handle third;
        third = std::move(second);
        EXPECT_EQ(third.get(), raw);
        EXPECT_TRUE(IsOpenEvent(raw));
    }
    EXPECT_FALSE(IsOpenEvent(raw));
    const HANDLE kept = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    kvo::unique_handle owner(kept);
    EXPECT_EQ(owner.release(), kept);
    EXPECT_TRUE(IsOpenEvent(kept));
    owner.reset(kept);
    owner.reset();
    EXPECT_FALSE(IsOpenEvent(kept));
    // A file that could not be opened is an empty owner; one that was is closed by it.
    TempDir dir;
    EXPECT_FALSE(kvo::unique_hfile(::CreateFileA((dir / "missing\\x").c_str(), GENERIC_READ, 0, nullptr,
                                                 OPEN_EXISTING, 0, nullptr)));
    {
        kvo::unique_hfile file(::CreateFileA((dir / "x").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        EXPECT_TRUE(file);
    }
    EXPECT_FALSE(FileExists(dir / "x"));
}
