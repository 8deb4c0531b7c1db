#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>

#include "SkinTestSupport.h"
#include "skin/SkinHyperLink.h"

namespace {

constexpr int kWideControl = 200;
constexpr int kControlHeight = 20;
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr UINT_PTR kCounterId = 77;

/// A visible popup with one static child, and the label bound to the child.
struct LabelFixture : ::testing::Test {
    HWND parent = nullptr;
    HWND child = nullptr;
    CSkinHyperLink label;
    HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));

    void Make(DWORD staticStyle)
    {
        parent = ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 300, 80, nullptr, nullptr,
                                   nullptr, nullptr);
        ASSERT_NE(parent, nullptr);
        child = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | staticStyle, 10, 10, kWideControl,
                                  kControlHeight, parent, nullptr, nullptr, nullptr);
        ASSERT_NE(child, nullptr);
        ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ASSERT_TRUE(label.SubclassWindow(child));
    }
    /// Make, with the label kept at the control's full size whatever its text.
    void MakeFixed(DWORD staticStyle)
    {
        Make(staticStyle);
        label.m_bAutoSize = false;
        label.MoveWindow(10, 10, kWideControl, kControlHeight);
    }
    void TearDown() override
    {
        if (parent)
            ::DestroyWindow(parent);
    }

    SIZE Measure(const std::string& text) const
    {
        const HDC dc = ::GetDC(child);
        const HGDIOBJ old = ::SelectObject(dc, font);
        SIZE size{};
        ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        ::SelectObject(dc, old);
        ::ReleaseDC(child, dc);
        return size;
    }
    RECT PlaceInParent() const
    {
        RECT rect{};
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }
};

/// Columns of the first and last dark pixel in the captured client area (-1 when none).
std::pair<int, int> InkColumns(HWND hwnd)
{
    kvo::CImage shot;
    if (!skintest::CaptureClient(hwnd, shot))
        return {-1, -1};
    int first = -1;
    int last = -1;
    for (int x = 0; x < shot.GetWidth(); ++x)
        for (int y = 0; y < shot.GetHeight(); ++y)
            if (GetGValue(skintest::PixelAt(shot, x, y)) < 128) {
                if (first < 0)
                    first = x;
                last = x;
            }
    return {first, last};
}

LRESULT CALLBACK CountPaints(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR count)
{
    if (message == WM_PAINT)
        ++*reinterpret_cast<int*>(count);
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace

TEST_F(LabelFixture, SubclassingAsksForClicksAndTextResizesOnlyWithAutoSize)
{
    Make(SS_LEFT);
    EXPECT_TRUE(label.GetStyle() & SS_NOTIFY);
    const RECT empty = PlaceInParent();
    EXPECT_EQ(empty.right - empty.left, 0);  // an empty text: no width, one line high
    EXPECT_EQ(empty.bottom - empty.top, Measure("").cy);
    EXPECT_EQ(empty.left, 10);
    EXPECT_EQ(empty.top, 10);

    label.SetWindowText("12% 3/4 KVOLobby.exe");
    RECT rect = PlaceInParent();
    const SIZE text = Measure("12% 3/4 KVOLobby.exe");
    EXPECT_EQ(rect.right - rect.left, text.cx);
    EXPECT_EQ(rect.bottom - rect.top, text.cy);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(label.GetWindowText(), "12% 3/4 KVOLobby.exe");

    label.m_bAutoSize = false;
    label.MoveWindow(10, 10, kWideControl, kControlHeight);
    label.SetWindowText("x");
    rect = PlaceInParent();
    EXPECT_EQ(rect.right - rect.left, kWideControl);
    EXPECT_EQ(rect.bottom - rect.top, kControlHeight);
}

namespace {

struct AlignCase {
    DWORD style;
    const char* name;
};

class LabelAlignTest : public LabelFixture, public ::testing::WithParamInterface<AlignCase> {};

}  // namespace

TEST_P(LabelAlignTest, TextSitsWhereTheStyleSays)
{
    MakeFixed(GetParam().style);
    label.SetBackgroundColor(kWhite);
    label.SetWindowText("IIII");
    label.RedrawWindow(RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ERASENOW);
    const auto [first, last] = InkColumns(child);
    ASSERT_GE(first, 0) << "no text drawn";
    const int leftGap = first;
    const int rightGap = kWideControl - 1 - last;
    switch (GetParam().style) {
    case SS_RIGHT:
        EXPECT_LT(rightGap, 4);
        EXPECT_GT(leftGap, kWideControl / 2);
        break;
    case SS_CENTER:
        EXPECT_NEAR(leftGap, rightGap, 4);
        break;
    default:
        EXPECT_LT(leftGap, 4);
        EXPECT_GT(rightGap, kWideControl / 2);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Styles, LabelAlignTest,
                         ::testing::Values(AlignCase{SS_LEFT, "left"}, AlignCase{SS_CENTER, "centre"},
                                           AlignCase{SS_RIGHT, "right"}),
                         [](const ::testing::TestParamInfo<AlignCase>& info) { return info.param.name; });

TEST_F(LabelFixture, MouseEnteringAsksForTheLeaveOnlyOnce)
{
    MakeFixed(SS_LEFT);
    int paints = 0;
    ASSERT_TRUE(::SetWindowSubclass(child, CountPaints, kCounterId, reinterpret_cast<DWORD_PTR>(&paints)));

    for (int move = 0; move < 3; ++move)
        ::SendMessageA(child, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(label.m_bMouseOver);
    EXPECT_EQ(paints, 1);  // one request, one immediate repaint

    ::SendMessageA(child, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(label.m_bMouseOver);
    EXPECT_EQ(paints, 2);

    ::SendMessageA(child, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(label.m_bMouseOver);
    EXPECT_EQ(paints, 3);
    ::RemoveWindowSubclass(child, CountPaints, kCounterId);
}

TEST_F(LabelFixture, BackgroundColourIsPaintedAndNeedsNoWindow)
{
    MakeFixed(SS_LEFT);
    label.SetBackgroundColor(RGB(240, 240, 240));
    kvo::CImage shot;
    ASSERT_TRUE(skintest::CaptureClient(child, shot));
    EXPECT_EQ(skintest::PixelAt(shot, kWideControl / 2, kControlHeight / 2), RGB(240, 240, 240));

    CSkinHyperLink windowless;  // no window yet: stored for the first paint
    windowless.SetBackgroundColor(RGB(1, 2, 3));
    EXPECT_EQ(windowless.m_crBackground, RGB(1, 2, 3));
}
