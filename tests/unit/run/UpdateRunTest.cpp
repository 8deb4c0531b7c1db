// The whole run on the real dialog window, driven by its own timers: the check and completion off
// the window's thread, the failure paths with their boxes, and the close request that ends every
// one of them. (The order of the entries is seen by the end-to-end update.)
#include <gtest/gtest.h>

#include "UpdateTestSupport.h"
#include "update/BuildHosts.h"
#include "app/UnelevatedShell.h"
#include "framework/Handles.h"

namespace {

constexpr int kInstalledVersion = 6;
constexpr int kServerVersion = 7;
const char kPerFileText[] = "文件更新失败，请从官网下载更新!";
const char kFinalText[] = "更新失败，请从官网下载更新";

using Lines = std::vector<std::string>;

/// Hands the entries to the dialog as the manifest would and lets its timers run it to the end;
/// with `lockSettings` another program holds the settings file, unshared, until the end.
void RunToTheEnd(DialogWindow& window, const std::vector<UpdateFileEntry>& entries, bool lockSettings = false)
{
    const std::string settings = window.dir() / "LobbyDate\\Update.INI";
    WriteWholeFile(settings, "[VerInfo]\r\nPVer=" + std::to_string(kInstalledVersion) + "\r\n");
    const kvo::unique_hfile lock(lockSettings ? ::CreateFileA(settings.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                              FILE_ATTRIBUTE_NORMAL, nullptr)
                                              : INVALID_HANDLE_VALUE);
    CUpdateEngine& engine = window.engine();
    engine.m_files = entries;
    engine.m_nFileCount = static_cast<int>(entries.size());
    engine.m_nFilesLeft = static_cast<int>(entries.size());
    engine.m_nServerVer = kServerVersion;
    ASSERT_TRUE(window.WaitUntilClosed()) << "the run never posted its close request";
}

int InstalledVersion(const DialogWindow& window)
{
    return static_cast<int>(
        ::GetPrivateProfileIntA("VerInfo", "PVer", -1, (window.dir() / "LobbyDate\\Update.INI").c_str()));
}

bool Requested(const std::string& marker) { return !RequestsWith(marker).empty(); }

struct UpdateRun : ::testing::Test {
    WorkerStarts workers;
    DialogWindow window{true, WorkerStarts::Starter()};
    const DWORD mainThread = ::GetCurrentThreadId();

    std::string LobbyStart() const
    {
        const std::string lobby = window.dir() / "KVOLobby.exe";
        return lobby + "|" + lobby;
    }
};

}  // namespace

TEST_F(UpdateRun, EverythingUpToDateIsCheckedAndCompletedOffTheWindowThread)
{
    for (const char* name : {"m1.dll", "m2.dll"})
        ASSERT_TRUE(::CopyFileA(WindowsPathOf(KVO_VERSION_FIXTURE).c_str(), (window.dir() / name).c_str(), FALSE));
    WriteWholeFile(window.dir() / "m1.dll.kvotmp", "left by a run that was cut off");
    RunToTheEnd(window, {Entry("m1.dll", MarkedUrl("u1", "size=10"), "1.2.3.4"),
                         Entry("m2.dll", MarkedUrl("u2", "size=10"), "1.2.3.3")});
    EXPECT_EQ(window.LogLines(), (Lines{"m2.dll 当前已是最新", "m1.dll 当前已是最新", "版本7  更新完成"}));
    EXPECT_EQ(workers.Count(), 1);
    EXPECT_FALSE(Requested("u1") || Requested("u2"));
    EXPECT_EQ(InstalledVersion(window), kServerVersion);
    const auto starts = window.desktop().Starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].first, LobbyStart());
    EXPECT_NE(starts[0].second, mainThread) << "the window's thread only paints";
    EXPECT_FALSE(FileExists(window.dir() / "m1.dll.kvotmp"));
}

/// A run that ends on one of its failure paths, and the box it must end with.
struct FailingRun {
    const char* what;
    std::vector<UpdateFileEntry> entries;
    Lines logWithoutNumber;  ///< the log, its last line without its error number
    const char* text;
    bool ownedByDialog;
    bool failsToStartWorkers = false;
    bool settingsLocked = false;
};

