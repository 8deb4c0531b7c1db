#include "framework/Internet.h"

#include <vector>

namespace kvo {

namespace {

constexpr DWORD kMessageBufferSize = 512;

/// The error's text: WinINet's own messages live in wininet.dll, the rest are the system's.
std::string InternetErrorText(DWORD error)
{
    char buffer[kMessageBufferSize] = {};
    DWORD length = 0;
    if (error >= INTERNET_ERROR_BASE && error <= INTERNET_ERROR_LAST) {
        length = ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  ::GetModuleHandleA("wininet.dll"), error, 0, buffer, sizeof buffer, nullptr);
    }
    if (length == 0) {
        length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  buffer, sizeof buffer, nullptr);
    }
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (text.empty())
        text = "internet error " + std::to_string(error);
    return text;
}

[[noreturn]] void ThrowLastInternetError()
{
    throw CInternetException(::GetLastError());
}

}  // namespace

CInternetException::CInternetException(DWORD error) : CException(InternetErrorText(error)), m_dwError(error)
{
    ::SetLastError(error);
}

unsigned CInternetFile::Read(void* buffer, unsigned count)
{
    DWORD done = 0;
    if (!::InternetReadFile(m_hFile.get(), buffer, count, &done))
        ThrowLastInternetError();
    return done;
}

unsigned CInternetFile::QueryDataAvailable()
{
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(m_hFile.get(), &available, 0, 0))
        ThrowLastInternetError();
    return available;
}

bool CHttpFile::SendRequest() noexcept
{
    return ::HttpSendRequestA(GetHandle(), nullptr, 0, nullptr, 0) != FALSE;
}

bool CHttpFile::SendRequest(const std::string& headers) noexcept
{
    return ::HttpSendRequestA(GetHandle(), headers.c_str(), static_cast<DWORD>(headers.size()), nullptr, 0) != FALSE;
}

bool CHttpFile::QueryInfoStatusCode(DWORD& status) const noexcept
{
    DWORD size = sizeof status;
    return ::HttpQueryInfoA(GetHandle(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                            nullptr) != FALSE;
}

bool CHttpFile::QueryInfo(DWORD infoLevel, std::string& value) const
{
    DWORD size = 0;
    ::HttpQueryInfoA(GetHandle(), infoLevel, nullptr, &size, nullptr);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return false;
    std::vector<char> buffer(size + 1, '\0');
    if (!::HttpQueryInfoA(GetHandle(), infoLevel, buffer.data(), &size, nullptr))
        return false;
    value.assign(buffer.data(), size);
    return true;
}

std::unique_ptr<CHttpFile> CHttpConnection::OpenRequest(const char* verb, const std::string& object, DWORD flags)
{
    HINTERNET request = ::HttpOpenRequestA(m_hConnection.get(), verb, object.c_str(), nullptr, nullptr, nullptr,
                                           flags, CInternetSession::kContext);
    if (!request)
        ThrowLastInternetError();
    return std::make_unique<CHttpFile>(request);
}

CInternetSession::CInternetSession(const char* agent)
    : m_hSession(::InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0))
{
    if (!m_hSession)
        ThrowLastInternetError();
}

bool CInternetSession::SetOption(DWORD option, DWORD value) noexcept
{
    return ::InternetSetOptionA(m_hSession.get(), option, &value, sizeof value) != FALSE;
}

std::unique_ptr<CHttpConnection> CInternetSession::GetHttpConnection(const std::string& server, INTERNET_PORT port)
{
    HINTERNET connection = ::InternetConnectA(m_hSession.get(), server.c_str(), port, nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, 0, kContext);
    if (!connection)
        ThrowLastInternetError();
    return std::make_unique<CHttpConnection>(connection);
}

bool ParseURL(const std::string& url, ParsedUrl& parts)
{
    std::vector<char> host(INTERNET_MAX_HOST_NAME_LENGTH + 1, '\0');
    std::vector<char> path(url.size() + 2, '\0');
    URL_COMPONENTSA components{};
    components.dwStructSize = sizeof components;
    components.lpszHostName = host.data();
    components.dwHostNameLength = static_cast<DWORD>(host.size());
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = static_cast<DWORD>(path.size());
    std::vector<char> extra(url.size() + 2, '\0');
    components.lpszExtraInfo = extra.data();
    components.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!::InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &components))
        return false;
    parts.scheme = components.nScheme;
    parts.server.assign(host.data(), components.dwHostNameLength);
    parts.object.assign(path.data(), components.dwUrlPathLength);
    parts.object.append(extra.data(), components.dwExtraInfoLength);
    if (parts.object.empty())
        parts.object = "/";
    parts.port = components.nPort;
    return true;
}

}  // namespace kvo
