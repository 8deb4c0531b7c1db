// The engine's one transport: an HTTP GET of a whole body, or of the rest of one from a byte on,
// into a sink. It bounds every wait: connecting, each wait for the next bytes, the time from the
// request to the response's headers (wall clock: a server that trickles them a byte at a time
// meets every receive time-out), the body's speed, and the length of the body it takes. What is
// asked for, and what a status means, is the caller's; so are retries and mirrors.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>

#include "framework/Internet.h"

/// How long one GET may wait, and for how little.
struct HttpLimits {
    DWORD connectTimeoutMs = 0;   ///< 0: the platform's own
    DWORD connectRetries = 0;
    DWORD sendTimeoutMs = 0;
    DWORD receiveTimeoutMs = 0;   ///< each wait for the next bytes
    /// The wall-clock bound from the request to its response's headers, and, with the speed floor,
    /// to the first byte of its body; 0 for none.
    DWORD firstByteMs = 0;
    /// The floor under the body's speed: speedFloorBytes in every window of speedWindowMs
    /// (the first window begins with the request); a floor of 0 for none.
    DWORD speedWindowMs = 0;
    std::uint32_t speedFloorBytes = 0;
};

/// Where a body goes, block by block.
class IHttpSink {
public:
    virtual ~IHttpSink() = default;
    /// The wait for the body has ended (its first bytes, or its end).
    virtual void OnBodyStarted() {}
    /// The next `size` bytes of the body. May raise to stop the transfer.
    virtual void Write(const char* data, unsigned size) = 0;
};

class CHttpGet {
public:
    /// How a body's reading ended.
    enum class BodyEnd {
        complete,  ///< the server ended the body
        tooLong,   ///< it went on past the bound; nothing past the bound reached the sink
        tooSlow,   ///< below the speed floor, or silent past the receive time-out
    };

    explicit CHttpGet(const HttpLimits& limits);
    CHttpGet(const CHttpGet&) = delete;
    CHttpGet& operator=(const CHttpGet&) = delete;

    /// Sends a GET of `url` (http or https; asking for the body from byte `rangeStart` on when it
    /// is above 0, up to byte `rangeEnd` included when that is above 0: one range, never several),
    /// always from the server and never kept in the system's internet cache. False
    /// when the response's headers did not come within limits.firstByteMs: a time-out, the request
    /// abandoned to end on its own. Raises kvo::CInternetException for every other failure.
    bool Send(const kvo::ParsedUrl& url, std::uint64_t rangeStart = 0, std::uint64_t rangeEnd = 0);

    /// The response, with its status and headers; only after Send returned true.
    kvo::CHttpFile& Response();

    /// Reads the body into `sink` as it comes, at most `bound` bytes. Raises
    /// kvo::CInternetException when the transfer fails.
    BodyEnd ReadBody(IHttpSink& sink, std::uint64_t bound);

private:
    struct Exchange;

    const HttpLimits m_limits;
    std::shared_ptr<Exchange> m_exchange;
    ULONGLONG m_requestedAt = 0;
};
