#include "update/ManifestFetch.h"

#include <cstdio>
#include <memory>

#include "framework/BoundedWork.h"
#include "framework/Internet.h"
#include "update/UpdateEngine.h"

namespace {

constexpr DWORD kConnectTimeoutMs = 0;  // the platform's own meaning: the attempt ends either way
constexpr DWORD kSendTimeoutMs = 1000;
constexpr DWORD kReceiveTimeoutMs = 2000;
constexpr DWORD kConnectRetries = 2;
// Always from the server, and never copied into the system's internet cache, which lies outside
// the installation directory.
constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_ASCII | INTERNET_FLAG_NO_CACHE_WRITE;

// A manifest lists a few hundred files at most; a body beyond this is not one.
constexpr std::size_t kMaxManifestBytes = 8u << 20;
constexpr std::size_t kReadBlockSize = 4096;
constexpr unsigned kErrorTextBufferSize = 200;
constexpr std::size_t kLogLineSize = kErrorTextBufferSize + 32;  // the number, two blanks, the text

/// One transfer, shared by the waiting thread and the worker that performs it.
struct FetchJob final : kvo::CBoundedWork {
    void Run() noexcept override;

    std::string url;
    std::string body;
    bool complete = false;
    DWORD error = 0;
    char message[kErrorTextBufferSize] = {};
};

void LogError(CUpdateEngine& engine, DWORD error, const char* message)
{
    char line[kLogLineSize];
    std::snprintf(line, sizeof line, "%d  %s", static_cast<int>(error), message);
    engine.m_log.WriteLog(line);
}

/// Reads the whole body; a body too large for a manifest fails like a broken transfer.
std::string ReadBody(kvo::CInternetFile& file)
{
    std::string body;
    char block[kReadBlockSize];
    for (;;) {
        const unsigned got = file.Read(block, sizeof block);
        if (got == 0)
            return body;
        if (body.size() + got > kMaxManifestBytes)
            throw kvo::CInternetException(ERROR_FILE_TOO_LARGE);
        body.append(block, got);
    }
}

/// The GET itself, with the session's time-outs and retries, in the order the server side expects.
void FetchJob::Run() noexcept
{
    try {
        kvo::CInternetSession session;
        session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
        session.SetOption(INTERNET_OPTION_SEND_TIMEOUT, kSendTimeoutMs);
        session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs);
        session.SetOption(INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
        std::unique_ptr<kvo::CInternetFile> file = session.OpenURL(url, kOpenFlags);
        if (!file)
            return;
        body = ReadBody(*file);
        file->Close();
        session.Close();
        complete = true;
    } catch (const kvo::CInternetException& failure) {
        // The response object and the session were closed as the stack unwound.
        error = failure.m_dwError;
        failure.GetErrorMessage(message, sizeof message);
    } catch (const std::exception&) {
        // Nothing may escape a worker: this host's manifest is simply not had.
        const kvo::CInternetException failed(ERROR_NOT_ENOUGH_MEMORY);
        error = failed.m_dwError;
        failed.GetErrorMessage(message, sizeof message);
    }
}

}  // namespace

std::string JoinBodyLines(const std::string& body)
{
    std::string text;
    text.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\n')
            continue;
        if (c == '\r' && (i + 1 == body.size() || body[i + 1] == '\n'))
            continue;
        text.push_back(c);
    }
    return text;
}

bool FetchManifest(CUpdateEngine& engine, std::string url, std::string& body)
{
    body.clear();
    const auto job = std::make_shared<FetchJob>();
    job->url = std::move(url);
    if (!kvo::RunBounded(job, engine.m_policy.manifestDeadlineMs)) {
        // The worker is left to end on its own; what it still produces is dropped with the job.
        const kvo::CInternetException timedOut(ERROR_INTERNET_TIMEOUT);
        char message[kErrorTextBufferSize] = {};
        timedOut.GetErrorMessage(message, sizeof message);
        LogError(engine, timedOut.m_dwError, message);
        return false;
    }
    if (job->error != 0) {
        LogError(engine, job->error, job->message);
        return false;
    }
    if (!job->complete)
        return false;
    body = std::move(job->body);
    return true;
}
