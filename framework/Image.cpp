#include "framework/Image.h"

#include <gdiplus.h>

#include <cstring>
#include <memory>
#include <vector>

#include "framework/Sync.h"

namespace kvo {

namespace gp = Gdiplus::DllExports;

namespace {

constexpr WORD kBitmapInfoHeaderSize = sizeof(BITMAPINFOHEADER);
constexpr int kMaxPaletteEntries = 256;
constexpr int kBitsPerByte = 8;
constexpr int kDwordBits = 32;
constexpr int kDwordBytes = 4;
constexpr int kIndexedMaxBits = 8;
constexpr BYTE kOpaqueAlpha = 255;
// Channel positions in a GDI+ ARGB value.
constexpr int kRedShift = 16;
constexpr int kGreenShift = 8;
constexpr int kBlueShift = 0;

/// The live count and the GDI+ token change together: GDI+ stops with the last image.
struct GdiplusState {
    CCriticalSection cs;
    int liveImages = 0;
    ULONG_PTR token = 0;
};

GdiplusState& State()
{
    static GdiplusState state;
    return state;
}

/// Starts GDI+ for a decode unless it runs already.
bool EnsureGdiplus() noexcept
{
    GdiplusState& state = State();
    CSingleLock lock(state.cs);
    if (state.token)
        return true;
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread, codecs
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return false;
    state.token = token;
    return true;
}

struct GpImageDeleter {
    void operator()(Gdiplus::GpBitmap* bitmap) const noexcept { gp::GdipDisposeImage(bitmap); }
};
using GpBitmapPtr = std::unique_ptr<Gdiplus::GpBitmap, GpImageDeleter>;

struct GpGraphicsDeleter {
    void operator()(Gdiplus::GpGraphics* graphics) const noexcept { gp::GdipDeleteGraphics(graphics); }
};
using GpGraphicsPtr = std::unique_ptr<Gdiplus::GpGraphics, GpGraphicsDeleter>;

/// The header and colour table that CreateDIBSection reads.
struct DibInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colors[kMaxPaletteEntries];
};

int RowBytes(int width, int bitsPerPixel) noexcept
{
    return ((width * bitsPerPixel + kDwordBits - 1) / kDwordBits) * kDwordBytes;
}

}  // namespace

CImage::CImage() noexcept
{
    GdiplusState& state = State();
    CSingleLock lock(state.cs);
    ++state.liveImages;
}

CImage::~CImage()
{
    Destroy();
    GdiplusState& state = State();
    CSingleLock lock(state.cs);
    if (--state.liveImages == 0 && state.token) {
        Gdiplus::GdiplusShutdown(state.token);
        state.token = 0;
    }
}

int CImage::GetLiveImageCount() noexcept
{
    GdiplusState& state = State();
    CSingleLock lock(state.cs);
    return state.liveImages;
}

bool CImage::IsGdiplusRunning() noexcept
{
    GdiplusState& state = State();
    CSingleLock lock(state.cs);
    return state.token != 0;
}

bool CImage::Create(int width, int height, int bitsPerPixel, DWORD flags) noexcept
{
    Destroy();
    if (width <= 0 || height == 0 || bitsPerPixel <= 0)
        return false;
    const bool bottomUp = height > 0;
    const int rows = bottomUp ? height : -height;

    auto info = std::make_unique<DibInfo>();  // zeroed colour table
    info->header.biSize = kBitmapInfoHeaderSize;
    info->header.biWidth = width;
    info->header.biHeight = height;
    info->header.biPlanes = 1;
    info->header.biBitCount = static_cast<WORD>(bitsPerPixel);
    info->header.biCompression = BI_RGB;

    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.get()), DIB_RGB_COLORS, &bits,
                                        nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap)
            ::DeleteObject(bitmap);
        return false;
    }
    m_hBitmap.reset(bitmap);
    const int rowBytes = RowBytes(width, bitsPerPixel);
    m_pBits = bottomUp ? static_cast<BYTE*>(bits) + static_cast<std::ptrdiff_t>(rows - 1) * rowBytes : bits;
    m_nPitch = bottomUp ? -rowBytes : rowBytes;
    m_nWidth = width;
    m_nHeight = rows;
    m_nBPP = bitsPerPixel;
    m_bHasAlphaChannel = (flags & createAlphaChannel) != 0 && bitsPerPixel == kDwordBits;
    return true;
}

