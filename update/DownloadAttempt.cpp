// One attempt of a download, never at the cost of the file it replaces: the body goes to its
// staged file, which is handed to the release only when it holds exactly the announced length,
// its SHA-256 and, for a module, its version, all read through the handle that wrote it. A
// package is unpacked into the staging area from that file. An entry with a SHA-256 keeps the
// bytes of a cut attempt (or of a whole staged file) for the next.
#include "update/DownloadAttempt.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "framework/Internet.h"
#include "support/PeImage.h"
#include "support/ReplaceFile.h"
#include "support/Sha256.h"
#include "update/FileCheck.h"
#include "update/HttpGet.h"
#include "update/LauncherCheck.h"
#include "update/PackageInstall.h"
#include "update/PackageRanges.h"
#include "update/UpdateEngine.h"
#include "update/UpdateErrors.h"

namespace {

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


const char kDownloadingPrefix[] = "正在下载 ";
const char kPackageProblemInfix[] = " 解压失败 ";

AttemptResult Failed(DWORD error) { return {error, AttemptOutcome::fail}; }

/// The temporary file of one attempt and the hash of every byte it holds.
struct Body {
    Body(const std::string& target, const std::string& tempPath)
        : temp(target, tempPath), error(kvo::CFileException::none, 0, temp.Path())
    {
    }

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

/// The whole body's length as the response gives it: the length of the range asked for (the rest
/// of a resumed file, or a part), else Content-Length (after the kept bytes), else, for a body
/// sent without a length (chunked), the length the manifest vouches for. False, with `refusal`
/// set, when no trustworthy length is there or it is not the one the manifest vouches for.
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

/// The length of the body a 206 answer carries, counted from the first byte of the part (or of
/// the file): 0 when its Content-Range is not exactly the range asked for.
std::uint64_t RangeBodyEnd(kvo::CHttpFile& request, const EntryRoad& road, const Body& body,
                           const TransferState& state)
{
    std::string rangeText;
    std::uint64_t first = 0, last = 0, fileTotal = 0;
    if (!request.QueryInfo(HTTP_QUERY_CONTENT_RANGE, rangeText) ||
        !ParseContentRange(rangeText, first, last, fileTotal) || first != road.partOffset + body.kept)
        return 0;
    if (road.IsPart())
        return fileTotal == road.partOfLength && last + 1 == road.partOffset + std::uint64_t{road.partLength}
                   ? road.partLength
                   : 0;
    return last + 1 == fileTotal && (state.total == 0 || fileTotal == state.total) ? fileTotal : 0;
}

/// Takes the response's status and lengths: `total` receives the whole body's length. False, with
/// `refusal` saying what follows, when the body is not the one asked for or its length cannot be
/// trusted. A 200 to a range request starts a file over; a part cannot be had without its range.
bool AcceptResponse(kvo::CHttpFile& request, const EntryRoad& road, Body& body, const TransferState& state,
                    std::uint32_t& total, AttemptResult& refusal)
{
    const bool resumed = body.kept > 0;
    DWORD status = 0;
    if (!request.QueryInfoStatusCode(status)) {
        refusal = RefusedStatus(0, resumed);
        return false;
    }
    std::uint64_t rangeTotal = 0;
    if (road.IsPart() && (status == HTTP_STATUS_PARTIAL_CONTENT || status == HTTP_STATUS_OK)) {
        rangeTotal = status == HTTP_STATUS_OK ? 0 : RangeBodyEnd(request, road, body, state);
        if (rangeTotal == 0) {
            refusal = {kErrorRangesIgnored, AttemptOutcome::fail};
            return false;
        }
    } else if (resumed && status == HTTP_STATUS_PARTIAL_CONTENT) {
        rangeTotal = RangeBodyEnd(request, road, body, state);
        if (rangeTotal == 0) {
            refusal = RefusedStatus(status, true);
            return false;
        }
    } else if (resumed && status == HTTP_STATUS_OK) {
        // A server without ranges sends it all.
        if (!body.StartOver()) {
            refusal = Failed(FileErrorCode(body.error));
            return false;
        }
    } else if (status != HTTP_STATUS_OK) {
        refusal = RefusedStatus(status, resumed);
        return false;
    }
    return AnnouncedTotal(request, road, body.kept, rangeTotal, total, refusal);
}

/// Limits of a download's GET: the policy's time-outs, the speed window bounding the way from
/// the request to the first body byte, and the speed floor under the body.
HttpLimits DownloadLimits(const UpdatePolicy& policy)
{
    HttpLimits limits;
    limits.connectTimeoutMs = policy.connectTimeoutMs;
    limits.connectRetries = policy.connectRetries;
    limits.sendTimeoutMs = policy.receiveTimeoutMs;
    limits.receiveTimeoutMs = policy.receiveTimeoutMs;
    limits.firstByteMs = policy.speedWindowMs;
    limits.speedWindowMs = policy.speedWindowMs;
    limits.speedFloorBytes = policy.speedFloorBytes;
    return limits;
}

/// The body into the temporary file, every byte hashed when the entry lists a hash to check, the
/// counters kept up to date.
class CBodySink final : public IHttpSink {
public:
    CBodySink(CUpdateEngine& engine, const EntryRoad& road, Body& body) : m_engine(engine), m_road(road), m_body(body) {}

