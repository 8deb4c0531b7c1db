// One manifest entry fetched over HTTP into its place, never at the cost of the file it replaces:
// the body goes to a temporary file beside the target, which is moved over the target only when
// it holds exactly the announced length. A package is installed from that temporary file.
#include "update/Download.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "app/KvoLauncherApp.h"
#include "app/KvoLauncherDlg.h"
#include "framework/Internet.h"
#include "support/PathGuard.h"
#include "support/ReplaceFile.h"
#include "support/Sha256.h"
#include "update/FileCheck.h"
#include "update/PackageInstall.h"

namespace {

constexpr DWORD kConnectTimeoutMs = 2000;
constexpr DWORD kConnectRetries = 1;
constexpr unsigned kBlockSize = 10240;
constexpr std::uint64_t kPercent = 100;
constexpr std::size_t kMaxLengthDigits = 10;  // INT32_MAX has ten
constexpr unsigned kDecimalBase = 10;
constexpr std::size_t kProgressTextSize = 64;

// Always from the server, and never copied into the system's internet cache: the body belongs in
// the installation directory and nowhere else.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

const char kDownloadingPrefix[] = "正在下载 ";

std::atomic<DWORD> g_receiveTimeoutMs{kDownloadReceiveTimeoutMs};

/// The error code a failed file operation leaves; a generic one when the system gave none.
DWORD FileErrorCode(const kvo::CFileException& error)
{
    return error.m_lOsError > 0 ? static_cast<DWORD>(error.m_lOsError) : ERROR_WRITE_FAULT;
}

/// The request for `url`, sent; raises CInternetException for everything that fails on the way.
std::unique_ptr<kvo::CHttpFile> SendRequest(kvo::CInternetSession& session,
                                            std::unique_ptr<kvo::CHttpConnection>& connection,
                                            const kvo::ParsedUrl& url)
{
    connection = session.GetHttpConnection(url.server, url.port);
    // https means TLS to the port the address implies, with the certificate checked as usual.
    const DWORD flags = kRequestFlags | (url.scheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    std::unique_ptr<kvo::CHttpFile> request = connection->OpenRequest("GET", url.object, flags);
    // Set on the request itself too: Wine's WinINet does not pass the session's values down to it.
    DWORD timeoutMs = g_receiveTimeoutMs;
    for (const DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        ::InternetSetOptionA(request->GetHandle(), option, &timeoutMs, sizeof timeoutMs);
    if (!request->SendRequest())
        throw kvo::CInternetException(::GetLastError());
    return request;
}

/// Reads the body into `file` block by block, keeping the counters and the label up to date and
/// every byte hashed. True when exactly `announced` bytes came; more than announced stops the
/// transfer at once.
bool ReceiveBody(CKvoLauncherDlg& dialog, const UpdateFileEntry& entry, kvo::CHttpFile& request, kvo::CFile& file,
                 std::uint32_t announced, CSha256& hash)
{
    std::vector<char> buffer(kBlockSize);
    std::uint32_t received = 0;
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
/// here even without a hash.
DWORD CheckReceivedFile(const UpdateFileEntry& entry, const std::string& path, const Sha256Digest& received)
{
    Sha256Digest expected;
    if (!entry.SHA256.empty() && (!ParseSha256Hex(entry.SHA256, expected) || expected != received))
        return kErrorHashMismatch;
    if (entry.FileVersion.empty() || IsPackageFileName(entry.FileName))
        return ERROR_SUCCESS;
    std::string version;
    if (FAILED(GetFileVersionString(path, version)) || CompareVersionTexts(entry.FileVersion, version) > 0 ||
        !IsWholeModuleImage(path))
        return kErrorVersionMismatch;
    return ERROR_SUCCESS;
}

/// The whole download of `entry`; ERROR_SUCCESS, or the error code that made it fail. A package
/// that failed to install is a success here, with m_bFailed raised.
DWORD DownloadEntry(CKvoLauncherDlg& dialog, const UpdateFileEntry& entry)
{
    // Refused before any request: a name that could write outside the installation directory,
    // or whose temporary file would not fit the path buffers.
    std::string target;
    if (!JoinUnderBase(theApp.m_strModuleDir, entry.FileName, target))
        return ERROR_INVALID_NAME;
    if (target.size() + std::strlen(CTempFileBeside::kSuffix) >= kPathBufferSize)
        return ERROR_FILENAME_EXCED_RANGE;
    kvo::ParsedUrl url;
    if (!kvo::ParseURL(entry.URL, url) || (url.scheme != INTERNET_SCHEME_HTTP && url.scheme != INTERNET_SCHEME_HTTPS))
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;

    try {
        kvo::CInternetSession session;
        session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
        session.SetOption(INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
        session.SetOption(INTERNET_OPTION_SEND_TIMEOUT, g_receiveTimeoutMs);
        session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, g_receiveTimeoutMs);
        std::unique_ptr<kvo::CHttpConnection> connection;
        const std::unique_ptr<kvo::CHttpFile> request = SendRequest(session, connection, url);

        DWORD status = 0;
        if (!request->QueryInfoStatusCode(status) || status != HTTP_STATUS_OK)
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        // Without a trustworthy length a complete body cannot be told from a cut one.
        std::string lengthText;
        std::uint32_t announced = 0;
        if (!request->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, lengthText) || !ParseAnnouncedLength(lengthText, announced))
            return ERROR_HTTP_INVALID_HEADER;

        CTempFileBeside temp(target);
        kvo::CFileException fileError(kvo::CFileException::none, 0, target);
        if (!temp.Open(&fileError))
            return FileErrorCode(fileError);
        dialog.m_nCurFileSize = announced;
        dialog.m_nCurFileDone = 0;
        CSha256 hash;
        if (!ReceiveBody(dialog, entry, *request, temp.File(), announced, hash) ||
            temp.File().GetLength() != announced)
            return ERROR_HANDLE_EOF;
        // Closed first: the version resource is read through a handle of the system's own.
        temp.File().Close();
        if (const DWORD mismatch = CheckReceivedFile(entry, temp.Path(), hash.Finish()))
            return mismatch;

        if (IsPackageFileName(entry.FileName)) {
            // Installed straight from the temporary file, which goes away with `temp`.
            if (!InstallPackage(temp.Path()))
                dialog.m_bFailed = true;
            return ERROR_SUCCESS;
        }
        if (!temp.Commit(&fileError))
            return FileErrorCode(fileError);
        return ERROR_SUCCESS;
    } catch (const kvo::CInternetException& error) {
        return error.m_dwError;
    } catch (const kvo::CFileException& error) {
        return FileErrorCode(error);
    } catch (const kvo::CException&) {
        return ERROR_GEN_FAILURE;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

void SetDownloadReceiveTimeoutForTesting(DWORD timeoutMs) noexcept
{
    g_receiveTimeoutMs = timeoutMs ? timeoutMs : kDownloadReceiveTimeoutMs;
}

std::string DownloadProgressText(std::uint32_t received, std::uint32_t announced, int position, int count)
{
    const std::uint64_t percent = announced ? std::uint64_t{received} * kPercent / announced : kPercent;
    char text[kProgressTextSize];
    std::snprintf(text, sizeof text, "%d %%(%d/%d)", static_cast<int>(percent), position, count);
    return text;
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

bool CKvoLauncherDlg::DownloadFile(UpdateFileEntry entry)
{
    const DWORD error = DownloadEntry(*this, entry);
    if (error == ERROR_SUCCESS)
        return true;
    m_bFailed = true;
    // The run logs this number; the handles closed on the way out must not have replaced it.
    ::SetLastError(error);
    return false;
}
