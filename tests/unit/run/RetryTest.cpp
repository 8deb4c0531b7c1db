// Downloads over a network that lets them down: retried after short waits when the failure may
// pass, resumed from the bytes already there when the entry's SHA-256 can check the result.
#include <gtest/gtest.h>

#include <algorithm>

#include "UpdateTestSupport.h"
#include "support/Sha256.h"
#include "update/UpdateErrors.h"

namespace {

const std::string kOldContent = "the old file, which survives every failed download";
constexpr std::size_t kSize = 50000;
constexpr DWORD kTestSecondMs = 10;  // the waits of 1, 2 and 4 "seconds" take 70 ms in all

struct Retry : ::testing::Test {
    EngineHarness installation{FastWaits()};
    CUpdateEngine& engine = installation.engine();

    static UpdatePolicy FastWaits()
    {
        UpdatePolicy policy = UpdatePolicy::Shipped();
        policy.secondMs = kTestSecondMs;
        return policy;
    }

    /// Downloads `query` (a /gen address with `marker`) over a.bin, an entry that carries the
    /// SHA-256 of the pattern body of kSize bytes.
    bool Run(const std::string& marker, const std::string& query, bool signedLength = false)
    {
        WriteWholeFile(installation.dir() / "a.bin", kOldContent);
        UpdateFileEntry entry = Entry("a.bin", MarkedUrl(marker, query));
        const std::string body = PatternBytes(kSize);
        entry.SHA256 = Sha256Hex(CSha256::Of(body.data(), body.size()));
        entry.Length = signedLength ? static_cast<int>(kSize) : 0;
        bool result = false;
        result = installation.Download(entry) == ERROR_SUCCESS;
        return result;
    }
    std::vector<std::string> RetryLines()
    {
        std::vector<std::string> lines;
        for (const std::string& line : installation.LogLines()) {
            if (line.find("下载失败") != std::string::npos)
                lines.push_back(line);
        }
        return lines;
    }
    void ExpectNewFile()
    {
        EXPECT_EQ(ReadWholeFile(installation.dir() / "a.bin"), PatternBytes(kSize));
        EXPECT_EQ(TemporaryFilesBelow(installation.dir().path()), std::vector<std::string>{});
    }
};

// Rows: a body with its length, and one sent chunked (no length; the manifest vouches for it).
TEST_F(Retry, AConnectionDroppedAt40PercentResumesWithARangeForTheRest)
{
    for (const char* chunked : {"0", "1"}) {
        SCOPED_TRACE(std::string("chunked=") + chunked);
        const std::string marker = std::string("drop") + chunked;
        ASSERT_TRUE(Run(marker, "size=50000&chunk=5000&reset_after=20000&fail=1&id=" + marker + "&chunked=" + chunked,
                        chunked[0] == '1'));
        ExpectNewFile();
        const std::vector<std::string> requests = RequestsWith(marker);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].find("Range"), std::string::npos);
        const std::size_t range = requests[1].find("\"Range\": \"bytes=");
        ASSERT_NE(range, std::string::npos) << requests[1];
        const unsigned long kept = std::stoul(requests[1].substr(range + 16));
        EXPECT_GT(kept, 0u);
        EXPECT_LE(kept, 20000u);
        EXPECT_EQ(engine.m_nCurFileSize.load(), kSize) << "the bar counts the whole file";
        EXPECT_EQ(engine.m_nCurFileDone.load(), kSize);
    }
    EXPECT_EQ(RetryLines().size(), 2u);
}