    void OnBodyStarted() override { m_engine.m_log.WriteLog((kDownloadingPrefix + m_road.entry.FileName).c_str()); }

    void Write(const char* data, unsigned size) override
    {
        m_body.temp.File().Write(data, size);
        if (m_road.IsHashChecked())
            m_body.hash.Update(data, size);
        m_engine.m_nCurFileDone += size;
        m_engine.TellProgress();
    }

private:
    CUpdateEngine& m_engine;
    const EntryRoad& m_road;
    Body& m_body;
};

/// Reads the body into the temporary file. Done when exactly `total` bytes are there at the end.
/// More than `total` stops the transfer before it is written (for a length the manifest vouches
/// for, at once and for good), and so does a speed below the floor.
AttemptResult ReceiveBody(CUpdateEngine& engine, const EntryRoad& road, CHttpGet& get, Body& body, std::uint32_t total)
{
    CBodySink sink(engine, road, body);
    switch (get.ReadBody(sink, total - body.kept)) {
    case CHttpGet::BodyEnd::tooSlow:
        return {ERROR_INTERNET_TIMEOUT, AttemptOutcome::retry};
    case CHttpGet::BodyEnd::tooLong:
        return road.signedLength != 0 ? WrongHere(kErrorLengthMismatch)
                                      : AttemptResult{ERROR_HANDLE_EOF, AttemptOutcome::retry};
    case CHttpGet::BodyEnd::complete:
        break;
    }
    if (body.temp.File().GetLength() != total)
        return {ERROR_HANDLE_EOF, AttemptOutcome::retry};  // cut short: what came may be resumed
    return {};
}

/// The transfer itself: request, response, body. Done when the temporary file holds the whole
/// announced body.
AttemptResult Transfer(CUpdateEngine& engine, const EntryRoad& road, TransferState& state,
                       const kvo::ParsedUrl& url, Body& body)
{
    try {
        CHttpGet get(DownloadLimits(engine.m_policy));
        const std::uint64_t first = road.partOffset + body.kept;
        const std::uint64_t last = road.IsPart() ? road.partOffset + std::uint64_t{road.partLength} - 1 : 0;
        if (!get.Send(url, first, last))
            return {ERROR_INTERNET_TIMEOUT, AttemptOutcome::retry};
        std::uint32_t total = 0;
        AttemptResult refusal;
        if (!AcceptResponse(get.Response(), road, body, state, total, refusal))
            return refusal;
        // The old file stays until the commit: the new one needs room of its own.
        if (total - body.kept > FreeBytesFor(engine.m_staging.Area().ModuleDir()))
            return Failed(ERROR_DISK_FULL);
        state.total = total;
        engine.m_nCurFileSize = total;
        engine.m_nCurFileDone = static_cast<std::uint32_t>(body.kept);
        engine.TellProgress();
        return ReceiveBody(engine, road, get, body, total);
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
DWORD CheckReceivedFile(const EntryRoad& road, HANDLE file, const Sha256Digest& received)
{
    if (road.hashGiven && (!road.hashWellFormed || road.listed != received))
        return kErrorHashMismatch;
    if (road.replacesLauncher) {
        if (const DWORD refused = CheckReplacementLauncher(file, RunningLauncherImage()))
            return refused;
    }
    if (road.entry.FileVersion.empty() || road.isPackage)
        return ERROR_SUCCESS;
    std::string version;
    if (FAILED(GetFileVersionString(file, version)) || CompareVersionTexts(road.entry.FileVersion, version) > 0 ||
        !IsWholeModuleImage(file))
        return kErrorVersionMismatch;
    return ERROR_SUCCESS;
}

/// The folder of `target`, with its trailing separator.
std::string FolderOf(const std::string& target)
{
    return target.substr(0, target.find_last_of('\\') + 1);
}

/// Hands the complete, checked temporary file to the engine's staging: a package is unpacked from
/// it, entry by entry (and stays staged itself, whole, for a later run that needs it again); the
/// launcher's own file and any other file are staged as they are.
AttemptResult PutInPlace(CUpdateEngine& engine, const EntryRoad& road, CTempFileBeside& temp)
{
    if (road.isPackage) {
        kvo::CFile package;
        temp.HandOver(package);
        std::string problem;
        PackageIndex contents;  // kept for the next update's changed range, when the manifest lists its hash
        if (!InstallPackage(package, FolderOf(road.target), problem, engine.m_staging,
                            road.entry.Index.empty() ? nullptr : &contents)) {
            engine.MarkRunFailed(ERROR_INSTALL_FAILURE);
            engine.m_log.WriteLog((road.entry.FileName + kPackageProblemInfix + problem).c_str());
        } else if (!road.entry.Index.empty()) {
            StageKeptIndex(engine, road, contents);
        }
        return {};
    }
    kvo::CFileException fileError(kvo::CFileException::none, 0, temp.TargetPath());
    const auto kind = road.replacesLauncher ? IFileCommit::Kind::launcher : IFileCommit::Kind::file;
    if (!engine.m_staging.Commit(temp, kind, kNoAttributeWord, fileError))
        return Failed(FileErrorCode(fileError));
    return {};
}

/// After a whole body: checks it through the handle that wrote it, and stages it (or gives it to
/// `taker`).
AttemptResult Finish(CUpdateEngine& engine, const EntryRoad& road, Body& body, IReceivedBody* taker)
{
    if (const DWORD mismatch = CheckReceivedFile(road, body.temp.File().GetHandle(), body.hash.Finish())) {
        // Bytes pieced together from attempts may be the fault: one more fetch from the start. A
        // whole body that is not the file is this server's fault.
        if (mismatch != kErrorHashMismatch)
            return Failed(mismatch);
        return body.kept > 0 ? AttemptResult{mismatch, AttemptOutcome::retryFromStart} : WrongHere(mismatch);
    }
    return taker ? taker->Take(body.temp) : PutInPlace(engine, road, body.temp);
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

AttemptResult StageReceivedFile(CUpdateEngine& engine, const EntryRoad& road, CTempFileBeside& body,
                                const Sha256Digest& received)
{
    if (const DWORD mismatch = CheckReceivedFile(road, body.File().GetHandle(), received))
        return Failed(mismatch);
    return PutInPlace(engine, road, body);
}

AttemptResult DownloadAttempt(CUpdateEngine& engine, const EntryRoad& road, const std::string& address,
                              TransferState& state, IReceivedBody* taker)
{
    if (road.refusal != ERROR_SUCCESS)
        return Failed(road.refusal);
    kvo::ParsedUrl url;
    if (!kvo::ParseURL(address, url) || (url.scheme != INTERNET_SCHEME_HTTP && url.scheme != INTERNET_SCHEME_HTTPS))
        return WrongHere(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    // The file's folder is the installation's: a download makes none (a package's entries do).
    if (::GetFileAttributesA(FolderOf(road.target).c_str()) == INVALID_FILE_ATTRIBUTES)
        return Failed(ERROR_PATH_NOT_FOUND);
    std::string tempPath;
    if (const DWORD refused = engine.m_staging.TempPathFor(road.target, tempPath))
        return Failed(refused);
    Body body(road.target, tempPath);
    if (!OpenBody(road, state, body))
        return Failed(FileErrorCode(body.error));
    // Staged whole by an earlier run: checked again, nothing to fetch.
    if (body.kept != 0 && body.kept == road.signedLength)
        return Finish(engine, road, body, taker);
    const AttemptResult transfer = Transfer(engine, road, state, url, body);
    if (transfer.outcome == AttemptOutcome::done)
        return Finish(engine, road, body, taker);
    // The bytes that came stay for the next attempt (or the next start) to resume.
    if (road.IsHashChecked() && transfer.outcome == AttemptOutcome::retry && body.temp.File().IsOpen() &&
        body.temp.File().GetLength() > 0)
        body.temp.Keep();
    return transfer;
}
