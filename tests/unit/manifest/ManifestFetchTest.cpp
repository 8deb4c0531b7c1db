// The manifest fetch against the loopback test server: the body as text whatever the status,
// line ends removed, and every transport failure ending, logged once, with false.
#include <gtest/gtest.h>

#include <regex>

#include "ManifestTestSupport.h"
#include "update/Manifest.h"
#include "update/ManifestFetch.h"

namespace {

// Far beyond every deadline of the fetch; a fetch still running then is hung.
constexpr DWORD kFetchBoundMs = 60000;
// Shorter than the server's delays, to keep the slow cases quick.
constexpr DWORD kShortDeadlineMs = 3000;
constexpr DWORD kCannotConnect = 12029;     // ERROR_INTERNET_CANNOT_CONNECT
constexpr DWORD kNameNotResolved = 12007;   // ERROR_INTERNET_NAME_NOT_RESOLVED
constexpr DWORD kTimedOut = 12002;          // ERROR_INTERNET_TIMEOUT
constexpr DWORD kTooLarge = 223;            // ERROR_FILE_TOO_LARGE
constexpr std::size_t kMessageLimit = 199;  // the 200-byte message buffer less its terminator

/// FetchManifest on a worker, so that a hang fails the test instead of blocking the suite; `text`
/// receives the body's lines joined, as the parse reads them.
bool FetchBounded(CKvoLauncherDlg& dialog, const std::string& url, std::string& text,
                  DWORD deadlineMs = kManifestFetchDeadlineMs)
{
    bool result = false;
    text = "stale text from an earlier call";
    std::string body;
    RunBoundedOnWorker([&] { result = FetchManifest(dialog, url, body, deadlineMs); }, kFetchBoundMs,
                       "the fetch of " + url);
    text = JoinBodyLines(body);
    return result;
}

/// The error number of a log line "<number>  <message>"; -1 when the line has another form.
long LoggedErrorNumber(const std::string& line)
{
    static const std::regex form(R"((\d+)  (.+))");
    std::smatch match;
    if (!std::regex_match(line, match, form) || match[2].length() > static_cast<long>(kMessageLimit))
        return -1;
    return std::stol(match[1]);
}

struct Fetch : ::testing::Test {
    DialogInTempDir installation;
    CKvoLauncherDlg& dialog = installation.dialog();
    std::string text;
};

}  // namespace

TEST_F(Fetch, BodyIsTheResultWhateverTheStatus)
{
    const std::string manifest = ManifestText("Ver=\"3\"", FileElement("a.dll"));
    const std::string joined = std::regex_replace(manifest, std::regex("\r\n"), "");
    for (const char* status : {"200", "404", "500"}) {
        SCOPED_TRACE(status);
        const std::string url = GeneratedBodyUrl(manifest, std::string("status=") + status);
        EXPECT_TRUE(FetchBounded(dialog, url, text));
        EXPECT_EQ(text, joined);
    }
    EXPECT_TRUE(installation.LogLines().empty());
}

TEST_F(Fetch, LinesAreJoinedWithoutTheirLineEnds)
{
    const std::string longLine(5000, 'x');
    const struct {
        const char* name;
        std::string body;
        std::string options;
        std::string expected;
    } cases[] = {
        {"empty body", "", "", ""},
        {"only line ends", "\r\n\n\r\n", "", ""},
        {"CRLF and LF mixed", "<a>\r\n<b/>\n</a>\r\n", "", "<a><b/></a>"},
        {"last line without end", "one\ntwo\r\nthree", "", "onetwothree"},
        {"lone CR inside stays, CR at the end goes", "keep\rthis\r", "", "keep\rthis"},
        {"ANSI bytes pass unchanged", "\xB4\xF3\xCC\xFC\r\n\xB8\xFC\xD0\xC2", "", "\xB4\xF3\xCC\xFC\xB8\xFC\xD0\xC2"},
        {"long lines in many packets", longLine + "\r\n" + longLine + "\n" + longLine, "chunk=1000",
         longLine + longLine + longLine},
        {"no Content-Length, closed at the end", "a\r\nb", "length=none", "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(FetchBounded(dialog, GeneratedBodyUrl(c.body, c.options), text));
        EXPECT_EQ(text, c.expected);
    }
}

TEST_F(Fetch, TransportFailuresReturnFalseWithOneLogLine)
{
    const std::string unresolvable = "http://" + std::string(70, 'a') + ".test/AutoUpdate/update.xml";
    const struct {
        const char* name;
        std::string url;
        DWORD deadlineMs;
        long error;
    } cases[] = {
        {"connection refused", ClosedPortUrl(), kManifestFetchDeadlineMs, kCannotConnect},
        // A label over 63 characters: the resolver refuses the name without asking any server.
        {"unresolvable host", unresolvable, kManifestFetchDeadlineMs, kNameNotResolved},
        {"headers slower than the receive time-out", GeneratedBodyUrl("<a/>", "delay=6"), kShortDeadlineMs,
         kTimedOut},
        {"body stalls", TestServerUrl("/gen?size=1000&stall_after=10"), kShortDeadlineMs, kTimedOut},
        {"body larger than any manifest", TestServerUrl("/gen?size=9000000"), kManifestFetchDeadlineMs, kTooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t linesBefore = installation.LogLines().size();
        EXPECT_FALSE(FetchBounded(dialog, c.url, text, c.deadlineMs));
        const std::vector<std::string> lines = installation.LogLines();
        ASSERT_EQ(lines.size(), linesBefore + 1);
        EXPECT_EQ(LoggedErrorNumber(lines.back()), c.error) << lines.back();
    }
    EXPECT_FALSE(dialog.m_bFailed) << "a failed fetch only makes start-up try the next host";
}

TEST_F(Fetch, ParseOfAPageOrAnUnreachableHostFailsWithTheStateUntouched)
{
    // The test server has no static root: the manifest path answers 404 with an HTML page.
    const std::string notFound = TestServerUrl("/AutoUpdate/update.xml");
    EXPECT_TRUE(FetchBounded(dialog, notFound, text));
    EXPECT_EQ(text, "<html><body><h1>404 Not Found</h1></body></html>");
    const struct {
        const char* name;
        std::string url;
        std::size_t logLines;  ///< a page is no failure of the host: nothing is logged
    } cases[] = {
        {"404 page", notFound, 0},
        {"unreachable host", ClosedPortUrl(), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ParseManifest(dialog, c.url));
        EXPECT_EQ(installation.LogLines().size(), c.logLines);
        EXPECT_EQ(dialog.m_nServerVer, 0);
        EXPECT_TRUE(dialog.m_files.empty());
        EXPECT_FALSE(dialog.m_bFailed);
    }
}
