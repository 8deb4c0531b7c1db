// The exception family of the framework layer. Thrown by value, caught by reference.
#pragma once
#include <cstdint>
#include <exception>
#include <string>

namespace kvo {

/// Base of every exception the program raises itself.
class CException : public std::exception {
public:
    explicit CException(std::string message = "unknown error") : m_strMessage(std::move(message)) {}
    const char* what() const noexcept override { return m_strMessage.c_str(); }

    /// Copies the message (at most maxLength - 1 bytes plus the terminator) into `buffer`.
    bool GetErrorMessage(char* buffer, unsigned maxLength) const noexcept;

protected:
    std::string m_strMessage;
};

/// A failed operating-system file call.
class CFileException : public CException {
public:
    enum Cause { none = 0, generic = 1, fileNotFound = 2, badPath = 3, accessDenied = 5, endOfFile = 14 };

    CFileException(int cause, long osError, std::string fileName);

    int m_cause;
    long m_lOsError;            ///< system error code (GetLastError or errno)
    std::string m_strFileName;
};

/// Memory could not be had.
class CMemoryException : public CException {
public:
    CMemoryException() : CException("out of memory") {}
};

/// A failing status code of an OLE/COM or runtime conversion.
class COleException : public CException {
public:
    explicit COleException(std::int32_t sc);
    std::int32_t m_sc;
};

}  // namespace kvo
