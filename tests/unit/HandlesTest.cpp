#include <gtest/gtest.h>

#include "TempDir.h"
#include "framework/Handles.h"

namespace {

// Makes one live handle of each kind, and tells whether a raw handle is still open.
template <typename Owner>
struct HandleKind;

template <>
struct HandleKind<kvo::unique_handle> {
    static HANDLE Make() { return ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    static bool IsOpen(HANDLE h) { return ::SetEvent(h) != FALSE; }
};

template <>
struct HandleKind<kvo::unique_hfile> {
    static HANDLE Make()
    {
        static TempDir dir;
        return ::CreateFileA((dir / "handle.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                             FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    }
    static bool IsOpen(HANDLE h)
    {
        BY_HANDLE_FILE_INFORMATION info;
        return ::GetFileInformationByHandle(h, &info) != FALSE;
    }
};

template <>
struct HandleKind<kvo::unique_hgdiobj> {
    static HGDIOBJ Make() { return ::CreateSolidBrush(RGB(1, 2, 3)); }
    static bool IsOpen(HGDIOBJ h) { return ::GetObjectType(h) != 0; }
};

template <typename Owner>
class HandleOwnerTest : public ::testing::Test {};

using Owners = ::testing::Types<kvo::unique_handle, kvo::unique_hfile, kvo::unique_hgdiobj>;
TYPED_TEST_SUITE(HandleOwnerTest, Owners);

}  // namespace

TYPED_TEST(HandleOwnerTest, EmptyByDefaultAndClosesWhatItOwns)
{
    using Kind = HandleKind<TypeParam>;
    TypeParam empty;
    EXPECT_FALSE(empty);

    auto raw = Kind::Make();
    {
        TypeParam owner(raw);
        ASSERT_TRUE(owner);
        EXPECT_TRUE(Kind::IsOpen(raw));
    }
    EXPECT_FALSE(Kind::IsOpen(raw));
}

TYPED_TEST(HandleOwnerTest, MoveTransfersOwnershipAndResetCloses)
{
    using Kind = HandleKind<TypeParam>;
    auto raw = Kind::Make();
    TypeParam first(raw);
    TypeParam second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), raw);

    TypeParam third;
    third = std::move(second);
    EXPECT_TRUE(Kind::IsOpen(raw));
    third.reset();
    EXPECT_FALSE(third);
    EXPECT_FALSE(Kind::IsOpen(raw));
}

TYPED_TEST(HandleOwnerTest, ReleaseGivesUpWithoutClosing)
{
    using Kind = HandleKind<TypeParam>;
    auto raw = Kind::Make();
    TypeParam owner(raw);
    EXPECT_EQ(owner.release(), raw);
    EXPECT_FALSE(owner);
    EXPECT_TRUE(Kind::IsOpen(raw));
    TypeParam again(raw);  // closes it at the end of the test
}
