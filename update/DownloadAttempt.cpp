// One attempt of a download, never at the cost of the file it replaces: the body goes to a
// temporary file beside the target, which is moved over the target only when it holds exactly
// the announced length, its SHA-256 and, for a module, its version. A package is installed from
// that temporary file. An entry with a SHA-256 keeps the bytes of a cut attempt for the next.
#include "update/DownloadAttempt.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "framework/BoundedWork.h"
#include "framework/Internet.h"
#include "support/PeImage.h"
#include "support/ReplaceFile.h"
#include "support/Sha256.h"
#include "update/FileCheck.h"
#include "update/LauncherCheck.h"
#include "update/PackageInstall.h"
#include "update/UpdateEngine.h"
#include "update/UpdateErrors.h"

namespace {

constexpr unsigned kBlockSize = 10240;
constexpr std::size_t kMaxLengthDigits = 10;  // INT32_MAX has ten
constexpr unsigned kDecimalBase = 10;
constexpr DWORD kFirstServerError = 500;
constexpr DWORD kLastServerError = 599;
constexpr DWORD kTooManyRequests = 429;
// Socket errors that some WinINet implementations (Wine's among them) pass on as they are.
constexpr DWORD kSocketNetworkUnreachable = 10051;  // WSAENETUNREACH
constexpr DWORD kSocketNetworkReset = 10052;        // WSAENETRESET
constexpr DWORD kSocketConnectionAborted = 10053;   // WSAECONNABORTED
constexpr DWORD kSocketConnectionReset = 10054;     // WSAECONNRESET
constexpr DWORD kSocketTimedOut = 10060;            // WSAETIMEDOUT
constexpr DWORD kSocketConnectionRefused = 10061;   // WSAECONNREFUSED
constexpr DWORD kSocketHostUnreachable = 10065;     // WSAEHOSTUNREACH

// Always from the server, and never copied into the system's internet cache: the body belongs in
// the installation directory and nowhere else.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

const char kDownloadingPrefix[] = "正在下载 ";
const char kPackageProblemInfix[] = " 解压失败 ";
const char kRangeHeaderFormat[] = "Range: bytes=%llu-\r\n";
constexpr std::size_t kRangeHeaderSize = 64;

AttemptResult Failed(DWORD error) { return {error, AttemptOutcome::fail}; }

/// The error code a failed file operation leaves; a generic one when the system gave none.
DWORD FileErrorCode(const kvo::CFileException& error)
{
    return error.m_lOsError > 0 ? static_cast<DWORD>(error.m_lOsError) : ERROR_WRITE_FAULT;
}

/// The temporary file of one attempt and the hash of every byte it holds.
struct Body {
    explicit Body(const std::string& target) : temp(target), error(kvo::CFileException::none, 0, temp.Path()) {}

    /// Empties the file (and its hash) to take the body from its first byte.
    bool StartOver()
    {
        kept = 0;
        hash = CSha256();
        return temp.Open(&error);
    }