void CImage::Destroy() noexcept
{
    if (!m_hBitmap)
        return;
    if (m_hDC) {
        // Still lent out: the bitmap cannot be deleted while a context holds it.
        if (m_hOldBitmap)
            ::SelectObject(m_hDC.get(), m_hOldBitmap);
        m_hOldBitmap = nullptr;
        m_nDCRefCount = 0;
        m_hDC.reset();
    }
    m_pBits = nullptr;
    m_nPitch = m_nWidth = m_nHeight = m_nBPP = 0;
    m_nTransparentColor = kNoTransparentColor;
    m_bHasAlphaChannel = false;
    m_hBitmap.reset();
}

HDC CImage::GetDC() noexcept
{
    if (m_nDCRefCount == 0) {
        HDC dc = ::CreateCompatibleDC(nullptr);
        if (!dc)
            return nullptr;
        m_hDC.reset(dc);
        m_hOldBitmap = m_hBitmap ? ::SelectObject(dc, m_hBitmap.get()) : nullptr;
    }
    ++m_nDCRefCount;
    return m_hDC.get();
}

void CImage::ReleaseDC() noexcept
{
    if (m_nDCRefCount == 0 || --m_nDCRefCount > 0)
        return;
    if (m_hOldBitmap)
        ::SelectObject(m_hDC.get(), m_hOldBitmap);
    m_hOldBitmap = nullptr;
    m_hDC.reset();
}

LONG CImage::SetTransparentColor(LONG index) noexcept
{
    const LONG previous = m_nTransparentColor;
    m_nTransparentColor = index;
    return previous;
}

bool CImage::SetColorTable(UINT first, UINT count, const RGBQUAD* colors) noexcept
{
    if (IsNull() || m_nBPP > kIndexedMaxBits || !colors)
        return false;
    CImageDC dc(*this);
    return dc.dc() && ::SetDIBColorTable(dc.dc(), first, count, colors) == count;
}

bool CImage::Draw(HDC dest, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight) noexcept
{
    if (!dest)
        return false;
    CImageDC source(*this);
    if (!source.dc())
        return false;
    return DrawWith(dest, source.dc(), xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight);
}

bool CImage::DrawWith(HDC dest, HDC source, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                      int srcWidth, int srcHeight) noexcept
{
    if (m_nTransparentColor != kNoTransparentColor) {
        RGBQUAD entry{};
        ::GetDIBColorTable(source, static_cast<UINT>(m_nTransparentColor), 1, &entry);
        return ::TransparentBlt(dest, xDest, yDest, destWidth, destHeight, source, xSrc, ySrc, srcWidth, srcHeight,
                                RGB(entry.rgbRed, entry.rgbGreen, entry.rgbBlue)) != FALSE;
    }
    if (m_bHasAlphaChannel) {
        const BLENDFUNCTION blend{AC_SRC_OVER, 0, kOpaqueAlpha, AC_SRC_ALPHA};
        return ::AlphaBlend(dest, xDest, yDest, destWidth, destHeight, source, xSrc, ySrc, srcWidth, srcHeight,
                            blend) != FALSE;
    }
    return ::StretchBlt(dest, xDest, yDest, destWidth, destHeight, source, xSrc, ySrc, srcWidth, srcHeight,
                        SRCCOPY) != FALSE;
}

bool CImage::Load(IStream* stream) noexcept
{
    if (!stream || !EnsureGdiplus())
        return false;
    Destroy();
    if (DecodeWithGdiplus(stream))
        return true;
    Destroy();  // a half-made picture is no picture
    return false;
}

