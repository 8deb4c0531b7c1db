// One download against the loopback test server: the body lands in place only when complete, a
// failure of any kind leaves the old file byte for byte, and nothing is written outside the
// program directory.
#include <gtest/gtest.h>

#include "ManifestTestSupport.h"
#include "RunTestSupport.h"
#include "ZipBuilder.h"
#include "resources/resource.h"
#include "update/Download.h"

namespace {

const std::string kOldContent = "the old module, which must survive every failed download";
// Short enough that each silent server costs a test two seconds, not the shipped half minute.
constexpr DWORD kTestReceiveTimeoutMs = 2000;

/// The test server's log line of the request whose text holds `marker`; "" when there is none.
std::string RequestLogLineWith(const std::string& marker)
{
    const std::string log = TestServerRequestLog();
    const std::size_t at = log.find(marker);
    if (at == std::string::npos)
        return std::string();
    const std::size_t start = log.rfind('\n', at);
    const std::size_t begin = start == std::string::npos ? 0 : start + 1;
    return log.substr(begin, log.find('\n', at) - begin);
}

struct Download : ::testing::Test {
    DialogWindow window{false};
    CKvoLauncherDlg& dialog = window.dialog();
    bool result = false;

    // One attempt per download unless a test asks for retries (then with short waits).
    Download()
    {
        SetDownloadReceiveTimeoutForTesting(kTestReceiveTimeoutMs);
        SetDownloadRetriesForTesting(0, 0);
    }
    ~Download() override
    {
        SetDownloadReceiveTimeoutForTesting(0);
        SetDownloadRetriesForTesting(kDownloadRetries, 0);
    }

