// The failure of a COM call: its status code and, when the object gave one, its error description.
#pragma once
#include <windows.h>

#include <string>

#include "framework/Exceptions.h"

/// Raised by the XML wrapper for a failing HRESULT; thrown by value, caught by reference.
class CComError : public kvo::CException {
public:
    explicit CComError(HRESULT hr, std::string description = std::string());

    HRESULT Error() const noexcept { return m_hr; }
    /// The object's own error text, empty when it supplied none.
    const std::string& Description() const noexcept { return m_strDescription; }

private:
    HRESULT m_hr;
    std::string m_strDescription;
};

/// Raises CComError for `hr`. When `object` supports error information for `iid`, the thread's
/// current error object supplies the description.
[[noreturn]] void ThrowComError(HRESULT hr, IUnknown* object = nullptr, REFIID iid = IID_NULL);

/// `text` in the calling thread's ANSI code page; empty when it cannot be converted. Never raises.
std::string NarrowText(const wchar_t* text, std::size_t length);
/// A BSTR narrowed as above; a null BSTR gives the empty text.
std::string NarrowBstr(BSTR text);