namespace {

/// The layout the DIB keeps: the decoded one where GDI can draw it, 32 bits otherwise.
struct DibLayout {
    int bitsPerPixel = kDwordBits;
    DWORD flags = 0;
    Gdiplus::PixelFormat format = PixelFormat32bppRGB;
};

DibLayout LayoutFor(Gdiplus::PixelFormat sourceFormat)
{
    DibLayout layout;
    if (sourceFormat & PixelFormatGDI) {
        layout.bitsPerPixel = static_cast<int>(Gdiplus::GetPixelFormatSize(sourceFormat));
        layout.format = sourceFormat;
    }
    if (sourceFormat & PixelFormatAlpha) {
        layout.bitsPerPixel = kDwordBits;
        layout.flags |= CImage::createAlphaChannel;
        layout.format = PixelFormat32bppARGB;
    }
    return layout;
}

/// The palette of an indexed `source` as the image's colour table.
bool CopyPalette(Gdiplus::GpBitmap* source, CImage& image)
{
    INT paletteSize = 0;
    if (gp::GdipGetImagePaletteSize(source, &paletteSize) != Gdiplus::Ok ||
        paletteSize < static_cast<INT>(sizeof(Gdiplus::ColorPalette)))
        return false;
    std::vector<BYTE> paletteBytes(static_cast<std::size_t>(paletteSize));
    auto* palette = reinterpret_cast<Gdiplus::ColorPalette*>(paletteBytes.data());
    if (gp::GdipGetImagePalette(source, palette, paletteSize) != Gdiplus::Ok)
        return false;
    const UINT maxEntries =
        (static_cast<UINT>(paletteSize) - offsetof(Gdiplus::ColorPalette, Entries)) / sizeof(Gdiplus::ARGB);
    if (palette->Count < 1 || palette->Count > kMaxPaletteEntries || palette->Count > maxEntries)
        return false;
    RGBQUAD table[kMaxPaletteEntries] = {};
    for (UINT i = 0; i < palette->Count; ++i) {
        const Gdiplus::ARGB argb = palette->Entries[i];
        table[i].rgbRed = static_cast<BYTE>(argb >> kRedShift);
        table[i].rgbGreen = static_cast<BYTE>(argb >> kGreenShift);
        table[i].rgbBlue = static_cast<BYTE>(argb >> kBlueShift);
    }
    return image.SetColorTable(0, palette->Count, table);
}

/// The pixels of `source`, already in the image's layout, row by row into its bits.
bool CopyPixels(Gdiplus::GpBitmap* source, Gdiplus::PixelFormat format, CImage& image)
{
    Gdiplus::GpRect whole(0, 0, image.GetWidth(), image.GetHeight());
    Gdiplus::BitmapData data{};
    if (gp::GdipBitmapLockBits(source, &whole, Gdiplus::ImageLockModeRead, format, &data) != Gdiplus::Ok)
        return false;
    const std::size_t rowBytes =
        (static_cast<std::size_t>(image.GetWidth()) * image.GetBPP() + kBitsPerByte - 1) / kBitsPerByte;
    const auto* from = static_cast<const BYTE*>(data.Scan0);
    auto* to = static_cast<BYTE*>(image.GetBits());
    for (int row = 0; row < image.GetHeight(); ++row) {
        std::memcpy(to, from, rowBytes);
        from += data.Stride;
        to += image.GetPitch();
    }
    gp::GdipBitmapUnlockBits(source, &data);
    return true;
}

/// `source` drawn into the image's bits, converted to the image's layout by GDI+.
bool DrawConverted(Gdiplus::GpBitmap* source, Gdiplus::PixelFormat format, CImage& image)
{
    Gdiplus::GpBitmap* rawWrapper = nullptr;
    gp::GdipCreateBitmapFromScan0(image.GetWidth(), image.GetHeight(), image.GetPitch(), format,
                                  static_cast<BYTE*>(image.GetBits()), &rawWrapper);
    GpBitmapPtr wrapper(rawWrapper);
    if (!wrapper)
        return false;
    Gdiplus::GpGraphics* rawGraphics = nullptr;
    gp::GdipGetImageGraphicsContext(wrapper.get(), &rawGraphics);
    GpGraphicsPtr graphics(rawGraphics);
    return graphics && gp::GdipDrawImageRectI(graphics.get(), source, 0, 0, image.GetWidth(), image.GetHeight()) ==
                           Gdiplus::Ok;
}

}  // namespace

bool CImage::DecodeWithGdiplus(IStream* stream) noexcept
{
    Gdiplus::GpBitmap* raw = nullptr;
    const Gdiplus::GpStatus created = gp::GdipCreateBitmapFromStream(stream, &raw);
    GpBitmapPtr source(raw);
    if (created != Gdiplus::Ok || !source)
        return false;

    Gdiplus::PixelFormat sourceFormat = 0;
    UINT width = 0;
    UINT height = 0;
    if (gp::GdipGetImagePixelFormat(source.get(), &sourceFormat) != Gdiplus::Ok ||
        gp::GdipGetImageWidth(source.get(), &width) != Gdiplus::Ok ||
        gp::GdipGetImageHeight(source.get(), &height) != Gdiplus::Ok)
        return false;
    const DibLayout layout = LayoutFor(sourceFormat);
    if (!Create(static_cast<int>(width), static_cast<int>(height), layout.bitsPerPixel, layout.flags))
        return false;
    if ((sourceFormat & PixelFormatIndexed) && !CopyPalette(source.get(), *this))
        return false;
    return layout.format == sourceFormat ? CopyPixels(source.get(), sourceFormat, *this)
                                         : DrawConverted(source.get(), layout.format, *this);
}

}  // namespace kvo
