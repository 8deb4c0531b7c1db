// The image layer and the skin's pictures: GDI+ lifetime and the PNG resources that are none.
// How the pictures decode and blend on screen is checked on the real window.
#include <gtest/gtest.h>

#include "framework/Image.h"
#include "resources/resource.h"
#include "skin/BitImage.h"
#include "skin/PngImageSB.h"

using kvo::CImage;

namespace {

constexpr int kSide = 4;

/// The module that holds the skin resources: the test program itself.
HMODULE Resources() { return ::GetModuleHandleA(nullptr); }

}  // namespace

TEST(Image, GdiplusRunsFromTheFirstDecodeToTheLastImage)
{
    ASSERT_EQ(CImage::GetLiveImageCount(), 0);
    {
        CBitImage buffer;  // creating and destroying plain images never starts it
        ASSERT_TRUE(buffer.Create(kSide, kSide, 32));
        buffer.Destroy();
        EXPECT_FALSE(CImage::IsGdiplusRunning());
        {
            CPngImageSB png;
            ASSERT_TRUE(png.LoadPngResource(Resources(), IDR_PNG_SCALE));
            EXPECT_EQ(CImage::GetLiveImageCount(), 2);
        }
        EXPECT_TRUE(CImage::IsGdiplusRunning()) << "another image still lives";
    }
    EXPECT_FALSE(CImage::IsGdiplusRunning());
    CPngImageSB again;  // the next decode starts it anew
    EXPECT_TRUE(again.LoadPngResource(Resources(), IDR_PNG_BACKGROUND));
    EXPECT_TRUE(CImage::IsGdiplusRunning());
}

TEST(PngImage, NamesThatAreNoPngResourceLoadNothing)
{
    // Missing, another type's name, bytes that are no picture, the icon asked for as a "PNG".
    const char* const names[] = {"NO_SUCH_IMAGE", "DOWN_LOAD", "NOT_A_PNG", MAKEINTRESOURCEA(IDR_MAINFRAME)};
    for (const char* name : names) {
        CPngImageSB png;
        EXPECT_FALSE(png.LoadPngResource(Resources(), name));
        EXPECT_TRUE(png.IsNull());
    }
}