    bool Run(const UpdateFileEntry& entry)
    {
        window.RunOnWorker([&] {
            result = dialog.DownloadFile(entry);
            lastError = ::GetLastError();
        });
        return result;
    }
    DWORD lastError = 0;  ///< the worker's last error right after the download
    std::string Path(const std::string& relative) const { return window.dir() / relative; }
};

TEST_F(Download, BodyArrivesInBlocksOfAFreshGetAndTheLabelFollowsEachOne)
{
    constexpr int kFileCount = 5;
    constexpr int kFilesLeft = 3;
    dialog.m_nFileCount = kFileCount;
    dialog.m_nFilesLeft = kFilesLeft;
    WriteWholeFile(Path("a.dll"), kOldContent);

    ASSERT_TRUE(Run(Entry("a.dll", MarkedUrl("blocks", "size=25000"))));

    EXPECT_EQ(ReadWholeFile(Path("a.dll")), PatternBytes(25000));
    EXPECT_EQ(window.TextsOf(IDC_LBL_PROGRESS),
              (std::vector<std::string>{"40 %(2/5)", "81 %(2/5)", "100 %(2/5)"}));
    EXPECT_EQ(dialog.m_nCurFileSize.load(), 25000u);
    EXPECT_EQ(dialog.m_nCurFileDone.load(), 25000u);
    EXPECT_FALSE(dialog.m_bFailed);
    EXPECT_EQ(window.LogLines(), std::vector<std::string>{"正在下载 a.dll"});
    EXPECT_TRUE(TemporaryFilesBelow(window.dir().path()).empty());
    // A fresh GET, without a range of its own.
    const std::string line = RequestLogLineWith("marker=blocks&");
    ASSERT_FALSE(line.empty());
    EXPECT_NE(line.find("\"method\": \"GET\""), std::string::npos) << line;
    EXPECT_EQ(line.find("Range"), std::string::npos) << line;
}

struct FailedTransfer {
    const char* what;
    std::string url;
};

TEST_F(Download, EveryFailedTransferKeepsTheOldFileByteForByte)
{
    const std::vector<FailedTransfer> cases = {
        {"404", TestServerUrl("/gen?status=404&size=100")},
        {"500", TestServerUrl("/gen?status=500&size=100")},
        {"body shorter than announced", TestServerUrl("/gen?size=5000&length=9000")},
        {"no Content-Length", TestServerUrl("/gen?size=100&length=none")},
        {"Content-Length not a number", TestServerUrl("/gen?size=100&length=abc")},
        {"Content-Length with trailing text", TestServerUrl("/gen?size=100&length=100abc")},
        {"Content-Length negative", TestServerUrl("/gen?size=100&length=-1")},
        {"connection reset mid-body", TestServerUrl("/gen?size=40000&chunk=4000&reset_after=12000")},
        // Silent for longer than a test may wait: only the receive time-out can end these.
        {"server silent mid-body", TestServerUrl("/gen?size=40000&stall_after=10000&stall_for=300")},
        {"server silent before the headers", TestServerUrl("/gen?size=100&delay=300")},
        {"nothing listens", ClosedPortUrl()},
        {"not an address", "no address at all"},
        {"a scheme other than http", "ftp://127.0.0.1/a.dll"},
    };
    for (const FailedTransfer& transfer : cases) {
        SCOPED_TRACE(transfer.what);
        WriteWholeFile(Path("a.dll"), kOldContent);
        dialog.m_bFailed = false;
        EXPECT_FALSE(Run(Entry("a.dll", transfer.url)));
        EXPECT_NE(lastError, 0u) << "the run logs this number";
        EXPECT_TRUE(dialog.m_bFailed);
        EXPECT_EQ(ReadWholeFile(Path("a.dll")), kOldContent);
        EXPECT_EQ(TemporaryFilesBelow(window.dir().path()), std::vector<std::string>{});
    }
}

/// A download and the one path it decides: holding `content` when it succeeded, absent when not.
struct LandingCase {
    const char* what;
    const char* existing;  ///< a file there before the download ("" for none)
    const char* fileName;
    const char* query;
    bool ok;
    const char* path;
    std::string content;
};

TEST_F(Download, TheBodyLandsOnlyWhereItsNameSaysAndOnlyWhenComplete)
{
    const std::vector<LandingCase> cases = {
        {"announced length 0 with an empty body is an empty file", "empty.txt", "empty.txt", "size=0", true,
         "empty.txt", ""},
        {"a leftover temporary file of an interrupted run is overwritten", "a.dll.kvotmp", "a.dll", "size=3000", true,
         "a.dll", PatternBytes(3000)},
        {"a file in an existing sub-directory lands there", "", "sub/a.dll", "size=100", true, "sub\\a.dll",
         PatternBytes(100)},
        {"a failed new file leaves nothing behind", "", "new.dll", "size=5000&length=9000", false, "new.dll", ""},
        {"a file in a missing sub-directory creates no directory", "", "missing\\a.dll", "size=100", false,
         "missing", ""},
    };
    ::CreateDirectoryA(Path("sub").c_str(), nullptr);
    for (const LandingCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (*c.existing)
            WriteWholeFile(Path(c.existing), kOldContent);
        dialog.m_bFailed = false;
        EXPECT_EQ(Run(Entry(c.fileName, TestServerUrl(std::string("/gen?") + c.query))), c.ok);
        EXPECT_EQ(dialog.m_bFailed, !c.ok);
        EXPECT_EQ(FileExists(Path(c.path)), c.ok);
        EXPECT_EQ(ReadWholeFile(Path(c.path)), c.content);
        EXPECT_EQ(TemporaryFilesBelow(window.dir().path()), std::vector<std::string>{});
    }
}

TEST_F(Download, HttpsIsTlsAndAnUntrustedCertificateIsRefused)
{
    WriteWholeFile(Path("a.dll"), kOldContent);
    EXPECT_FALSE(Run(Entry("a.dll", TlsServerUrl("/a.dll"))));
    EXPECT_TRUE(dialog.m_bFailed);
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
        "..\\outside.dll",         "../outside.dll",  "sub\\..\\..\\outside.dll", "C:\\outside.dll",
        "C:outside.dll",           "\\outside.dll",   "/outside.dll",             "\\\\host\\share\\outside.dll",
        std::string(300, 'n'),     "",
    };
    ::CreateDirectoryA(Path("sub").c_str(), nullptr);
    int marker = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        dialog.m_bFailed = false;
        const std::string tag = "refused" + std::to_string(++marker);
        EXPECT_FALSE(Run(Entry(name, MarkedUrl(tag, "size=10"))));
        EXPECT_TRUE(dialog.m_bFailed);
        EXPECT_FALSE(Requested(tag)) << "a request was sent";
    }
    EXPECT_FALSE(FileExists(window.dir() / "..\\outside.dll"));
    EXPECT_FALSE(FileExists("C:\\outside.dll"));
}

