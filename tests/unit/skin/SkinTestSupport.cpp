#include "SkinTestSupport.h"

namespace skintest {

namespace {

constexpr int kBitsPerByte = 8;
constexpr int kAlphaByte = 3;

const BYTE* PixelPointer(const kvo::CImage& image, int x, int y)
{
    ::GdiFlush();  // GDI may still hold drawing for the DIB
    const BYTE* row = static_cast<const BYTE*>(image.GetBits()) + static_cast<std::ptrdiff_t>(y) * image.GetPitch();
    return row + x * (image.GetBPP() / kBitsPerByte);
}

}  // namespace

COLORREF PixelAt(const kvo::CImage& image, int x, int y)
{
    const BYTE* pixel = PixelPointer(image, x, y);
    return RGB(pixel[2], pixel[1], pixel[0]);
}

BYTE AlphaAt(const kvo::CImage& image, int x, int y)
{
    return PixelPointer(image, x, y)[kAlphaByte];
}

void FillPixels(kvo::CImage& image, DWORD bgra)
{
    const int bytesPerPixel = image.GetBPP() / kBitsPerByte;
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            auto* pixel = const_cast<BYTE*>(PixelPointer(image, x, y));
            for (int b = 0; b < bytesPerPixel; ++b)
                pixel[b] = static_cast<BYTE>(bgra >> (kBitsPerByte * b));
        }
    }
}

bool CaptureClient(HWND hwnd, kvo::CImage& into)
{
    RECT client{};
    ::GetClientRect(hwnd, &client);
    if (!into.Create(client.right, client.bottom, 32))
        return false;
    const HDC window = ::GetDC(hwnd);
    kvo::CImageDC target(into);
    const bool copied = ::BitBlt(target.dc(), 0, 0, client.right, client.bottom, window, 0, 0, SRCCOPY) != FALSE;
    ::ReleaseDC(hwnd, window);
    return copied;
}

}  // namespace skintest
