#include <gtest/gtest.h>

#include <cstring>

#include "SkinTestSupport.h"
#include "framework/Image.h"
#include "resources/resource.h"
#include "skin/BitImage.h"
#include "skin/PngImageSB.h"

using kvo::CImage;
using skintest::FillPixels;
using skintest::PixelAt;
using skintest::Resources;

namespace {

constexpr int kSide = 4;
constexpr COLORREF kBackdrop = RGB(10, 20, 30);
constexpr DWORD kBackdropBgra = 0xFF0A141E;  // opaque RGB(10, 20, 30)
constexpr DWORD kBlueBgra = 0x000000FF;

/// A 32-bit target filled with the backdrop colour.
struct Target {
    CBitImage image;
    Target()
    {
        EXPECT_TRUE(image.Create(kSide, kSide, 32));
        FillPixels(image, kBackdropBgra);
    }
};

}  // namespace

TEST(Image, LiveCountFollowsEveryImageObject)
{
    const int before = CImage::GetLiveImageCount();
    {
        CImage plain;
        CBitImage buffer;
        CPngImageSB png;
        EXPECT_EQ(CImage::GetLiveImageCount(), before + 3);
    }
    EXPECT_EQ(CImage::GetLiveImageCount(), before);
}

TEST(Image, GdiplusRunsFromTheFirstDecodeToTheLastImage)
{
    ASSERT_EQ(CImage::GetLiveImageCount(), 0);
    {
        CBitImage buffer;  // creating and destroying plain images never starts it
        ASSERT_TRUE(buffer.Create(kSide, kSide, 32));
        buffer.Destroy();
        EXPECT_FALSE(CImage::IsGdiplusRunning());
    }
    EXPECT_FALSE(CImage::IsGdiplusRunning());
    {
        CBitImage other;
        {
            CPngImageSB png;
            ASSERT_TRUE(png.LoadPngResource(Resources(), IDR_PNG_SCALE));
            EXPECT_TRUE(CImage::IsGdiplusRunning());
        }
        EXPECT_TRUE(CImage::IsGdiplusRunning());  // another image still lives
    }
    EXPECT_FALSE(CImage::IsGdiplusRunning());
    {
        CPngImageSB again;  // the next decode starts it anew
        EXPECT_TRUE(again.LoadPngResource(Resources(), IDR_PNG_BACKGROUND));
        EXPECT_TRUE(CImage::IsGdiplusRunning());
    }
    EXPECT_FALSE(CImage::IsGdiplusRunning());
}

TEST(Image, CreateMakesABottomUpSectionAndDestroyEmptiesIt)
{
    CImage image;
    EXPECT_TRUE(image.IsNull());
    image.Destroy();  // nothing to do on an empty image
    EXPECT_TRUE(image.IsNull());

    ASSERT_TRUE(image.Create(3, 2, 24));
    EXPECT_EQ(image.GetPitch(), -12);  // rows padded to four bytes, bottom row first in memory
    EXPECT_FALSE(image.HasAlphaChannel());

    image.Destroy();
    EXPECT_TRUE(image.IsNull());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetBits(), nullptr);
    EXPECT_EQ(image.GetTransparentColor(), CImage::kNoTransparentColor);

    EXPECT_FALSE(image.Create(0, 5, 32));
    EXPECT_TRUE(image.IsNull());
    EXPECT_TRUE(image.Create(2, 2, 24, CImage::createAlphaChannel));
    EXPECT_FALSE(image.HasAlphaChannel());  // the flag needs 32 bits
}

TEST(Image, NestedGetDcSharesOneContextAndTheLastReleaseFreesTheBitmap)
{
    CImage image;
    ASSERT_TRUE(image.Create(kSide, kSide, 32));
    const HDC first = image.GetDC();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(image.GetDC(), first);
    image.ReleaseDC();
    EXPECT_EQ(::GetCurrentObject(first, OBJ_BITMAP), image.GetHBitmap());  // still lent out
    image.ReleaseDC();
    image.ReleaseDC();  // an unmatched release is harmless

    // A bitmap can be selected in one context only: this works only if the image gave it back.
    const HDC other = ::CreateCompatibleDC(nullptr);
    const HGDIOBJ previous = ::SelectObject(other, image.GetHBitmap());
    EXPECT_NE(previous, nullptr);
    ::SelectObject(other, previous);
    ::DeleteDC(other);

    CImage empty;
    EXPECT_NE(empty.GetDC(), nullptr);  // a context, with no picture in it
    empty.ReleaseDC();
}