TEST(UpdateRunFailure, EndsWithItsBoxAndNeitherRecordsNorStarts)
{
    const std::string badPackage = "PK\x03\x04 but nothing else of an archive";
    const FailingRun runs[] = {
        {"the second processed download fails",
         {Entry("a.bin", MarkedUrl("fa", "size=100")), Entry("b.bin", MarkedUrl("fb", "status=404&size=10")),
          Entry("c.bin", MarkedUrl("fc", "size=100"))},
         {"正在下载 c.bin", "c.bin  下载成功", "b.bin 更新失败 "},
         kPerFileText,
         false},
        {"a package fails to install",
         {Entry("a.bin", MarkedUrl("pa", "size=100")), Entry("bad.zip", GeneratedBodyUrl(badPackage))},
         {"正在下载 bad.zip", "bad.zip 解压失败 压缩包损坏", "bad.zip  下载成功", "正在下载 a.bin", "a.bin  下载成功",
          "版本7  更新完成", "更新失败 " + std::to_string(ERROR_INSTALL_FAILURE)},
         kFinalText,
         true},
        {"a worker cannot start",
         {Entry("a.bin", MarkedUrl("wa", "size=100")), Entry("b.bin", MarkedUrl("wb", "size=100"))},
         {"b.bin 更新失败 " + std::to_string(ERROR_NOT_ENOUGH_MEMORY)},
         kPerFileText,
         false,
         true},
        {"the version cannot be recorded",
         {Entry("a.bin", MarkedUrl("va", "size=100"))},
         {"正在下载 a.bin", "a.bin  下载成功", "版本7  更新完成", "更新失败 " + std::to_string(ERROR_SHARING_VIOLATION)},
         kFinalText,
         true,
         false,
         true},
    };
    const struct {
        int answer;
        bool siteOpens;  ///< without administrator rights; else its address is shown
        const char* what;
    } answers[] = {{IDOK, true, ", OK"}, {IDOK, false, ", OK, the site not opened"}, {IDCANCEL, true, ", Cancel"}};
    for (const FailingRun& run : runs) {
        for (const auto& [answer, siteOpens, answered] : answers) {
            SCOPED_TRACE(run.what + std::string(answered));
            WorkerStarts workers(run.failsToStartWorkers);
            DialogWindow window(true, WorkerStarts::Starter());
            window.desktop().answer = answer;
            window.desktop().siteOpens = siteOpens;
            RunToTheEnd(window, run.entries, run.settingsLocked);
            Lines log = window.LogLines();
            ASSERT_EQ(log.size(), run.logWithoutNumber.size());
            const std::string& lastPrefix = run.logWithoutNumber.back();
            const std::string number = log.back().substr(std::min(lastPrefix.size(), log.back().size()));
            EXPECT_EQ(number.find_first_not_of("-0123456789"), std::string::npos) << number;
            log.back().resize(log.back().size() - number.size());
            EXPECT_EQ(log, run.logWithoutNumber);
            const std::vector<ShownBox> boxes = window.desktop().Boxes();
            ASSERT_EQ(boxes.size(), siteOpens ? 1u : 2u);
            if (!siteOpens) {
                EXPECT_EQ(boxes[1].text, kOfficialSiteUrl);
                EXPECT_EQ(boxes[1].owner, boxes[0].owner);
                EXPECT_EQ(boxes[1].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
            }
            EXPECT_EQ(boxes[0].text, run.text);
            EXPECT_EQ(boxes[0].caption, run.ownedByDialog ? "Kvo更新程序!" : "Kvo更新程序");
            EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OKCANCEL));
            EXPECT_EQ(boxes[0].owner, run.ownedByDialog ? window.hwnd() : nullptr);
            EXPECT_EQ(window.desktop().Sites(), answer == IDOK ? Lines{kOfficialSiteUrl} : Lines{});
            EXPECT_TRUE(window.desktop().Starts().empty());
            EXPECT_EQ(InstalledVersion(window), kInstalledVersion);
        }
    }
    // The entry processed before the failing one was fetched; the one after it never was, nor
    // anything when no worker could start.
    EXPECT_TRUE(Requested("fc"));
    EXPECT_FALSE(Requested("fa") || Requested("wa") || Requested("wb"));
}

namespace {

bool g_elevated = false;
bool g_shellOpens = false;
Lines g_opened;

const WebSiteRoutes kRecordingRoutes{
    [] { return g_elevated; },
    [](const char* url) {
        g_opened.push_back(std::string("shell ") + url);
        return g_shellOpens;
    },
    [](const char* url) {
        g_opened.push_back(std::string("direct ") + url);
        return true;
    }};

}  // namespace

// Each row: how the web site is opened. An elevated launcher never starts a browser itself.
TEST(WebSite, IsOpenedWithThePlayersOrdinaryRightsOrNotAtAll)
{
    const struct {
        bool elevated, shellOpens, opened;
        Lines routes;
    } cases[] = {
        {false, false, true, {"direct http://site/"}},
        {true, true, true, {"shell http://site/"}},
        {true, false, false, {"shell http://site/"}},
    };
    for (const auto& c : cases) {
        g_elevated = c.elevated;
        g_shellOpens = c.shellOpens;
        g_opened.clear();
        EXPECT_EQ(OpenWebSiteUnelevated("http://site/", kRecordingRoutes), c.opened);
        EXPECT_EQ(g_opened, c.routes);
    }
}
