#include "update/HttpGet.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "framework/BoundedWork.h"

namespace {

constexpr unsigned kBlockSize = 10240;
const char kRangeHeaderFormat[] = "Range: bytes=%llu-\r\n";
const char kBoundedRangeHeaderFormat[] = "Range: bytes=%llu-%llu\r\n";
constexpr std::size_t kRangeHeaderSize = 64;
// Always from the server, and never copied into the system's internet cache: a body belongs in
// the installation directory and nowhere else.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
// Some WinINet implementations (Wine's among them) pass a socket's time-out on as it is.
constexpr DWORD kSocketTimedOut = 10060;  // WSAETIMEDOUT

/// A receive time-out is one whatever the implementation calls it.
DWORD TransferError(DWORD error) { return error == kSocketTimedOut ? ERROR_INTERNET_TIMEOUT : error; }

/// The floor under a body's speed: speedFloorBytes in every window of speedWindowMs. A server that
/// trickles bytes would otherwise hold a transfer for as long as each byte comes within the
/// receive time-out. Each read waits at most for what is left of the window, so a transfer below
/// the floor ends when its window does.
class CSpeedFloor {
public:
    CSpeedFloor(const HttpLimits& limits, HINTERNET request, ULONGLONG requestedAt) noexcept
        : m_limits(limits), m_request(request)
    {
        StartWindow(0, requestedAt);
    }

    /// Before each read; false when the window has ended without its bytes.
    bool BeforeRead(std::uint64_t received) noexcept
    {
        if (m_limits.speedFloorBytes == 0)
            return true;
        const ULONGLONG now = ::GetTickCount64();
        if (received - m_windowStartBytes >= m_limits.speedFloorBytes)
            StartWindow(received, now);
        else if (now >= m_windowEnd)
            return false;
        DWORD waitMs = static_cast<DWORD>(std::min<ULONGLONG>(m_windowEnd - now, m_limits.receiveTimeoutMs));
        ::InternetSetOptionA(m_request, INTERNET_OPTION_RECEIVE_TIMEOUT, &waitMs, sizeof waitMs);
        return true;
    }

private:
    void StartWindow(std::uint64_t received, ULONGLONG now) noexcept
    {
        m_windowStartBytes = received;
        m_windowEnd = now + m_limits.speedWindowMs;
    }

    const HttpLimits& m_limits;
    HINTERNET m_request;
    std::uint64_t m_windowStartBytes = 0;
    ULONGLONG m_windowEnd = 0;
};

}  // namespace

/// The request and its response's status line and headers. Taken on a worker of its own when the
/// headers are bounded by the wall clock; a worker left behind after that bound closes what it
/// opened itself, with this object.
struct CHttpGet::Exchange final : kvo::CBoundedWork {
    Exchange(const HttpLimits& bounds, const kvo::ParsedUrl& address, std::uint64_t start, std::uint64_t end)
        : limits(bounds), url(address), rangeStart(start), rangeEnd(end)
    {
    }

    void Run() noexcept override
    {
        try {
            session = std::make_unique<kvo::CInternetSession>();
            session->SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, limits.connectTimeoutMs);
            session->SetOption(INTERNET_OPTION_CONNECT_RETRIES, limits.connectRetries);
            session->SetOption(INTERNET_OPTION_SEND_TIMEOUT, limits.sendTimeoutMs);
            session->SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, limits.receiveTimeoutMs);
            connection = session->GetHttpConnection(url.server, url.port);
            // https means TLS to the port the address implies, with the certificate checked as usual.
            const DWORD flags = kRequestFlags | (url.scheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
            request = connection->OpenRequest("GET", url.object, flags);
            // Set on the request itself too: Wine's WinINet does not pass the session's values down.
            DWORD sendMs = limits.sendTimeoutMs;
            DWORD receiveMs = limits.receiveTimeoutMs;
            ::InternetSetOptionA(request->GetHandle(), INTERNET_OPTION_SEND_TIMEOUT, &sendMs, sizeof sendMs);
            ::InternetSetOptionA(request->GetHandle(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
            char range[kRangeHeaderSize] = "";
            if (rangeEnd != 0)
                std::snprintf(range, sizeof range, kBoundedRangeHeaderFormat,
                              static_cast<unsigned long long>(rangeStart), static_cast<unsigned long long>(rangeEnd));
            else if (rangeStart > 0)
                std::snprintf(range, sizeof range, kRangeHeaderFormat, static_cast<unsigned long long>(rangeStart));
            if (!request->SendRequest(range))
                throw kvo::CInternetException(::GetLastError());
        } catch (const kvo::CInternetException& failure) {
            error = TransferError(failure.m_dwError);
        } catch (const std::bad_alloc&) {
            error = ERROR_NOT_ENOUGH_MEMORY;
        } catch (const std::exception&) {
            error = ERROR_GEN_FAILURE;
        }
    }

    const HttpLimits limits;  ///< a copy: an abandoned worker may outlive its caller
    const kvo::ParsedUrl url;
    const std::uint64_t rangeStart;
    const std::uint64_t rangeEnd;
    std::unique_ptr<kvo::CInternetSession> session;
    std::unique_ptr<kvo::CHttpConnection> connection;
    std::unique_ptr<kvo::CHttpFile> request;
    DWORD error = ERROR_SUCCESS;
};

CHttpGet::CHttpGet(const HttpLimits& limits) : m_limits(limits) {}

bool CHttpGet::Send(const kvo::ParsedUrl& url, std::uint64_t rangeStart, std::uint64_t rangeEnd)
{
    m_requestedAt = ::GetTickCount64();
    m_exchange = std::make_shared<Exchange>(m_limits, url, rangeStart, rangeEnd);
    if (m_limits.firstByteMs == 0)
        m_exchange->Run();
    else if (!kvo::RunBounded(m_exchange, m_limits.firstByteMs))
        return false;
    if (m_exchange->error != ERROR_SUCCESS)
        throw kvo::CInternetException(m_exchange->error);
    return true;
}

kvo::CHttpFile& CHttpGet::Response() { return *m_exchange->request; }

CHttpGet::BodyEnd CHttpGet::ReadBody(IHttpSink& sink, std::uint64_t bound)
{
    kvo::CHttpFile& response = Response();
    std::vector<char> buffer(kBlockSize);
    CSpeedFloor floor(m_limits, response.GetHandle(), m_requestedAt);
    std::uint64_t received = 0;
    bool started = false;
    for (;;) {
        if (!floor.BeforeRead(received))
            return BodyEnd::tooSlow;
        // Only what has come: a read of a whole block waits for all of it, byte by byte, and no
        // time-out or close ends that wait on every platform. The wait for something to come is
        // bounded by what is left of the window.
        unsigned got = 0;
        try {
            const unsigned available = response.QueryDataAvailable();
            got = available == 0 ? 0 : response.Read(buffer.data(), std::min(available, kBlockSize));
        } catch (const kvo::CInternetException& failure) {
            throw kvo::CInternetException(TransferError(failure.m_dwError));
        }
        if (!started) {
            sink.OnBodyStarted();
            started = true;
        }
        if (got == 0)
            return BodyEnd::complete;
        if (got > bound - received)
            return BodyEnd::tooLong;
        sink.Write(buffer.data(), got);
        received += got;
    }
}
