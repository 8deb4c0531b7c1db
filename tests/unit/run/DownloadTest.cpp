// One download against the loopback test server: the body lands in place only when complete, a
// failure of any kind leaves the old file byte for byte, and nothing is written outside the
// program directory.
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "framework/Handles.h"
#include "framework/Thread.h"
#include "app/RunStatus.h"
#include "update/DownloadAttempt.h"
#include "update/UpdateErrors.h"
#include "support/Sha256.h"

namespace {

const std::string kOldContent = "the old module, which must survive every failed download";
// Short enough that each silent server costs a test two seconds, not the shipped half minute.
constexpr DWORD kTestReceiveTimeoutMs = 2000;

/// `retries` more tries of a download that failed for a reason that may pass, with waits of a
/// millisecond, and a short receive time-out.
UpdatePolicy TestPolicy(unsigned retries)
{
    UpdatePolicy policy = UpdatePolicy::Shipped();
    policy.retries = retries;
    policy.secondMs = 1;
    policy.receiveTimeoutMs = kTestReceiveTimeoutMs;
    return policy;
}

struct Download : ::testing::Test {
    EngineHarness installation{TestPolicy(0)};  // one attempt per download unless a test asks for more
    CUpdateEngine& engine = installation.engine();
    bool result = false;

    bool Run(const UpdateFileEntry& entry) { return Run(installation, entry); }
    bool Run(EngineHarness& on, const UpdateFileEntry& entry)
    {
        lastError = on.Download(entry);
        result = lastError == ERROR_SUCCESS;
        return result;
    }
    DWORD lastError = 0;  ///< what the download ended with
    std::string Path(const std::string& relative) const { return installation.dir() / relative; }
};

/// A download and the one path it decides: holding `content` afterwards ("" and absent when the
/// download failed and there was nothing before).
struct DownloadCase {
    const char* what;
    const char* fileName;
    std::string url;
    bool ok;
    const char* path;
    std::string content;
};

TEST_F(Download, TheBodyLandsOnlyWhereItsNameSaysAndOnlyWhenComplete)
{
    const auto gen = [](const char* query) { return TestServerUrl(std::string("/gen?") + query); };
    const std::vector<DownloadCase> cases = {
        {"404", "a.dll", gen("status=404&size=100"), false, "a.dll", kOldContent},
        {"body shorter than announced", "a.dll", gen("size=5000&length=9000"), false, "a.dll", kOldContent},
        {"no Content-Length", "a.dll", gen("size=100&length=none"), false, "a.dll", kOldContent},
        {"chunked, with no length the manifest vouches for", "a.dll", gen("size=100&chunked=1"), false, "a.dll",
         kOldContent},
        {"connection reset mid-body", "a.dll", gen("size=40000&chunk=4000&reset_after=12000"), false, "a.dll",
         kOldContent},
        // Silent for longer than a test may wait: only the receive time-out can end these.
        {"server silent mid-body", "a.dll", gen("size=40000&stall_after=10000&stall_for=300"), false, "a.dll",
         kOldContent},
        {"server silent before the headers", "a.dll", gen("size=100&delay=300"), false, "a.dll", kOldContent},
        {"nothing listens", "a.dll", ClosedPortUrl(), false, "a.dll", kOldContent},
        {"a scheme other than http", "a.dll", "ftp://127.0.0.1/a.dll", false, "a.dll", kOldContent},
        {"an empty body announced as such is an empty file", "empty.txt", gen("size=0"), true, "empty.txt", ""},
        {"a file in an existing sub-directory lands there", "sub/a.dll", gen("size=100"), true, "sub\\a.dll",
         PatternBytes(100)},
        {"a failed new file leaves nothing behind", "new.dll", gen("size=5000&length=9000"), false, "new.dll", ""},
        {"a missing sub-directory is not made", "missing\\a.dll", gen("size=100"), false, "missing", ""},
    };
    ::CreateDirectoryA(Path("sub").c_str(), nullptr);
    WriteWholeFile(Path("empty.txt"), kOldContent);
    for (const DownloadCase& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(Path("a.dll"), kOldContent);
        engine.m_bFailed = false;
        EXPECT_EQ(Run(Entry(c.fileName, c.url)), c.ok);
        EXPECT_EQ(engine.m_bFailed, !c.ok);
        EXPECT_TRUE(c.ok || lastError != 0) << "the run logs this number";
        EXPECT_EQ(FileExists(Path(c.path)), c.ok || !c.content.empty());
        EXPECT_EQ(ReadWholeFile(Path(c.path)), c.content);
        EXPECT_EQ(TemporaryFilesBelow(installation.dir().path()), std::vector<std::string>{});
    }
}

/// An entry whose manifest vouches for its bytes and length: `size` bytes of the test pattern.
UpdateFileEntry SignedEntry(const std::string& url, std::size_t size)
{
    UpdateFileEntry entry = Entry("a.bin", url);
    const std::string body = PatternBytes(size);
    entry.SHA256 = Sha256Hex(CSha256::Of(body.data(), body.size()));
    entry.Length = static_cast<int>(size);
    return entry;
}

TEST_F(Download, ALengthTheManifestVouchesForIsTheOnlyOneTakenAndChunkedBodiesAreReadToIt)
{
    constexpr std::size_t kSize = 30000;
    const struct {
        const char* what;
        const char* query;  ///< of a /gen address with a marker
        bool ok;
        DWORD error;
    } cases[] = {
        {"another Content-Length", "size=30000&length=29999", false, kErrorLengthMismatch},
        {"a chunked body longer than the signed length", "size=40000&chunked=1&chunk=10000", false,
         kErrorLengthMismatch},
        {"a chunked body of the signed length and hash", "size=30000&chunked=1&chunk=10000", true, ERROR_SUCCESS},
    };
    EngineHarness retrying{TestPolicy(kDownloadRetries)};  // a refusal that were retried would show in the requests
    const std::string target = retrying.dir() / "a.bin";
    int marker = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(target, kOldContent);
        const std::string tag = "signed" + std::to_string(++marker);
        EXPECT_EQ(Run(retrying, SignedEntry(MarkedUrl(tag, c.query), kSize)), c.ok);
        EXPECT_EQ(ReadWholeFile(target), c.ok ? PatternBytes(kSize) : kOldContent);
        EXPECT_TRUE(c.ok || lastError == c.error) << lastError;
        EXPECT_EQ(RequestsWith(tag).size(), 1u);
        EXPECT_EQ(TemporaryFilesBelow(retrying.dir().path()), std::vector<std::string>{});
    }
}

