// Pixel helpers for the skin tests: reading what GDI drew.
#pragma once
#include <windows.h>

#include "framework/Image.h"

namespace skintest {

/// The colour at (x, y) of a 24- or 32-bit image, top row 0 (alpha ignored).
COLORREF PixelAt(const kvo::CImage& image, int x, int y);
/// The alpha byte at (x, y) of a 32-bit image.
BYTE AlphaAt(const kvo::CImage& image, int x, int y);
/// Sets every pixel of a 32-bit image to `bgra` (blue in the low byte).
void Fill32(kvo::CImage& image, DWORD bgra);
/// A 32-bit copy of the window's client area as it is on screen now.
bool CaptureClient(HWND hwnd, kvo::CImage& into);

}  // namespace skintest
