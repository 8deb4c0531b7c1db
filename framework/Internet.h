// HTTP over WinINet: session, connection, request/response objects and their exception.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>

#include "framework/Exceptions.h"
#include "framework/Handles.h"

namespace kvo {

/// A failed WinINet call: the error number and the system's text for it.
class CInternetException : public CException {
public:
    explicit CInternetException(DWORD error);
    DWORD m_dwError;
};

/// A response body being read: an HTTP request after it was sent.
class CInternetFile {
public:
    explicit CInternetFile(HINTERNET handle) noexcept : m_hFile(handle) {}
    virtual ~CInternetFile() = default;
    CInternetFile(const CInternetFile&) = delete;
    CInternetFile& operator=(const CInternetFile&) = delete;

    /// Reads up to `count` bytes of the body; 0 at its end. Raises CInternetException.
    unsigned Read(void* buffer, unsigned count);
    /// Waits until some of the body has come (within the receive time-out) and returns how much
    /// can be read at once; 0 at the end of the body. Raises CInternetException.
    unsigned QueryDataAvailable();
    void Close() noexcept { m_hFile.reset(); }
    HINTERNET GetHandle() const noexcept { return m_hFile.get(); }

private:
    unique_hinternet m_hFile;
};

/// An HTTP request: send it, then read status, headers and body.
class CHttpFile : public CInternetFile {
public:
    using CInternetFile::CInternetFile;

    /// Sends the request with no extra headers and no body; false (GetLastError set) on failure.
    bool SendRequest() noexcept;
    /// Sends the request with `headers` ("Name: value\r\n" lines) and no body.
    bool SendRequest(const std::string& headers) noexcept;
    /// The HTTP status code of the response; false when it cannot be read.
    bool QueryInfoStatusCode(DWORD& status) const noexcept;
    /// A response header as text (`infoLevel` an HTTP_QUERY_* value); false when absent.
    bool QueryInfo(DWORD infoLevel, std::string& value) const;
};

/// A connection to one HTTP server.
class CHttpConnection {
public:
    explicit CHttpConnection(HINTERNET handle) noexcept : m_hConnection(handle) {}
    /// Opens a request for `object` (no referrer, no accept types, default HTTP version).
    /// Raises CInternetException.
    std::unique_ptr<CHttpFile> OpenRequest(const char* verb, const std::string& object, DWORD flags);
    void Close() noexcept { m_hConnection.reset(); }

private:
    unique_hinternet m_hConnection;
};

/// A WinINet session with the system's proxy settings.
class CInternetSession {
public:
    /// Opens the session (pre-configured access, no proxy of its own, flags 0). Raises on failure.
    explicit CInternetSession(const char* agent = kDefaultAgent);
    ~CInternetSession() = default;
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    /// Sets a 4-byte option (INTERNET_OPTION_*), flags 0.
    bool SetOption(DWORD option, DWORD value) noexcept;
    /// Connects to `server`:`port` (no user name, no password). Raises CInternetException.
    std::unique_ptr<CHttpConnection> GetHttpConnection(const std::string& server, INTERNET_PORT port);
    void Close() noexcept { m_hSession.reset(); }

    static constexpr const char* kDefaultAgent = "KvoLauncher";
    static constexpr DWORD_PTR kContext = 1;

private:
    unique_hinternet m_hSession;
};

/// The parts of an address, as InternetCrackUrl finds them.
struct ParsedUrl {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    std::string server;
    std::string object;  ///< path and query, "/" when empty
    INTERNET_PORT port = 0;
};

/// Splits `url`; false when it is not an address at all.
bool ParseURL(const std::string& url, ParsedUrl& parts);

}  // namespace kvo