TEST(Image, DrawPicksTheBlitByItsFormat)
{
    const struct {
        const char* name;
        int bitsPerPixel;
        DWORD flags;
        DWORD sourceBgra;   // every source pixel
        COLORREF expected;  // at the destination afterwards
    } cases[] = {
        {"24-bit copies", 24, 0, 0x00C86432, RGB(200, 100, 50)},
        {"32-bit without the flag copies and ignores alpha", 32, 0, 0x00000000, RGB(0, 0, 0)},
        {"32-bit with alpha: clear pixel keeps what lies below", 32, CImage::createAlphaChannel, 0x00000000,
         kBackdrop},
        {"32-bit with alpha: opaque pixel covers", 32, CImage::createAlphaChannel, 0xFFC86432, RGB(200, 100, 50)},
        {"32-bit with alpha: colour is added where alpha is 0", 32, CImage::createAlphaChannel, 0x00010203,
         RGB(11, 22, 33)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CImage source;
        ASSERT_TRUE(source.Create(kSide, kSide, c.bitsPerPixel, c.flags));
        FillPixels(source, c.sourceBgra);
        Target target;
        {
            kvo::CImageDC dest(target.image);
            EXPECT_TRUE(source.Draw(dest.dc(), 0, 0, kSide, kSide, 0, 0, kSide, kSide));
        }
        const COLORREF got = PixelAt(target.image, 1, 1);
        EXPECT_NEAR(GetRValue(got), GetRValue(c.expected), 1);
        EXPECT_NEAR(GetGValue(got), GetGValue(c.expected), 1);
        EXPECT_NEAR(GetBValue(got), GetBValue(c.expected), 1);
    }
}

TEST(Image, TransparentColourIsLeftOut)
{
    CImage source;
    ASSERT_TRUE(source.Create(2, 1, 8));
    const RGBQUAD palette[2] = {{0, 0, 255, 0}, {0, 255, 0, 0}};  // red, green
    ASSERT_TRUE(source.SetColorTable(0, 2, palette));
    ::GdiFlush();
    static_cast<BYTE*>(source.GetBits())[0] = 0;
    static_cast<BYTE*>(source.GetBits())[1] = 1;
    source.SetTransparentColor(0);

    Target target;
    {
        kvo::CImageDC dest(target.image);
        EXPECT_TRUE(source.Draw(dest.dc(), 0, 0, 2, 1, 0, 0, 2, 1));
    }
    EXPECT_EQ(PixelAt(target.image, 0, 0), kBackdrop);
    EXPECT_EQ(PixelAt(target.image, 1, 0), RGB(0, 255, 0));
}

TEST(Image, DrawScalesTheSourceAndRefusesANullContext)
{
    CImage source;
    ASSERT_TRUE(source.Create(1, 1, 24));
    FillPixels(source, kBlueBgra);
    EXPECT_FALSE(source.Draw(nullptr, 0, 0, 1, 1, 0, 0, 1, 1));

    Target target;
    {
        kvo::CImageDC dest(target.image);
        EXPECT_TRUE(source.Draw(dest.dc(), 0, 0, kSide, kSide, 0, 0, 1, 1));
    }
    EXPECT_EQ(PixelAt(target.image, 0, 0), RGB(0, 0, 255));
    EXPECT_EQ(PixelAt(target.image, kSide - 1, kSide - 1), RGB(0, 0, 255));
}

TEST(Image, LoadOfAStreamThatIsNoPictureLeavesTheImageEmpty)
{
    const char garbage[] = "this is not a picture";
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, sizeof garbage);
    ASSERT_NE(block, nullptr);
    std::memcpy(::GlobalLock(block), garbage, sizeof garbage);
    ::GlobalUnlock(block);
    IStream* stream = nullptr;
    ASSERT_EQ(::CreateStreamOnHGlobal(block, TRUE, &stream), S_OK);
    CImage image;
    ASSERT_TRUE(image.Create(kSide, kSide, 32));
    EXPECT_FALSE(image.Load(stream));
    EXPECT_TRUE(image.IsNull());
    EXPECT_FALSE(image.Load(nullptr));
    stream->Release();
}