    CTempFileBeside temp;
    CSha256 hash;
    std::uint64_t kept = 0;  ///< bytes an earlier attempt left, resumed by this one
    kvo::CFileException error;
};

/// Opens the attempt's temporary file: with what an earlier attempt (or an interrupted run) kept
/// when the entry's bytes can be checked at the end, else empty.
bool OpenBody(const EntryRoad& road, const TransferState& state, Body& body)
{
    if (!road.IsHashChecked() || !state.resume)
        return body.StartOver();
    if (!body.temp.OpenToResume(body.kept, &body.error))
        return false;
    if (road.signedLength != 0 && body.kept > road.signedLength)
        return body.StartOver();  // more than the file can hold: not a part of it
    try {
        body.temp.File().Seek(0, kvo::CFile::begin);
        HashFileRest(body.temp.File(), body.hash);  // leaves the file at its end, where the rest goes
        return true;
    } catch (const kvo::CFileException&) {
        return body.StartOver();  // kept bytes that cannot be read back are not kept
    }
}

/// The request for `url`, not yet sent; raises CInternetException for everything that fails.
std::unique_ptr<kvo::CHttpFile> OpenRequest(kvo::CInternetSession& session,
                                            std::unique_ptr<kvo::CHttpConnection>& connection,
                                            const kvo::ParsedUrl& url, DWORD receiveTimeoutMs)
{
    connection = session.GetHttpConnection(url.server, url.port);
    // https means TLS to the port the address implies, with the certificate checked as usual.
    const DWORD flags = kRequestFlags | (url.scheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    std::unique_ptr<kvo::CHttpFile> request = connection->OpenRequest("GET", url.object, flags);
    // Set on the request itself too: Wine's WinINet does not pass the session's values down to it.
    DWORD timeoutMs = receiveTimeoutMs;
    for (const DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        ::InternetSetOptionA(request->GetHandle(), option, &timeoutMs, sizeof timeoutMs);
    return request;
}

/// Sends the request, asking for what follows `kept` bytes when there are some; raises
/// CInternetException when it fails.
void SendRequest(kvo::CHttpFile& request, std::uint64_t kept)
{
    char range[kRangeHeaderSize] = "";
    if (kept > 0)
        std::snprintf(range, sizeof range, kRangeHeaderFormat, static_cast<unsigned long long>(kept));
    if (!request.SendRequest(range))
        throw kvo::CInternetException(::GetLastError());
}

/// A failure that belongs to this address (its answer, its copy, its certificate, the way to it):
/// another address may serve the file.
AttemptResult WrongHere(DWORD error) { return {error, AttemptOutcome::tryElsewhere}; }

/// What a status that is not the one asked for means for the next attempt.
AttemptResult RefusedStatus(DWORD status, bool rangeAsked)
{
    // An unexpected answer to a range request starts the file over.
    if (rangeAsked)
        return {ERROR_HTTP_INVALID_SERVER_RESPONSE, AttemptOutcome::retryFromStart};
    if (IsPassingHttpStatus(status))
        return {ERROR_HTTP_INVALID_SERVER_RESPONSE, AttemptOutcome::retry};
    // 404, and the 401, 403 or 410 that several CDNs answer for a missing object: this address
    // will not serve it, a mirror may.
    return WrongHere(ERROR_HTTP_INVALID_SERVER_RESPONSE);
}

/// The whole file's length as the response gives it: the total of a Content-Range, else
/// Content-Length (after the kept bytes), else, for a body sent without a length (chunked), the
/// length the manifest vouches for. False, with `refusal` set, when no trustworthy length is there
/// or it is not the one the manifest vouches for.
bool AnnouncedTotal(kvo::CHttpFile& request, const EntryRoad& road, std::uint64_t kept, std::uint64_t rangeTotal,
                    std::uint32_t& total, AttemptResult& refusal)
{
    std::string lengthText;
    std::uint32_t announced = 0;
    const bool lengthGiven = request.QueryInfo(HTTP_QUERY_CONTENT_LENGTH, lengthText);
    if (lengthGiven && (!ParseAnnouncedLength(lengthText, announced) ||
                        (rangeTotal != 0 && kept + announced != rangeTotal))) {
        refusal = WrongHere(ERROR_HTTP_INVALID_HEADER);
        return false;
    }
    std::uint64_t whole = 0;
    if (rangeTotal != 0) {
        whole = rangeTotal;
    } else if (lengthGiven) {
        whole = kept + announced;
    } else if (road.signedLength != 0) {
        whole = road.signedLength;  // read to its end, bounded by what the manifest vouches for
    } else {
        // Without a length a complete body cannot be told from a cut one.
        refusal = WrongHere(ERROR_HTTP_INVALID_HEADER);
        return false;
    }
    if (road.signedLength != 0 && whole != road.signedLength) {
        refusal = WrongHere(kErrorLengthMismatch);
        return false;
    }
    if (whole > static_cast<std::uint64_t>(INT32_MAX)) {
        refusal = WrongHere(ERROR_HTTP_INVALID_HEADER);
        return false;
    }
    total = static_cast<std::uint32_t>(whole);
    return true;
}

/// Takes the response's status and lengths: `total` receives the whole file's length. False, with
/// `refusal` saying what follows, when the body is not the one asked for or its length cannot be
/// trusted. A 200 to a range request starts the body over.
bool AcceptResponse(kvo::CHttpFile& request, const EntryRoad& road, Body& body, const TransferState& state,
                    std::uint32_t& total, AttemptResult& refusal)
{
    const bool rangeAsked = body.kept > 0;
    DWORD status = 0;
    if (!request.QueryInfoStatusCode(status)) {
        refusal = RefusedStatus(0, rangeAsked);
        return false;
    }
    std::uint64_t rangeTotal = 0;
    if (rangeAsked && status == HTTP_STATUS_PARTIAL_CONTENT) {
        std::string rangeText;
        std::uint64_t first = 0, last = 0;
        if (!request.QueryInfo(HTTP_QUERY_CONTENT_RANGE, rangeText) ||
            !ParseContentRange(rangeText, first, last, rangeTotal) || first != body.kept || last + 1 != rangeTotal ||
            (state.total != 0 && rangeTotal != state.total)) {
            refusal = RefusedStatus(status, true);
            return false;
        }
    } else if (rangeAsked && status == HTTP_STATUS_OK) {
        // A server without ranges sends it all.
        if (!body.StartOver()) {
            refusal = Failed(FileErrorCode(body.error));
            return false;
        }
    } else if (status != HTTP_STATUS_OK) {
        refusal = RefusedStatus(status, rangeAsked);
        return false;
    }
    return AnnouncedTotal(request, road, body.kept, rangeTotal, total, refusal);
}

/// The floor under a body's speed: the policy's speedFloorBytes in every window of its
/// speedWindowMs. A server that trickles bytes would otherwise hold an attempt for as long
/// as each byte comes within the receive time-out. Each read waits at most for what is left of the
/// window, so an attempt below the floor ends when its window does.
class CSpeedFloor {
public:
    /// The first window began with the request: together with the bound on the response's
    /// headers, the first body byte comes within one window of the request or the attempt ends.
    CSpeedFloor(const UpdatePolicy& policy, HINTERNET request, std::uint64_t received, ULONGLONG requestedAt) noexcept
        : m_policy(policy), m_request(request)
    {
        StartWindow(received, requestedAt);
    }

    /// Before each read; false when the window has ended without its bytes.
    bool BeforeRead(std::uint64_t received) noexcept
    {
        const ULONGLONG now = ::GetTickCount64();
        if (received - m_windowStartBytes >= m_policy.speedFloorBytes)
            StartWindow(received, now);
        else if (now >= m_windowEnd)
            return false;
        DWORD waitMs = static_cast<DWORD>(std::min<ULONGLONG>(m_windowEnd - now, m_policy.receiveTimeoutMs));
        ::InternetSetOptionA(m_request, INTERNET_OPTION_RECEIVE_TIMEOUT, &waitMs, sizeof waitMs);
        return true;
    }

private:
    void StartWindow(std::uint64_t received, ULONGLONG now) noexcept
    {
        m_windowStartBytes = received;
        m_windowEnd = now + m_policy.speedWindowMs;
    }

    const UpdatePolicy& m_policy;
    HINTERNET m_request;
    std::uint64_t m_windowStartBytes = 0;
    ULONGLONG m_windowEnd = 0;
};

/// Reads the body into the temporary file block by block, keeping the counters up to date and,
/// when the entry lists a hash to check, every byte hashed. Done when exactly `total` bytes are
/// there at the end. More than `total` stops the transfer before it is written (for a length the
/// manifest vouches for, at once and for good), and so does a speed below the floor.
AttemptResult ReceiveBody(CUpdateEngine& engine, const EntryRoad& road, kvo::CHttpFile& request, Body& body,
                          std::uint32_t total, ULONGLONG requestedAt)
{
    std::vector<char> buffer(kBlockSize);
    std::uint64_t received = body.kept;
    CSpeedFloor floor(engine.m_policy, request.GetHandle(), received, requestedAt);
    bool started = false;
    for (;;) {
        if (!floor.BeforeRead(received))
            return {ERROR_INTERNET_TIMEOUT, AttemptOutcome::retry};
        // Only what has come: a read of a whole block waits for all of it, byte by byte, and no
        // time-out or close ends that wait on every platform. The wait for something to come is
        // bounded by what is left of the window.
        const unsigned available = request.QueryDataAvailable();
        const unsigned got = available == 0 ? 0 : request.Read(buffer.data(), std::min(available, kBlockSize));
        if (!started) {
            engine.m_log.WriteLog((kDownloadingPrefix + road.entry.FileName).c_str());
            started = true;
        }
        if (got == 0)
            break;
        if (got > total - received)
            return road.signedLength != 0 ? WrongHere(kErrorLengthMismatch)
                                          : AttemptResult{ERROR_HANDLE_EOF, AttemptOutcome::retry};
        body.temp.File().Write(buffer.data(), got);
        if (road.IsHashChecked())
            body.hash.Update(buffer.data(), got);
        engine.m_nCurFileDone += got;
        received += got;
        engine.TellProgress();
    }
    if (received != total || body.temp.File().GetLength() != total)
        return {ERROR_HANDLE_EOF, AttemptOutcome::retry};  // cut short: what came may be resumed
    return {};
}

/// The request and its response's status line and headers, taken on a worker of their own: a
/// server that sends them a byte at a time meets every receive time-out, and only a bound on the
/// whole exchange ends it. A worker left behind after that bound closes what it opened itself.
struct ResponseJob final : kvo::CBoundedWork {
    ResponseJob(const UpdatePolicy& policy, const kvo::ParsedUrl& address, std::uint64_t keptBytes)
        : timeouts(policy), url(address), kept(keptBytes)
    {
    }

    void Run() noexcept override
    {
        try {
            session = std::make_unique<kvo::CInternetSession>();
            session->SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectTimeoutMs);
            session->SetOption(INTERNET_OPTION_CONNECT_RETRIES, timeouts.connectRetries);
            session->SetOption(INTERNET_OPTION_SEND_TIMEOUT, timeouts.receiveTimeoutMs);
            session->SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.receiveTimeoutMs);
            request = OpenRequest(*session, connection, url, timeouts.receiveTimeoutMs);
            SendRequest(*request, kept);
        } catch (const kvo::CInternetException& failure) {
            error = failure.m_dwError;
        } catch (const std::bad_alloc&) {
            error = ERROR_NOT_ENOUGH_MEMORY;
        } catch (const std::exception&) {
            error = ERROR_GEN_FAILURE;
        }
    }

    const UpdatePolicy timeouts;  ///< a copy: an abandoned worker may outlive the engine
    const kvo::ParsedUrl url;
    const std::uint64_t kept;
    std::unique_ptr<kvo::CInternetSession> session;
    std::unique_ptr<kvo::CHttpConnection> connection;
    std::unique_ptr<kvo::CHttpFile> request;
    DWORD error = ERROR_SUCCESS;
};

/// The transfer itself: request, response, body. Done when the temporary file holds the whole
/// announced body. From the request to the first body byte it is bounded by the policy's speed
/// window of wall-clock time, and from there by the speed floor.
AttemptResult Transfer(CUpdateEngine& engine, const EntryRoad& road, TransferState& state,
                       const kvo::ParsedUrl& url, Body& body)
{
    try {
        const ULONGLONG requestedAt = ::GetTickCount64();
        const auto response = std::make_shared<ResponseJob>(engine.m_policy, url, body.kept);
        if (!kvo::RunBounded(response, engine.m_policy.speedWindowMs))
            return {ERROR_INTERNET_TIMEOUT, AttemptOutcome::retry};
        if (response->error != ERROR_SUCCESS)
            throw kvo::CInternetException(response->error);
        kvo::CHttpFile& request = *response->request;
        std::uint32_t total = 0;
        AttemptResult refusal;
        if (!AcceptResponse(request, road, body, state, total, refusal))
            return refusal;
        state.total = total;
        engine.m_nCurFileSize = total;
        engine.m_nCurFileDone = static_cast<std::uint32_t>(body.kept);
        engine.TellProgress();
        return ReceiveBody(engine, road, request, body, total, requestedAt);
    } catch (const kvo::CInternetException& error) {
        // What does not pass (a certificate, a redirect, a refused connection setting) is this
        // address's: the next one is asked at once.
        return {error.m_dwError,
                IsPassingTransferError(error.m_dwError) ? AttemptOutcome::retry : AttemptOutcome::tryElsewhere};
    } catch (const kvo::CFileException& error) {
        return Failed(FileErrorCode(error));
    } catch (const std::bad_alloc&) {
        return Failed(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const kvo::CException&) {
        return Failed(ERROR_GEN_FAILURE);
    }
}

/// ERROR_SUCCESS when the received bytes are the file the entry describes: its SHA256 when it
/// has one, and for a module with a FileVersion, a version resource that the local check would
/// call current in an image that is whole. A module cut short by a wrong Content-Length fails
/// here even without a hash. A new copy of the running launcher must also be one that can run
/// here and trusts the same key.
DWORD CheckReceivedFile(const EntryRoad& road, const std::string& path, const Sha256Digest& received)
{
    if (road.hashGiven && (!road.hashWellFormed || road.listed != received))
        return kErrorHashMismatch;
    if (road.replacesLauncher) {
        if (const DWORD refused = CheckReplacementLauncher(path, RunningLauncherImage()))
            return refused;
    }
    if (road.entry.FileVersion.empty() || road.isPackage)
        return ERROR_SUCCESS;
    std::string version;
    if (FAILED(GetFileVersionString(path, version)) || CompareVersionTexts(road.entry.FileVersion, version) > 0 ||
        !IsWholeModuleImage(path))
        return kErrorVersionMismatch;
    return ERROR_SUCCESS;
}

/// Puts the complete, checked temporary file in place through the engine's commit: a package is
/// installed from it, entry by entry; the launcher's own file and any other file are replaced by it.
AttemptResult PutInPlace(CUpdateEngine& engine, const EntryRoad& road, CTempFileBeside& temp)
{
    if (road.isPackage) {
        // Installed straight from the temporary file, which goes away with `temp`.
        std::string problem;
        if (!InstallPackage(temp.Path(), problem, engine.m_commit)) {
            engine.MarkRunFailed(ERROR_INSTALL_FAILURE);
            engine.m_log.WriteLog((road.entry.FileName + kPackageProblemInfix + problem).c_str());
        }
        return {};
    }
    kvo::CFileException fileError(kvo::CFileException::none, 0, temp.TargetPath());
    const auto kind = road.replacesLauncher ? IFileCommit::Kind::launcher : IFileCommit::Kind::file;
    if (!engine.m_commit.Commit(temp, kind, fileError))
        return Failed(FileErrorCode(fileError));
    return {};
}

/// After a whole body: closes it, checks it and puts it in place.
AttemptResult Finish(CUpdateEngine& engine, const EntryRoad& road, Body& body)
{
    try {
        // A launcher's bytes are on the disk before the renames that make it the program.
        if (road.replacesLauncher)
            body.temp.File().Flush();
        // Closed first: the version resource is read through a handle of its own.
        body.temp.File().Close();
    } catch (const kvo::CFileException& error) {
        return Failed(FileErrorCode(error));
    }
    if (const DWORD mismatch = CheckReceivedFile(road, body.temp.Path(), body.hash.Finish())) {
        // Bytes pieced together from attempts may be the fault: one more fetch from the start. A
        // whole body that is not the file is this server's fault.
        if (mismatch != kErrorHashMismatch)
            return Failed(mismatch);
        return body.kept > 0 ? AttemptResult{mismatch, AttemptOutcome::retryFromStart} : WrongHere(mismatch);
    }
    return PutInPlace(engine, road, body.temp);
}

}  // namespace

bool IsPassingTransferError(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case ERROR_HANDLE_EOF:
    case kSocketNetworkUnreachable:
    case kSocketNetworkReset:
    case kSocketConnectionAborted:
    case kSocketConnectionReset:
    case kSocketTimedOut:
    case kSocketConnectionRefused:
    case kSocketHostUnreachable:
        return true;
    default:
        return false;
    }
}

