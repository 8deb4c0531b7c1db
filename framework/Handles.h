// One move-only owner per kind of system handle, all in one place.
#pragma once
#ifdef _WIN32
#include <windows.h>
#include <oleauto.h>
#include <wininet.h>
#include <bcrypt.h>
#endif
#include <utility>

namespace kvo {

/// Owns a handle of type T that is released by Close and is "empty" when equal to Invalid.
template <typename T, typename Traits>
class unique_any {
public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : m_value(value) {}
    ~unique_any() { reset(); }

    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::invalid(); }

    /// Releases the held handle and takes `value` instead.
    void reset(T value = Traits::invalid()) noexcept
    {
        if (m_value != Traits::invalid())
            Traits::close(m_value);
        m_value = value;
    }
    /// Gives up ownership without closing.
    T release() noexcept { return std::exchange(m_value, Traits::invalid()); }

private:
    T m_value = Traits::invalid();
};

#ifdef _WIN32
/// CNG's algorithm providers close with a flags argument.
inline void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider) noexcept { ::BCryptCloseAlgorithmProvider(provider, 0); }

#define KVO_HANDLE_TRAITS(Name, Type, CloseFn, InvalidValue)                  \
    struct Name {                                                              \
        static Type invalid() noexcept { return InvalidValue; }                \
        static void close(Type h) noexcept { CloseFn(h); }                     \
    }

KVO_HANDLE_TRAITS(FileHandleTraits, HANDLE, ::CloseHandle, INVALID_HANDLE_VALUE);  // CreateFile fails with -1
KVO_HANDLE_TRAITS(KernelHandleTraits, HANDLE, ::CloseHandle, nullptr);             // CreateMutex etc. fail with NULL
KVO_HANDLE_TRAITS(InternetHandleTraits, HINTERNET, ::InternetCloseHandle, nullptr);
KVO_HANDLE_TRAITS(ModuleHandleTraits, HMODULE, ::FreeLibrary, nullptr);
KVO_HANDLE_TRAITS(GdiObjectTraits, HGDIOBJ, ::DeleteObject, nullptr);
KVO_HANDLE_TRAITS(MemoryDcTraits, HDC, ::DeleteDC, nullptr);
KVO_HANDLE_TRAITS(GlobalMemoryTraits, HGLOBAL, ::GlobalFree, nullptr);
KVO_HANDLE_TRAITS(IconTraits, HICON, ::DestroyIcon, nullptr);
KVO_HANDLE_TRAITS(BstrTraits, BSTR, ::SysFreeString, nullptr);
KVO_HANDLE_TRAITS(FindHandleTraits, HANDLE, ::FindClose, INVALID_HANDLE_VALUE);     // FindFirstFile fails with -1
KVO_HANDLE_TRAITS(CngAlgorithmTraits, BCRYPT_ALG_HANDLE, CloseAlgorithmProvider, nullptr);
KVO_HANDLE_TRAITS(CngKeyTraits, BCRYPT_KEY_HANDLE, ::BCryptDestroyKey, nullptr);
KVO_HANDLE_TRAITS(CngHashTraits, BCRYPT_HASH_HANDLE, ::BCryptDestroyHash, nullptr);
#undef KVO_HANDLE_TRAITS

using unique_hfile = unique_any<HANDLE, FileHandleTraits>;
using unique_handle = unique_any<HANDLE, KernelHandleTraits>;
using unique_hinternet = unique_any<HINTERNET, InternetHandleTraits>;
using unique_hmodule = unique_any<HMODULE, ModuleHandleTraits>;
using unique_hgdiobj = unique_any<HGDIOBJ, GdiObjectTraits>;
using unique_hdc = unique_any<HDC, MemoryDcTraits>;
using unique_hglobal = unique_any<HGLOBAL, GlobalMemoryTraits>;
using unique_hicon = unique_any<HICON, IconTraits>;
using unique_bstr = unique_any<BSTR, BstrTraits>;
using unique_hfind = unique_any<HANDLE, FindHandleTraits>;
using unique_cng_algorithm = unique_any<BCRYPT_ALG_HANDLE, CngAlgorithmTraits>;
using unique_cng_key = unique_any<BCRYPT_KEY_HANDLE, CngKeyTraits>;
using unique_cng_hash = unique_any<BCRYPT_HASH_HANDLE, CngHashTraits>;

/// Puts the previously selected GDI object back into a device context.
class SelectObjectGuard {
public:
    SelectObjectGuard(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
    ~SelectObjectGuard()
    {
        if (m_previous && m_previous != HGDI_ERROR)
            ::SelectObject(m_dc, m_previous);
    }
    SelectObjectGuard(const SelectObjectGuard&) = delete;
    SelectObjectGuard& operator=(const SelectObjectGuard&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

/// BeginPaint/EndPaint for one WM_PAINT.
class PaintGuard {
public:
    explicit PaintGuard(HWND hwnd) noexcept : m_hwnd(hwnd) { m_dc = ::BeginPaint(hwnd, &m_ps); }
    ~PaintGuard() { ::EndPaint(m_hwnd, &m_ps); }
    PaintGuard(const PaintGuard&) = delete;
    PaintGuard& operator=(const PaintGuard&) = delete;
    HDC dc() const noexcept { return m_dc; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_ps{};
    HDC m_dc = nullptr;
};

/// GetDC/ReleaseDC of a window.
class WindowDcGuard {
public:
    explicit WindowDcGuard(HWND hwnd) noexcept : m_hwnd(hwnd), m_dc(::GetDC(hwnd)) {}
    ~WindowDcGuard()
    {
        if (m_dc)
            ::ReleaseDC(m_hwnd, m_dc);
    }
    WindowDcGuard(const WindowDcGuard&) = delete;
    WindowDcGuard& operator=(const WindowDcGuard&) = delete;
    HDC dc() const noexcept { return m_dc; }

private:
    HWND m_hwnd;
    HDC m_dc;
};
#endif  // _WIN32

}  // namespace kvo
