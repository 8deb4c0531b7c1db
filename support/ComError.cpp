#include "support/ComError.h"

#include <cstdio>

#include "framework/ComPtr.h"
#include "framework/Handles.h"

namespace {

/// Longest text the narrowing accepts, terminator included (the limit of a BSTR's length field).
constexpr std::size_t kMaxNarrowLength = 0x3FFFFFFF;
constexpr std::size_t kStatusTextSize = 64;

std::string StatusText(HRESULT hr, const std::string& description)
{
    char text[kStatusTextSize];
    std::snprintf(text, sizeof text, "COM error 0x%08lX", static_cast<unsigned long>(hr));
    return description.empty() ? std::string(text) : std::string(text) + ": " + description;
}

/// The description of the thread's error object, when `object` says it set one for `iid`.
std::string ErrorInfoDescription(IUnknown* object, REFIID iid)
{
    if (!object)
        return std::string();
    kvo::CComPtr<ISupportErrorInfo> support;
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.PutVoid())) || !support)
        return std::string();
    if (support->InterfaceSupportsErrorInfo(iid) != S_OK)
        return std::string();
    kvo::CComPtr<IErrorInfo> info;
    if (::GetErrorInfo(0, info.Put()) != S_OK || !info)
        return std::string();
    BSTR raw = nullptr;
    if (FAILED(info->GetDescription(&raw)))
        return std::string();
    kvo::unique_bstr description(raw);
    return NarrowBstr(description.get());
}

}  // namespace

CComError::CComError(HRESULT hr, std::string description)
    : kvo::CException(StatusText(hr, description)), m_hr(hr), m_strDescription(std::move(description))
{
}

void ThrowComError(HRESULT hr, IUnknown* object, REFIID iid)
{
    throw CComError(hr, ErrorInfoDescription(object, iid));
}

std::string NarrowText(const wchar_t* text, std::size_t length)
{
    if (!text || length + 1 > kMaxNarrowLength)
        return std::string();
    if (length == 0)
        return std::string();
    const int wideLength = static_cast<int>(length);
    // Ask for the size first: a code page may need more than two bytes per character.
    const int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string narrow(static_cast<std::size_t>(size), '\0');
    if (::WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideLength, &narrow[0], size, nullptr, nullptr) != size)
        return std::string();
    return narrow;
}

std::string NarrowBstr(BSTR text)
{
    return text ? NarrowText(text, ::SysStringLen(text)) : std::string();
}