TEST_F(Download, APackageThatFailsToInstallIsGoneAndFailsTheRunButNotTheDownload)
{
    WriteWholeFile(Path("top.txt"), kOldContent);
    std::string package = BuildZip({{"top.txt", "new top"}});
    package.resize(package.size() - 30);  // the central directory is cut: not an archive any more
    ASSERT_TRUE(Run(Entry("pack.zip", GeneratedBodyUrl(package))));
    EXPECT_TRUE(dialog.m_bFailed);
    EXPECT_EQ(ReadWholeFile(Path("top.txt")), kOldContent);
    EXPECT_FALSE(FileExists(Path("pack.zip")));
    EXPECT_TRUE(TemporaryFilesBelow(window.dir().path()).empty());
}

TEST_F(Download, ANameWhosePartAfterTheFirstDotIsNotExactlyZipIsAPlainFile)
{
    const std::string package = BuildZip({{"inside.txt", "inside"}});
    for (const char* name : {"pack.ZIP", "pack.tar.zip"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Run(Entry(name, GeneratedBodyUrl(package))));
        EXPECT_EQ(ReadWholeFile(Path(name)), package);
        EXPECT_FALSE(FileExists(Path("inside.txt")));
    }
}

/// A target the file system will not let the download replace.
struct BlockedTarget {
    const char* what;
    std::function<void(const std::string& dir)> arrange;
    std::function<void(const std::string& dir)> release;
    const char* fileName;
    const char* keptFile;  ///< a file whose old content must survive
};

TEST_F(Download, ATargetThatCannotBeReplacedFailsCleanly)
{
    kvo::unique_hfile holder;
    const std::vector<BlockedTarget> cases = {
        {"read-only target",
         [](const std::string& dir) {
             WriteWholeFile(dir + "a.dll", kOldContent);
             ::SetFileAttributesA((dir + "a.dll").c_str(), FILE_ATTRIBUTE_READONLY);
         },
         [](const std::string& dir) { ::SetFileAttributesA((dir + "a.dll").c_str(), FILE_ATTRIBUTE_NORMAL); },
         "a.dll", "a.dll"},
        {"target held open with no sharing",
         [&](const std::string& dir) {
             WriteWholeFile(dir + "a.dll", kOldContent);
             holder.reset(::CreateFileA((dir + "a.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
             ASSERT_TRUE(holder);
         },
         [&](const std::string&) { holder.reset(); }, "a.dll", "a.dll"},
        {"target is a directory",
         [](const std::string& dir) {
             ::CreateDirectoryA((dir + "plugins").c_str(), nullptr);
             WriteWholeFile(dir + "plugins\\keep.txt", kOldContent);
         },
         [](const std::string&) {}, "plugins", "plugins\\keep.txt"},
        {"a parent component is a file",
         [](const std::string& dir) { WriteWholeFile(dir + "data", kOldContent); },
         [](const std::string&) {}, "data\\a.dll", "data"},
    };
    for (const BlockedTarget& target : cases) {
        SCOPED_TRACE(target.what);
        const std::string dir = window.dir().path();
        target.arrange(dir);
        dialog.m_bFailed = false;
        EXPECT_FALSE(Run(Entry(target.fileName, TestServerUrl("/gen?size=5000"))));
        target.release(dir);
        EXPECT_TRUE(dialog.m_bFailed);
        EXPECT_EQ(ReadWholeFile(dir + target.keptFile), kOldContent);
        EXPECT_EQ(TemporaryFilesBelow(dir), std::vector<std::string>{});
    }
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
    for (const Case& c : std::vector<Case>{{"0", true, 0},
                                           {"25000", true, 25000},
                                           {"2147483647", true, 2147483647u},
                                           {"2147483648", false, 0},
                                           {"99999999999", false, 0},
                                           {"", false, 0},
                                           {"-1", false, 0},
                                           {"+5", false, 0},
                                           {"12abc", false, 0},
                                           {"abc", false, 0}}) {
        SCOPED_TRACE(c.text);
        std::uint32_t length = 0;
        EXPECT_EQ(ParseAnnouncedLength(c.text, length), c.ok);
        if (c.ok) {
            EXPECT_EQ(length, c.length);
        }
    }
}

}  // namespace
