// One attempt of a download, never at the cost of the file it replaces: the body goes to a
// temporary file beside the target, which is moved over the target only when it holds exactly
// the announced length, its SHA-256 and, for a module, its version. A package is installed from
// that temporary file. An entry with a SHA-256 keeps the bytes of a cut attempt for the next.
#include "update/DownloadAttempt.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "app/KvoLauncherApp.h"
#include "app/KvoLauncherDlg.h"
#include "framework/Internet.h"
#include "support/PathGuard.h"
#include "support/ReplaceFile.h"
#include "support/Sha256.h"
#include "update/Download.h"
#include "support/PeImage.h"
#include "update/FileCheck.h"
#include "update/LauncherCheck.h"
#include "update/PackageInstall.h"
#include "update/SelfUpdate.h"

namespace {

constexpr DWORD kConnectTimeoutMs = 2000;
constexpr DWORD kConnectRetries = 1;
constexpr unsigned kBlockSize = 10240;
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

/// The request for `url`, sent with `headers`; raises CInternetException for everything that
/// fails on the way.
std::unique_ptr<kvo::CHttpFile> SendRequest(kvo::CInternetSession& session,
                                            std::unique_ptr<kvo::CHttpConnection>& connection,
                                            const kvo::ParsedUrl& url, const std::string& headers)
{
    connection = session.GetHttpConnection(url.server, url.port);
    // https means TLS to the port the address implies, with the certificate checked as usual.
    const DWORD flags = kRequestFlags | (url.scheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    std::unique_ptr<kvo::CHttpFile> request = connection->OpenRequest("GET", url.object, flags);
    // Set on the request itself too: Wine's WinINet does not pass the session's values down to it.
    DWORD timeoutMs = DownloadReceiveTimeoutMs();
    for (const DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        ::InternetSetOptionA(request->GetHandle(), option, &timeoutMs, sizeof timeoutMs);
    if (!request->SendRequest(headers))
        throw kvo::CInternetException(::GetLastError());
    return request;
}

/// Reads the body into `file` block by block, keeping the counters and the label up to date and
/// every byte hashed. True when exactly `announced` bytes came after the `kept` ones; more than
/// announced stops the transfer at once.
bool ReceiveBody(CKvoLauncherDlg& dialog, const UpdateFileEntry& entry, kvo::CHttpFile& request, kvo::CFile& file,
                 std::uint32_t kept, std::uint32_t announced, CSha256& hash)
{
    std::vector<char> buffer(kBlockSize);
    std::uint32_t received = kept;
    unsigned got = request.Read(buffer.data(), kBlockSize);
    dialog.m_log.WriteLog((kDownloadingPrefix + entry.FileName).c_str());
    while (got > 0) {
        if (got > announced - received)
            return false;
        file.Write(buffer.data(), got);
        hash.Update(buffer.data(), got);
        dialog.m_nCurFileDone += got;
        received += got;
        got = request.Read(buffer.data(), kBlockSize);
        const int count = dialog.m_nFileCount;
        dialog.m_lblProgress.SetWindowText(
            DownloadProgressText(received, announced, count - dialog.m_nFilesLeft, count).c_str());
    }
    return received == announced;
}

/// ERROR_SUCCESS when the received bytes are the file the entry describes: its SHA256 when it
/// has one, and for a module with a FileVersion, a version resource that the local check would
/// call current in an image that is whole. A module cut short by a wrong Content-Length fails
/// here even without a hash. A new copy of the running launcher must also be one that can run
/// here and trusts the same key.
DWORD CheckReceivedFile(const UpdateFileEntry& entry, const std::string& path, const Sha256Digest& received,
                        bool replacesLauncher)
{
    Sha256Digest expected;
    if (!entry.SHA256.empty() && (!ParseSha256Hex(entry.SHA256, expected) || expected != received))
        return kErrorHashMismatch;
    if (replacesLauncher) {
        if (const DWORD refused = CheckReplacementLauncher(path, RunningLauncherImage()))
            return refused;
    }
    if (entry.FileVersion.empty() || IsPackageFileName(entry.FileName))
        return ERROR_SUCCESS;
    std::string version;
    if (FAILED(GetFileVersionString(path, version)) || CompareVersionTexts(entry.FileVersion, version) > 0 ||
        !IsWholeModuleImage(path))
        return kErrorVersionMismatch;
    return ERROR_SUCCESS;
}

/// Puts the complete, checked temporary file in place: a package is installed from it, the
/// launcher's own file steps aside for it, any other file is replaced by it.
AttemptResult PutInPlace(CKvoLauncherDlg& dialog, const UpdateFileEntry& entry, CTempFileBeside& temp)
{
    kvo::CFileException fileError(kvo::CFileException::none, 0, temp.TargetPath());
    if (IsPackageFileName(entry.FileName)) {
        // Installed straight from the temporary file, which goes away with `temp`.
        std::string problem;
        if (!InstallPackage(temp.Path(), problem)) {
            dialog.m_bFailed = true;
            dialog.m_log.WriteLog((entry.FileName + kPackageProblemInfix + problem).c_str());
        }
        return {};
    }
    if (IsRunningProgram(temp.TargetPath())) {
        if (!ReplaceRunningProgram(temp.Path(), temp.TargetPath(), fileError))
            return Failed(FileErrorCode(fileError));
        temp.Keep();  // moved away already
        return {};
    }
    if (!temp.Commit(&fileError))
        return Failed(FileErrorCode(fileError));
    return {};
}

/// What a status that is not the one asked for means for the next attempt.
AttemptResult RefusedStatus(DWORD status, bool rangeAsked)
{
    // An unexpected answer to a range request starts the file over.
    if (rangeAsked)
        return {ERROR_HTTP_INVALID_SERVER_RESPONSE, AttemptOutcome::retryFromStart};
    return {ERROR_HTTP_INVALID_SERVER_RESPONSE,
            IsPassingHttpStatus(status) ? AttemptOutcome::retry : AttemptOutcome::fail};
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

AttemptResult DownloadAttempt(CKvoLauncherDlg& dialog, const UpdateFileEntry& entry, TransferState& state)
{
    // Refused before any request: a name that could write outside the installation directory,
    // or whose temporary file would not fit the path buffers.
    std::string target;
    if (!JoinUnderBase(theApp.m_strModuleDir, entry.FileName, target))
        return Failed(ERROR_INVALID_NAME);
    if (target.size() + std::strlen(CTempFileBeside::kSuffix) >= kPathBufferSize)
        return Failed(ERROR_FILENAME_EXCED_RANGE);
    kvo::ParsedUrl url;
    if (!kvo::ParseURL(entry.URL, url) || (url.scheme != INTERNET_SCHEME_HTTP && url.scheme != INTERNET_SCHEME_HTTPS))
        return Failed(ERROR_INTERNET_UNRECOGNIZED_SCHEME);

    // Only a file whose bytes can be checked at the end may be pieced together from attempts.
    Sha256Digest listed;
    const bool resumable = ParseSha256Hex(entry.SHA256, listed);
    CTempFileBeside temp(target);
    CSha256 hash;
    std::uint64_t kept = 0;
    kvo::CFileException fileError(kvo::CFileException::none, 0, temp.Path());
    // The temporary file (and its hash) from the first byte.
    const auto startOver = [&] {
        kept = 0;
        hash = CSha256();
        return temp.Open(&fileError);
    };
    if (resumable && state.resume) {
        if (!temp.OpenToResume(kept, &fileError))
            return Failed(FileErrorCode(fileError));
        try {
            temp.File().Seek(0, kvo::CFile::begin);
            HashFileRest(temp.File(), hash);  // leaves the file at its end, where the rest goes
        } catch (const kvo::CFileException&) {
            if (!startOver())  // kept bytes that cannot be read back are not kept
                return Failed(FileErrorCode(fileError));
        }
    } else if (!startOver()) {
        return Failed(FileErrorCode(fileError));
    }

    AttemptResult result;
    std::uint32_t announcedTotal = 0;
    try {
        kvo::CInternetSession session;
        session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
        session.SetOption(INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
        session.SetOption(INTERNET_OPTION_SEND_TIMEOUT, DownloadReceiveTimeoutMs());
        session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, DownloadReceiveTimeoutMs());
        char range[kRangeHeaderSize] = "";
        if (kept > 0)
            std::snprintf(range, sizeof range, kRangeHeaderFormat, static_cast<unsigned long long>(kept));
        std::unique_ptr<kvo::CHttpConnection> connection;
        const std::unique_ptr<kvo::CHttpFile> request = SendRequest(session, connection, url, range);

        DWORD status = 0;
        if (!request->QueryInfoStatusCode(status))
            return RefusedStatus(0, kept > 0);
        std::uint64_t rangeTotal = 0;
        if (kept > 0 && status == HTTP_STATUS_PARTIAL_CONTENT) {
            std::string rangeText;
            std::uint64_t first = 0, last = 0;
            if (!request->QueryInfo(HTTP_QUERY_CONTENT_RANGE, rangeText) ||
                !ParseContentRange(rangeText, first, last, rangeTotal) || first != kept || last + 1 != rangeTotal ||
                (state.total != 0 && rangeTotal != state.total))
                return RefusedStatus(status, true);
        } else if (kept > 0 && status == HTTP_STATUS_OK) {
            // A server without ranges sends it all: start the file over.
            if (!startOver())
                return Failed(FileErrorCode(fileError));
        } else if (status != HTTP_STATUS_OK) {
            return RefusedStatus(status, kept > 0);
        }
        // Without a trustworthy length a complete body cannot be told from a cut one.
        std::string lengthText;
        std::uint32_t announced = 0;
        if (!request->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, lengthText) || !ParseAnnouncedLength(lengthText, announced) ||
            kept + announced > static_cast<std::uint64_t>(INT32_MAX) ||
            (rangeTotal != 0 && kept + announced != rangeTotal))
            return Failed(ERROR_HTTP_INVALID_HEADER);
        announcedTotal = static_cast<std::uint32_t>(kept + announced);
        state.total = announcedTotal;
        dialog.m_nCurFileSize = announcedTotal;
        dialog.m_nCurFileDone = static_cast<std::uint32_t>(kept);
        if (!ReceiveBody(dialog, entry, *request, temp.File(), static_cast<std::uint32_t>(kept), announcedTotal, hash) ||
            temp.File().GetLength() != announcedTotal) {
            result = {ERROR_HANDLE_EOF, AttemptOutcome::retry};
        }
    } catch (const kvo::CInternetException& error) {
        result = {error.m_dwError, IsPassingTransferError(error.m_dwError) ? AttemptOutcome::retry : AttemptOutcome::fail};
    } catch (const kvo::CFileException& error) {
        return Failed(FileErrorCode(error));
    } catch (const std::bad_alloc&) {
        return Failed(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const kvo::CException&) {
        return Failed(ERROR_GEN_FAILURE);
    }
    if (result.outcome != AttemptOutcome::done) {
        // The bytes that came stay for the next attempt (or the next start) to resume.
        if (resumable && result.outcome == AttemptOutcome::retry && temp.File().IsOpen() &&
            temp.File().GetLength() > 0)
            temp.Keep();
        return result;
    }

    // A launcher's bytes are on the disk before the renames that make it the program.
    const bool replacesLauncher = IsRunningProgram(temp.TargetPath());
    try {
        if (replacesLauncher)
            temp.File().Flush();
        // Closed first: the version resource is read through a handle of the system's own.
        temp.File().Close();
    } catch (const kvo::CFileException& error) {
        return Failed(FileErrorCode(error));
    }
    if (const DWORD mismatch = CheckReceivedFile(entry, temp.Path(), hash.Finish(), replacesLauncher)) {
        // Bytes pieced together from attempts may be the fault: one more fetch from the start.
        return {mismatch, kept > 0 && mismatch == kErrorHashMismatch ? AttemptOutcome::retryFromStart
                                                                       : AttemptOutcome::fail};
    }
    return PutInPlace(dialog, entry, temp);
}
