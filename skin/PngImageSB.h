// A PNG resource of the program decoded into a drawable image.
#pragma once
#include <windows.h>

#include "framework/Image.h"

class CPngImageSB {
public:
    /// Size of the name under which the drawing engine may know the image.
    static constexpr int kNameSize = 260;

    CPngImageSB() noexcept = default;
    /// Tells the drawing engine (when there is one), then releases the picture.
    virtual ~CPngImageSB();
    CPngImageSB(const CPngImageSB&) = delete;
    CPngImageSB& operator=(const CPngImageSB&) = delete;

    /// Decodes the resource `name` of type "PNG" in `module`. False when the image holds a picture
    /// already (it is kept), or the resource is missing or cannot be decoded.
    bool LoadPngResource(HMODULE module, const char* name) noexcept;

    int GetWidth() const noexcept { return m_image.GetWidth(); }
    int GetHeight() const noexcept { return m_image.GetHeight(); }
    bool IsNull() const noexcept { return m_image.IsNull(); }
    /// Draws the source rectangle into the destination rectangle (blended when the PNG has alpha).
    bool Draw(HDC dest, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
              int srcHeight) noexcept
    {
        return m_image.Draw(dest, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight);
    }
    const kvo::CImage& GetImage() const noexcept { return m_image; }

private:
    char m_szName[kNameSize] = {};
    kvo::CImage m_image;
};