// Each row: a resumed attempt the server answers wrongly; the file still ends whole and right.
TEST_F(Retry, AResumeAnsweredWronglyStartsTheFileOver)
{
    const struct {
        const char* range;
        std::size_t requests;  ///< cut, resumed, and (when the resumed one fails) whole
        bool hashFailed;
    } cases[] = {{"ignore", 2, false}, {"shift", 3, false}, {"corrupt", 3, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        const std::string marker = std::string("wrong-") + c.range;
        ASSERT_TRUE(Run(marker, "size=50000&chunk=5000&reset_after=20000&fail=1&id=" + marker + "&range=" + c.range));
        ExpectNewFile();
        const std::vector<std::string> requests = RequestsWith(marker);
        ASSERT_EQ(requests.size(), c.requests);
        EXPECT_NE(requests[1].find("Range"), std::string::npos);
        EXPECT_EQ(requests.back().find("Range") == std::string::npos, c.requests == 3) << "the last one is whole";
        const std::vector<std::string> retries = RetryLines();
        ASSERT_FALSE(retries.empty());
        EXPECT_EQ(retries.back().find(std::to_string(kErrorHashMismatch)) != std::string::npos, c.hashFailed);
    }
}

TEST_F(Retry, AServerErrorThatPassesIsRetriedAtMostThreeTimesAndOneThatWillNotIsNot)
{
    ASSERT_TRUE(Run("busy", "size=50000&status=503&id=busy&fail=1"));
    ExpectNewFile();
    EXPECT_EQ(RequestsWith("busy").size(), 2u);
    EXPECT_FALSE(Run("gone", "size=50000&status=404"));
    EXPECT_EQ(RequestsWith("gone").size(), 1u);
    EXPECT_FALSE(Run("down", "size=50000&status=503"));
    EXPECT_EQ(RequestsWith("down").size(), 1u + kDownloadRetries);
    EXPECT_EQ(RetryLines().size(), 1u + kDownloadRetries) << "the 503s only";
    EXPECT_TRUE(engine.m_bFailed);
    EXPECT_EQ(ReadWholeFile(installation.dir() / "a.bin"), kOldContent);
    EXPECT_EQ(TemporaryFilesBelow(installation.dir().path()), std::vector<std::string>{});
    // A trickle below the speed floor (100 bytes every half second): each attempt ends with its
    // window, as a time-out does, and the last one ends the download; what came stays to resume.
    EXPECT_FALSE(Run("trickle", "size=50000&chunk=100&pause=0.5"));
    EXPECT_EQ(RequestsWith("trickle").size(), 1u + kDownloadRetries);
    EXPECT_NE(RetryLines().back().find(std::to_string(ERROR_INTERNET_TIMEOUT)), std::string::npos);
    EXPECT_EQ(ReadWholeFile(installation.dir() / "a.bin"), kOldContent);
    // Headers trickled a byte at a time, each well within the receive time-out: each attempt ends
    // when the speed window passes before the first body byte, as a time-out.
    EXPECT_FALSE(Run("headers", "size=50000&header_pause=0.3"));
    EXPECT_EQ(RequestsWith("headers").size(), 1u + kDownloadRetries);
    EXPECT_NE(RetryLines().back().find(std::to_string(ERROR_INTERNET_TIMEOUT)), std::string::npos);
    EXPECT_EQ(ReadWholeFile(installation.dir() / "a.bin"), kOldContent);
}

}  // namespace

namespace {

/// Requests the test server logged for mirror `name` of a marked download.
std::size_t MirrorRequests(const std::vector<std::string>& requests, const char* name)
{
    const std::string path = std::string("/mirror/") + name + "/gen";
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [&](const std::string& line) {
        return line.find(path) != std::string::npos;
    }));
}

// The manifest's base (mirror a) and one more mirror (b): a failure that a mirror may not share
// moves on to the next at once; the wait comes after a whole round; kept bytes resume elsewhere.
TEST_F(Retry, AnotherMirrorTakesOverAtOnceAndTheWaitFollowsAWholeRound)
{
    const struct {
        const char* what;
        bool baseDown;        ///< the base's host does not answer at all
        const char* options;  ///< of the download, a.X and b.X for one mirror only
        std::size_t fromA, fromB;
        bool waited;
        bool resumedOnB;
    } cases[] = {
        {"the base is down", true, "", 0, 1, false, false},
        {"the base's copy is not the file", false, "a.corrupt=1", 1, 1, false, false},
        {"both fail once, the base serves in the second round", false, "status=503&fail=2", 2, 1, true, false},
        {"the base is cut, the other mirror serves the rest", false,
         "a.reset_after=20000&a.chunk=5000&fail=1", 1, 1, false, true},
        {"the base answers 403, as several CDNs do for a missing object", false, "a.status=403", 1, 1, false, false},
        {"the base announces a malformed length", false, "a.length=-1", 1, 1, false, false},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string marker = "mirror" + std::to_string(++row);
        const std::string base = c.baseDown ? ClosedPortUrl().substr(0, ClosedPortUrl().find("/AutoUpdate")) + "/mirror/a/"
                                            : TestServerUrl("/mirror/a/");
        engine.m_mirrors = {base, TestServerUrl("/mirror/b/")};
        const std::size_t retriesBefore = RetryLines().size();
        WriteWholeFile(installation.dir() / "a.bin", kOldContent);
        UpdateFileEntry entry = Entry("a.bin", base + "gen?marker=" + marker + "&size=50000&id=" + marker + "&" + c.options);
        const std::string body = PatternBytes(kSize);
        entry.SHA256 = Sha256Hex(CSha256::Of(body.data(), body.size()));
        bool result = false;
        result = installation.Download(entry) == ERROR_SUCCESS;
        ASSERT_TRUE(result) << ::testing::PrintToString(RetryLines()) << ::testing::PrintToString(RequestsWith(marker));
        ExpectNewFile();
        const std::vector<std::string> requests = RequestsWith(marker);
        EXPECT_EQ(MirrorRequests(requests, "a"), c.fromA);
        EXPECT_EQ(MirrorRequests(requests, "b"), c.fromB);
        EXPECT_EQ(requests.back().find("\"Range\": \"bytes=") != std::string::npos, c.resumedOnB) << requests.back();
        const std::vector<std::string> lines = RetryLines();
        ASSERT_GT(lines.size(), retriesBefore);
        EXPECT_NE(lines[retriesBefore].find("  127.0.0.1:"), std::string::npos) << "each failed address with its host";
        EXPECT_EQ(std::any_of(lines.begin() + retriesBefore, lines.end(),
                              [](const std::string& line) { return line.find("秒后重试") != std::string::npos; }),
                  c.waited);
    }
    engine.m_mirrors.clear();
}

}  // namespace
