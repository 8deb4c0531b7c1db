#include "update/ManifestFetch.h"

#include <cstdio>
#include <memory>

#include "framework/BoundedWork.h"
#include "framework/Internet.h"
#include "update/HttpGet.h"
#include "update/UpdateEngine.h"

namespace {

constexpr DWORD kConnectTimeoutMs = 0;  // the platform's own meaning: the attempt ends either way
constexpr DWORD kSendTimeoutMs = 1000;
constexpr DWORD kReceiveTimeoutMs = 2000;
constexpr DWORD kConnectRetries = 2;

// A manifest lists a few hundred files at most; a body beyond this is not one.
constexpr std::size_t kMaxManifestBytes = 8u << 20;
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

/// The body as text, byte for byte.
class CTextSink final : public IHttpSink {
public:
    explicit CTextSink(std::string& text) : m_text(text) {}
    void Write(const char* data, unsigned size) override { m_text.append(data, size); }

private:
    std::string& m_text;
};

/// The manifest's own time-outs, shorter than a download's: start-up waits for it. The whole
/// fetch is bounded by the engine's manifest deadline.
HttpLimits ManifestLimits()
{
    HttpLimits limits;
    limits.connectTimeoutMs = kConnectTimeoutMs;
    limits.connectRetries = kConnectRetries;
    limits.sendTimeoutMs = kSendTimeoutMs;
    limits.receiveTimeoutMs = kReceiveTimeoutMs;
    return limits;
}

/// The GET itself: the body whatever the status, at most a manifest's size.
void FetchJob::Run() noexcept
{
    try {
        kvo::ParsedUrl parts;
        if (!kvo::ParseURL(url, parts))
            throw kvo::CInternetException(ERROR_INTERNET_INVALID_URL);
        CHttpGet get(ManifestLimits());
        get.Send(parts);
        CTextSink sink(body);
        if (get.ReadBody(sink, kMaxManifestBytes) != CHttpGet::BodyEnd::complete)
            throw kvo::CInternetException(ERROR_FILE_TOO_LARGE);
        complete = true;
    } catch (const kvo::CInternetException& failure) {
        // The request and its session were closed as the stack unwound.
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
