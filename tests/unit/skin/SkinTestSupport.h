// Helpers for the skin tests: the resources, and reading what GDI drew.
#pragma once
#include <windows.h>

#include "framework/Image.h"

namespace skintest {

/// The module that holds the skin resources: the test program itself.
inline HMODULE Resources() { return ::GetModuleHandleA(nullptr); }

/// The colour at (x, y) of a 24- or 32-bit image, top row 0 (alpha ignored).
COLORREF PixelAt(const kvo::CImage& image, int x, int y);
/// The alpha byte at (x, y) of a 32-bit image.
BYTE AlphaAt(const kvo::CImage& image, int x, int y);
/// Sets every pixel of a 24- or 32-bit image to `bgra` (blue in the low byte; a 24-bit image
/// takes the colour bytes only).
void FillPixels(kvo::CImage& image, DWORD bgra);
/// A 32-bit copy of the window's client area as it is on screen now.
bool CaptureClient(HWND hwnd, kvo::CImage& into);

}  // namespace skintest
