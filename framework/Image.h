// An in-memory picture over a DIB section: lends out a memory device context, draws itself onto
// another context, and decodes streams (PNG and whatever else GDI+ reads).
#pragma once
#include <windows.h>
#include <objidl.h>

#include "framework/Handles.h"

namespace kvo {

class CImage {
public:
    /// Flags of Create.
    enum CreateFlags : DWORD { createAlphaChannel = 0x01 };
    /// No transparent colour (an index into the DIB colour table otherwise).
    static constexpr LONG kNoTransparentColor = -1;

    CImage() noexcept;
    virtual ~CImage();
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    /// Makes a DIB section for the screen; a positive height gives bottom-up rows. The alpha flag is
    /// honoured only at 32 bits. False (and the image stays empty) when it cannot be made.
    bool Create(int width, int height, int bitsPerPixel, DWORD flags = 0) noexcept;
    /// Decodes `stream` through GDI+ into a new DIB section; false when it cannot.
    bool Load(IStream* stream) noexcept;
    /// Deletes the bitmap; nothing happens on an empty image.
    void Destroy() noexcept;

    /// A memory device context with the bitmap selected; nested calls share it. Null only when no
    /// memory context can be had.
    HDC GetDC() noexcept;
    /// The matching release; the last one selects the old bitmap back and deletes the context.
    void ReleaseDC() noexcept;

    /// Draws the source rectangle scaled into the destination rectangle, through TransparentBlt when a
    /// transparent colour is set, AlphaBlend when the image has an alpha channel, StretchBlt otherwise.
    bool Draw(HDC dest, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
              int srcHeight) noexcept;

    /// Sets the colour-table index drawn as transparent (kNoTransparentColor for none); returns the old one.
    LONG SetTransparentColor(LONG index) noexcept;
    /// Fills the DIB colour table of an indexed image from `count` entries.
    bool SetColorTable(UINT first, UINT count, const RGBQUAD* colors) noexcept;

    bool IsNull() const noexcept { return !m_hBitmap; }
    HBITMAP GetHBitmap() const noexcept { return static_cast<HBITMAP>(m_hBitmap.get()); }
    int GetWidth() const noexcept { return m_nWidth; }
    int GetHeight() const noexcept { return m_nHeight; }
    int GetBPP() const noexcept { return m_nBPP; }
    int GetPitch() const noexcept { return m_nPitch; }
    bool HasAlphaChannel() const noexcept { return m_bHasAlphaChannel; }
    LONG GetTransparentColor() const noexcept { return m_nTransparentColor; }
    /// The top row's pixels; later rows are GetPitch() bytes apart (negative for bottom-up rows).
    void* GetBits() const noexcept { return m_pBits; }

    /// Image objects alive in the process (every CImage and everything built on one).
    static int GetLiveImageCount() noexcept;
    /// True while GDI+ has been started for decoding and not shut down yet.
    static bool IsGdiplusRunning() noexcept;

private:
    /// The decoding part of Load, with GDI+ running; fills this (empty) image.
    bool DecodeWithGdiplus(IStream* stream) noexcept;
    bool DrawWith(HDC dest, HDC source, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight) noexcept;

    unique_hgdiobj m_hBitmap;
    void* m_pBits = nullptr;
    int m_nPitch = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nBPP = 0;
    bool m_bHasAlphaChannel = false;
    LONG m_nTransparentColor = kNoTransparentColor;

    unique_hdc m_hDC;               // present while lent out
    int m_nDCRefCount = 0;
    HGDIOBJ m_hOldBitmap = nullptr;
};

/// GetDC/ReleaseDC of an image for one scope.
class CImageDC {
public:
    explicit CImageDC(CImage& image) noexcept : m_image(image), m_dc(image.GetDC()) {}
    ~CImageDC() { m_image.ReleaseDC(); }
    CImageDC(const CImageDC&) = delete;
    CImageDC& operator=(const CImageDC&) = delete;
    HDC dc() const noexcept { return m_dc; }

private:
    CImage& m_image;
    HDC m_dc;
};

}  // namespace kvo