bool IsPassingHttpStatus(DWORD status)
{
    return (status >= kFirstServerError && status <= kLastServerError) || status == HTTP_STATUS_REQUEST_TIMEOUT ||
           status == kTooManyRequests;
}

bool ParseContentRange(const std::string& text, std::uint64_t& first, std::uint64_t& last, std::uint64_t& total)
{
    unsigned long long a = 0, b = 0, c = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "bytes %llu-%llu/%llu%c", &a, &b, &c, &tail) != 3 || a > b || b >= c)
        return false;
    first = a;
    last = b;
    total = c;
    return true;
}

bool ParseAnnouncedLength(const std::string& text, std::uint32_t& length)
{
    if (text.empty() || text.size() > kMaxLengthDigits)
        return false;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * kDecimalBase + static_cast<unsigned>(c - '0');
    }
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return false;
    length = static_cast<std::uint32_t>(value);
    return true;
}

AttemptResult DownloadAttempt(CUpdateEngine& engine, const EntryRoad& road, const std::string& address,
                              TransferState& state)
{
    if (road.refusal != ERROR_SUCCESS)
        return Failed(road.refusal);
    kvo::ParsedUrl url;
    if (!kvo::ParseURL(address, url) || (url.scheme != INTERNET_SCHEME_HTTP && url.scheme != INTERNET_SCHEME_HTTPS))
        return WrongHere(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    Body body(road.target);
    if (!OpenBody(road, state, body))
        return Failed(FileErrorCode(body.error));
    const AttemptResult transfer = Transfer(engine, road, state, url, body);
    if (transfer.outcome == AttemptOutcome::done)
        return Finish(engine, road, body);
    // The bytes that came stay for the next attempt (or the next start) to resume.
    if (road.IsHashChecked() && transfer.outcome == AttemptOutcome::retry && body.temp.File().IsOpen() &&
        body.temp.File().GetLength() > 0)
        body.temp.Keep();
    return transfer;
}
