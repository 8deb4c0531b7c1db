// Downloads over a network that lets them down: retried after short waits when the failure may
// pass, resumed from the bytes already there when the entry's SHA-256 can check the result.
#include <gtest/gtest.h>

#include "ManifestTestSupport.h"
#include "RunTestSupport.h"
#include "support/Sha256.h"
#include "update/Download.h"

namespace {

const std::string kOldContent = "the old file, which survives every failed download";
constexpr std::size_t kSize = 50000;
constexpr DWORD kTestSecondMs = 10;  // the waits of 1, 2 and 4 "seconds" take 70 ms in all

/// Every line of the test server's log that holds `marker`, in order.
std::vector<std::string> RequestsWith(const std::string& marker)
{
    std::vector<std::string> lines;
    const std::string log = TestServerRequestLog();
    for (std::size_t at = 0; at < log.size();) {
        const std::size_t end = std::min(log.find('\n', at), log.size());
        const std::string line = log.substr(at, end - at);
        if (line.find("marker=" + marker + "&") != std::string::npos)
            lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

struct Retry : ::testing::Test {
    DialogWindow window{false};
    CKvoLauncherDlg& dialog = window.dialog();

    Retry() { SetDownloadRetriesForTesting(kDownloadRetries, kTestSecondMs); }
    ~Retry() override { SetDownloadRetriesForTesting(kDownloadRetries, 0); }

    /// Downloads `query` (a /gen address with `marker`) over a.bin, an entry that carries the
    /// SHA-256 of the pattern body of kSize bytes.
    bool Run(const std::string& marker, const std::string& query)
    {
        WriteWholeFile(window.dir() / "a.bin", kOldContent);
        UpdateFileEntry entry = Entry("a.bin", MarkedUrl(marker, query));
        const std::string body = PatternBytes(kSize);
        entry.SHA256 = Sha256Hex(CSha256::Of(body.data(), body.size()));
        bool result = false;
        window.RunOnWorker([&] { result = dialog.DownloadFile(entry); });
        return result;
    }
    std::vector<std::string> RetryLines()
    {
        std::vector<std::string> lines;
        for (const std::string& line : window.LogLines()) {
            if (line.find("下载失败") != std::string::npos)
                lines.push_back(line);
        }
        return lines;
    }
    void ExpectNewFile()
    {
        EXPECT_EQ(ReadWholeFile(window.dir() / "a.bin"), PatternBytes(kSize));
        EXPECT_EQ(TemporaryFilesBelow(window.dir().path()), std::vector<std::string>{});
    }
};

TEST_F(Retry, AConnectionDroppedAt40PercentResumesWithARangeForTheRest)
{
    ASSERT_TRUE(Run("drop", "size=50000&chunk=5000&reset_after=20000&id=drop&fail=1"));
    ExpectNewFile();
    EXPECT_EQ(RetryLines().size(), 1u);
    const std::vector<std::string> requests = RequestsWith("drop");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].find("Range"), std::string::npos);
    const std::size_t range = requests[1].find("\"Range\": \"bytes=");
    ASSERT_NE(range, std::string::npos) << requests[1];
    const unsigned long kept = std::stoul(requests[1].substr(range + 16));
    EXPECT_GT(kept, 0u);
    EXPECT_LE(kept, 20000u);
    EXPECT_EQ(dialog.m_nCurFileSize.load(), kSize) << "the bar counts the whole file";
    EXPECT_EQ(dialog.m_nCurFileDone.load(), kSize);
}

TEST_F(Retry, AServerThatIgnoresTheRangeStartsTheFileOver)
{
    ASSERT_TRUE(Run("ignore", "size=50000&chunk=5000&reset_after=20000&id=ignore&fail=1&range=ignore"));
    ExpectNewFile();
    EXPECT_EQ(RequestsWith("ignore").size(), 2u);
}

TEST_F(Retry, ARangeThatStartsElsewhereFailsTheAttemptAndTheNextStartsOver)
{
    ASSERT_TRUE(Run("shift", "size=50000&chunk=5000&reset_after=20000&id=shift&fail=1&range=shift"));
    ExpectNewFile();
    const std::vector<std::string> requests = RequestsWith("shift");
    ASSERT_EQ(requests.size(), 3u) << "cut, refused range, whole";
    EXPECT_NE(requests[1].find("Range"), std::string::npos);
    EXPECT_EQ(requests[2].find("Range"), std::string::npos);
}

TEST_F(Retry, AResumedFileWithTheWrongHashIsDiscardedAndFetchedOnceMoreWhole)
{
    ASSERT_TRUE(Run("corrupt", "size=50000&chunk=5000&reset_after=20000&id=corrupt&fail=1&range=corrupt"));
    ExpectNewFile();
    const std::vector<std::string> requests = RequestsWith("corrupt");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].find("Range"), std::string::npos);
    ASSERT_EQ(RetryLines().size(), 2u);
    EXPECT_NE(RetryLines()[1].find(std::to_string(kErrorHashMismatch)), std::string::npos);
}

TEST_F(Retry, AServerErrorThatPassesIsRetriedAndOneThatWillNotIsNot)
{
    ASSERT_TRUE(Run("busy", "size=50000&status=503&id=busy&fail=1"));
    ExpectNewFile();
    EXPECT_EQ(RequestsWith("busy").size(), 2u);

    EXPECT_FALSE(Run("gone", "size=50000&status=404"));
    EXPECT_EQ(RequestsWith("gone").size(), 1u);
    EXPECT_EQ(RetryLines().size(), 1u) << "only the 503 was retried";
}

TEST_F(Retry, FourFailuresInARowFailTheDownloadAndKeepTheOldFile)
{
    EXPECT_FALSE(Run("down", "size=50000&status=503"));
    EXPECT_EQ(RequestsWith("down").size(), 1u + kDownloadRetries);
    EXPECT_EQ(RetryLines().size(), kDownloadRetries);
    EXPECT_TRUE(dialog.m_bFailed);
    EXPECT_EQ(ReadWholeFile(window.dir() / "a.bin"), kOldContent);
    EXPECT_EQ(TemporaryFilesBelow(window.dir().path()), std::vector<std::string>{});
}

TEST_F(Retry, ALeftoverOfAnInterruptedRunIsResumed)
{
    WriteWholeFile(window.dir() / "a.bin.kvotmp", PatternBytes(kSize).substr(0, 30000));
    ASSERT_TRUE(Run("leftover", "size=50000"));
    ExpectNewFile();
    const std::vector<std::string> requests = RequestsWith("leftover");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("\"Range\": \"bytes=30000-\""), std::string::npos) << requests[0];
}

}  // namespace
