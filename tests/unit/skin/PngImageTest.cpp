#include <gtest/gtest.h>

#include "SkinTestSupport.h"
#include "resources/resource.h"
#include "skin/DrawEngine.h"
#include "skin/PngImageSB.h"

using skintest::AlphaAt;
using skintest::PixelAt;
using skintest::Resources;

namespace {

constexpr COLORREF kTitle = RGB(69, 156, 209);
constexpr COLORREF kBody = RGB(187, 224, 246);
constexpr COLORREF kFrameDark = RGB(167, 166, 166);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kEmptyFill = RGB(222, 221, 221);
constexpr COLORREF kFullFill = RGB(100, 184, 235);

}  // namespace

TEST(PngImage, SkinResourcesDecodeToTheirSizeAndDepth)
{
    const struct {
        const char* name;
        int width;
        int height;
        int bitsPerPixel;
        bool alpha;
    } cases[] = {
        {IDR_PNG_BACKGROUND, 380, 100, 24, false},
        {IDR_PNG_SCALE, 355, 28, 32, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CPngImageSB png;
        ASSERT_TRUE(png.LoadPngResource(Resources(), c.name));
        EXPECT_EQ(png.GetWidth(), c.width);
        EXPECT_EQ(png.GetHeight(), c.height);
        EXPECT_EQ(png.GetImage().GetBPP(), c.bitsPerPixel);
        EXPECT_EQ(png.GetImage().HasAlphaChannel(), c.alpha);
    }
}

TEST(PngImage, BackgroundHasTheTitleStripAndThePlainArea)
{
    CPngImageSB png;
    ASSERT_TRUE(png.LoadPngResource(Resources(), IDR_PNG_BACKGROUND));
    const kvo::CImage& image = png.GetImage();
    EXPECT_EQ(PixelAt(image, 300, 0), kTitle);
    EXPECT_EQ(PixelAt(image, 379, 34), kTitle);
    EXPECT_EQ(PixelAt(image, 0, 35), kBody);
    EXPECT_EQ(PixelAt(image, 200, 60), kBody);
    EXPECT_EQ(PixelAt(image, 379, 99), kBody);
    int whiteInTitle = 0;  // the logo and the name
    for (int x = 0; x < 200; ++x)
        whiteInTitle += PixelAt(image, x, 17) == kWhite;
    EXPECT_GT(whiteInTitle, 20);
}

TEST(PngImage, StripHasTwoFramedBarsWithClearCorners)
{
    CPngImageSB png;
    ASSERT_TRUE(png.LoadPngResource(Resources(), IDR_PNG_SCALE));
    const kvo::CImage& image = png.GetImage();
    for (int top : {0, 14}) {
        SCOPED_TRACE(top);
        EXPECT_EQ(PixelAt(image, 100, top), kFrameDark);
        EXPECT_EQ(PixelAt(image, 0, top + 7), kFrameDark);
        EXPECT_EQ(PixelAt(image, 100, top + 13), kWhite);
        EXPECT_EQ(PixelAt(image, 354, top + 7), kWhite);
        EXPECT_EQ(AlphaAt(image, 354, top), 0);
        EXPECT_EQ(AlphaAt(image, 0, top + 13), 0);
        EXPECT_EQ(AlphaAt(image, 0, top), 255);
        EXPECT_EQ(AlphaAt(image, 200, top + 7), 255);
    }
    EXPECT_EQ(PixelAt(image, 200, 7), kEmptyFill);
    EXPECT_EQ(PixelAt(image, 200, 21), kFullFill);
}

TEST(PngImage, NamesThatAreNoPngResourceLoadNothing)
{
    for (const char* name : {"NO_SUCH_IMAGE", "DOWN_LOAD", "NOT_A_PNG"}) {
        SCOPED_TRACE(name);
        CPngImageSB png;
        EXPECT_FALSE(png.LoadPngResource(Resources(), name));
        EXPECT_TRUE(png.IsNull());
        EXPECT_EQ(png.GetWidth(), 0);
        EXPECT_EQ(png.GetHeight(), 0);
    }
    CPngImageSB icon;  // the icon exists, but not as a "PNG"
    EXPECT_FALSE(icon.LoadPngResource(Resources(), MAKEINTRESOURCEA(IDR_MAINFRAME)));
}

TEST(PngImage, SecondLoadIsRefusedAndKeepsTheFirstPicture)
{
    CPngImageSB png;
    ASSERT_TRUE(png.LoadPngResource(Resources(), IDR_PNG_BACKGROUND));
    EXPECT_FALSE(png.LoadPngResource(Resources(), IDR_PNG_SCALE));
    EXPECT_EQ(png.GetWidth(), 380);
    EXPECT_EQ(png.GetHeight(), 100);
}

TEST(PngImage, WithoutTheEngineImagesLoadDrawAndRelease)
{
    EXPECT_EQ(GetDrawEngine(), nullptr);
    EXPECT_EQ(LoadDrawEngine("NoSuchEngine.dll"), nullptr);
    EXPECT_EQ(LoadDrawEngine("kernel32.dll"), nullptr);  // a library without the factory
    kvo::CImage target;
    ASSERT_TRUE(target.Create(380, 100, 32));
    {
        CPngImageSB png;
        ASSERT_TRUE(png.LoadPngResource(Resources(), IDR_PNG_BACKGROUND));
        kvo::CImageDC dc(target);
        EXPECT_TRUE(png.Draw(dc.dc(), 0, 0, 380, 100, 0, 0, 380, 100));
    }
    EXPECT_EQ(PixelAt(target, 200, 60), kBody);
}