TEST_F(Download, HttpsIsTlsAndAnUntrustedCertificateIsRefused)
{
    WriteWholeFile(Path("a.dll"), kOldContent);
    EXPECT_FALSE(Run(Entry("a.dll", TlsServerUrl("/a.dll"))));
    EXPECT_TRUE(engine.m_bFailed);
    EXPECT_EQ(ReadWholeFile(Path("a.dll")), kOldContent);
    // The listener logs each connection once its handshake is over.
    const ULONGLONG deadline = ::GetTickCount64() + kRunBoundMs;
    std::string log;
    while ((log = TestServerRequestLog()).find("tls_client_hello") == std::string::npos &&
           ::GetTickCount64() < deadline)
        ::Sleep(50);
    EXPECT_NE(log.find("\"tls_client_hello\": true"), std::string::npos) << log;
    EXPECT_EQ(log.find("\"tls_client_hello\": false"), std::string::npos) << "plain HTTP reached the TLS port";
    EXPECT_EQ(log.find("\"handshake\": \"ok\""), std::string::npos) << "the certificate must not be trusted";
}

TEST_F(Download, NamesThatCouldLeaveTheInstallationAreRefusedBeforeAnyRequest)
{
    const std::vector<std::string> names = {
        "..\\outside.dll", "../outside.dll", "sub\\..\\..\\outside.dll", "C:\\outside.dll", std::string(300, 'n'), "",
    };
    ::CreateDirectoryA(Path("sub").c_str(), nullptr);
    int marker = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        engine.m_bFailed = false;
        const std::string tag = "refused" + std::to_string(++marker);
        EXPECT_FALSE(Run(Entry(name, MarkedUrl(tag, "size=10"))));
        EXPECT_TRUE(engine.m_bFailed);
        EXPECT_TRUE(RequestsWith(tag).empty()) << "a request was sent";
    }
    EXPECT_FALSE(FileExists(installation.dir() / "..\\outside.dll"));
}

struct WorkerDownload {
    CUpdateEngine* engine;
    UpdateFileEntry entry;
    bool ok = false;
    kvo::unique_handle done{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

unsigned RunWorkerDownload(void* param)
{
    auto* job = static_cast<WorkerDownload*>(param);
    job->ok = job->engine->DownloadFile(job->entry) == ERROR_SUCCESS;
    ::SetEvent(job->done.get());
    return 0;
}

// Far longer than the download takes, far shorter than a test's bound: a worker that waits for
// the window's thread (here busy, running no messages) would still be waiting.
constexpr DWORD kUnansweredWindowMs = 20000;

TEST(DownloadWindow, TheWorkerNeverWaitsForTheWindowWhoseLabelsFollowTheRun)
{
    DialogWindow window{false};
    CKvoLauncherDlg& dialog = window.dialog();
    CUpdateEngine& engine = window.engine();
    engine.m_nFileCount = 1;
    engine.m_nFilesLeft = 0;
    engine.TellCurrentFile("a.dll");
    WorkerDownload job{&engine, Entry("a.dll", TestServerUrl("/gen?size=30000&chunk=10000"))};
    ASSERT_TRUE(kvo::BeginWorkerThread(RunWorkerDownload, &job));
    const bool finished = ::WaitForSingleObject(job.done.get(), kUnansweredWindowMs) == WAIT_OBJECT_0;
    window.RunOnWorker([&] { ::WaitForSingleObject(job.done.get(), INFINITE); });  // runs the window's messages
    EXPECT_TRUE(finished) << "the download waited for the window's thread";
    EXPECT_TRUE(job.ok);
    EXPECT_EQ(dialog.m_lblFileName.GetWindowText(), "a.dll");
    EXPECT_EQ(dialog.m_lblProgress.GetWindowText(), "100 %(1/1)");
}

TEST(DownloadText, PercentIsTheWholePartWithoutOverflow)
{
    EXPECT_EQ(DownloadProgressText(10240, 25000, 2, 5), "40 %(2/5)");
    EXPECT_EQ(DownloadProgressText(4294967295u, 4294967295u, 1, 1), "100 %(1/1)");
    EXPECT_EQ(DownloadProgressText(0, 0, 1, 3), "100 %(1/3)");
}

TEST(DownloadText, AnnouncedLengthIsDigitsOnlyAndFitsASigned32BitNumber)
{
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t length;
    };
    for (const Case& c : std::vector<Case>{{"0", true, 0}, {"2147483647", true, 2147483647u}, {"2147483648", false, 0},
                                           {"", false, 0}, {"-1", false, 0}, {"+5", false, 0}, {"12abc", false, 0}}) {
        SCOPED_TRACE(c.text);
        std::uint32_t length = 0;
        EXPECT_EQ(ParseAnnouncedLength(c.text, length), c.ok);
        EXPECT_TRUE(!c.ok || length == c.length);
    }
}

}  // namespace
