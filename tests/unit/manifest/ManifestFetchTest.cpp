// The manifest fetch against the loopback test server: the body as text whatever the status,
// line ends removed, and every transport failure ending, logged once, with false.
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "update/Manifest.h"
#include "update/ManifestFetch.h"

namespace {

// Shorter than the server's delays, to keep the slow cases quick.
constexpr DWORD kShortDeadlineMs = 3000;
constexpr DWORD kCannotConnect = 12029;     // ERROR_INTERNET_CANNOT_CONNECT
constexpr DWORD kTimedOut = 12002;          // ERROR_INTERNET_TIMEOUT
constexpr DWORD kTooLarge = 223;            // ERROR_FILE_TOO_LARGE
constexpr std::size_t kMessageLimit = 199;  // the 200-byte message buffer less its terminator

/// The error number of a log line "<number>  <message>"; -1 when the line has another form.
long LoggedErrorNumber(const std::string& line)
{
    const std::size_t gap = line.find("  ");
    const std::size_t message = gap + 2;
    if (gap == 0 || gap == std::string::npos || line.find_first_not_of("0123456789") != gap ||
        message == line.size() || line.size() - message > kMessageLimit)
        return -1;
    return std::stol(line.substr(0, gap));
}

/// The shipped policy with a manifest deadline of `deadlineMs`.
UpdatePolicy WithDeadline(DWORD deadlineMs)
{
    UpdatePolicy policy = UpdatePolicy::Shipped();
    policy.manifestDeadlineMs = deadlineMs;
    return policy;
}

struct Fetch : ::testing::Test {
    EngineHarness installation;
    CUpdateEngine& engine = installation.engine();
    std::string text;

    /// FetchManifest on a worker, so that a hang fails the test instead of blocking the suite;
    /// `text` receives the body's lines joined, as the parse reads them.
    bool FetchBounded(EngineHarness& on, const std::string& url)
    {
        bool result = false;
        std::string body;
        on.RunOnWorker([&] { result = FetchManifest(on.engine(), url, body); });
        text = JoinBodyLines(body);
        return result;
    }
    bool FetchBounded(const std::string& url) { return FetchBounded(installation, url); }
};

}  // namespace

// The body is the result whatever the status; its lines are joined without their line ends.
TEST_F(Fetch, BodyLinesAreJoinedWhateverTheStatus)
{
    const std::string longLine(5000, 'x');
    const struct {
        const char* name;
        std::string body;
        std::string options;
        std::string expected;
    } cases[] = {
        {"CRLF and LF mixed, 404", "<a>\r\n<b/>\n</a>\r\n", "status=404", "<a><b/></a>"},
        {"last line without end, 500", "one\ntwo\r\nthree", "status=500", "onetwothree"},
        {"ANSI bytes pass unchanged", "\xB4\xF3\xCC\xFC\r\n\xB8\xFC", "", "\xB4\xF3\xCC\xFC\xB8\xFC"},
        {"long lines in many packets", longLine + "\r\n" + longLine, "chunk=1000", longLine + longLine},
        {"no Content-Length, closed at the end", "a\r\nb", "length=none", "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(FetchBounded(GeneratedBodyUrl(c.body, c.options)));
        EXPECT_EQ(text, c.expected);
    }
    EXPECT_TRUE(installation.LogLines().empty());
}

TEST_F(Fetch, TransportFailuresReturnFalseWithOneLogLine)
{
    const struct {
        const char* name;
        std::string url;
        DWORD deadlineMs;
        long error;
    } cases[] = {
        {"connection refused", ClosedPortUrl(), UpdatePolicy::Shipped().manifestDeadlineMs, kCannotConnect},
        {"body stalls", TestServerUrl("/gen?size=1000&stall_after=10"), kShortDeadlineMs, kTimedOut},
        {"body larger than any manifest", TestServerUrl("/gen?size=9000000"), UpdatePolicy::Shipped().manifestDeadlineMs,
         kTooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineHarness row(WithDeadline(c.deadlineMs));
        EXPECT_FALSE(FetchBounded(row, c.url));
        const std::vector<std::string> lines = row.LogLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(LoggedErrorNumber(lines.back()), c.error) << lines.back();
        EXPECT_FALSE(row.engine().m_bFailed) << "a failed fetch only makes start-up try the next host";
    }
}

TEST_F(Fetch, ParseOfAPageFailsWithTheStateUntouchedAndNothingLogged)
{
    // The test server has no static root: the manifest path answers 404 with an HTML page.
    const std::string notFound = TestServerUrl("/AutoUpdate/update.xml");
    EXPECT_TRUE(FetchBounded(notFound));
    EXPECT_EQ(text, "<html><body><h1>404 Not Found</h1></body></html>");
    EXPECT_FALSE(ParseManifest(engine, notFound));
    EXPECT_TRUE(installation.LogLines().empty()) << "a page is no failure of the host";
    EXPECT_EQ(engine.m_nServerVer, 0);
    EXPECT_TRUE(engine.m_files.empty());
    EXPECT_FALSE(engine.m_bFailed);
}
