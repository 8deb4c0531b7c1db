// An owning reference to a COM interface: one AddRef held, released when replaced or destroyed.
#pragma once
#include <unknwn.h>

#include <utility>

namespace kvo {

/// Holds at most one reference on a T (an IUnknown-derived interface).
template <typename T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    /// Takes a new reference on `p` (null allowed).
    explicit CComPtr(T* p) noexcept : m_p(p) { AddRefIfSet(); }
    CComPtr(const CComPtr& other) noexcept : m_p(other.m_p) { AddRefIfSet(); }
    CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~CComPtr() { Release(); }

    CComPtr& operator=(const CComPtr& other) noexcept
    {
        // Assigning the pointer already held changes nothing.
        if (other.m_p != m_p) {
            CComPtr copy(other);
            std::swap(m_p, copy.m_p);
        }
        return *this;
    }
    CComPtr& operator=(CComPtr&& other) noexcept
    {
        if (this != &other) {
            Release();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }

    /// Adopts `p` without adding a reference (it already carries the one this object will own).
    void Attach(T* p) noexcept
    {
        Release();
        m_p = p;
    }
    /// Gives the reference to the caller.
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }
    void Release() noexcept
    {
        if (T* p = std::exchange(m_p, nullptr))
            p->Release();
    }

    /// The out-parameter of a COM call: releases what is held first.
    T** Put() noexcept
    {
        Release();
        return &m_p;
    }
    /// The same as `void**`, for QueryInterface and CoCreateInstance.
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    /// Asks the held object for interface U (`iid`); the result is empty on failure.
    template <typename U>
    HRESULT QueryInterface(REFIID iid, CComPtr<U>& result) const noexcept
    {
        if (!m_p) {
            result.Release();
            return E_POINTER;
        }
        return m_p->QueryInterface(iid, result.PutVoid());
    }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

private:
    void AddRefIfSet() noexcept
    {
        if (m_p)
            m_p->AddRef();
    }

    T* m_p = nullptr;
};

}  // namespace kvo
