// The whole run on the real dialog window, driven by its own timers: the order of the entries,
// one worker at a time, the completion, the failure paths with their boxes, and the close request
// that ends every one of them.
#include <gtest/gtest.h>

#include <algorithm>

#include "ManifestTestSupport.h"
#include "RunTestSupport.h"
#include "app/BuildHosts.h"
#include "resources/resource.h"

namespace {

constexpr int kInstalledVersion = 6;
constexpr int kServerVersion = 7;
const char kPerFileText[] = "文件更新失败，请从官网下载更新!";
const char kPerFileCaption[] = "Kvo更新程序";
const char kFinalText[] = "更新失败，请从官网下载更新";
const char kFinalCaption[] = "Kvo更新程序!";

/// Hands the entries to the dialog as the manifest would and lets its timers run it to the end.
void RunToTheEnd(DialogWindow& window, const std::vector<UpdateFileEntry>& entries)
{
    WriteWholeFile(window.dir() / "LobbyDate\\Update.INI",
                   "[VerInfo]\r\nPVer=" + std::to_string(kInstalledVersion) + "\r\n");
    CKvoLauncherDlg& dialog = window.dialog();
    dialog.m_files = entries;
    dialog.m_nFileCount = static_cast<int>(entries.size());
    dialog.m_nFilesLeft = static_cast<int>(entries.size());
    dialog.m_nServerVer = kServerVersion;
    ASSERT_TRUE(window.WaitUntilClosed()) << "the run never posted its close request";
}

int InstalledVersion(const DialogWindow& window)
{
    return static_cast<int>(
        ::GetPrivateProfileIntA("VerInfo", "PVer", -1, (window.dir() / "LobbyDate\\Update.INI").c_str()));
}

struct UpdateRun : ::testing::Test {
    WorkerStarts workers;
    DialogWindow window{true};
    const DWORD mainThread = ::GetCurrentThreadId();

    void RunToTheEnd(const std::vector<UpdateFileEntry>& entries) { ::RunToTheEnd(window, entries); }
    int InstalledVersion() const { return ::InstalledVersion(window); }
    std::string LobbyStart() const
    {
        const std::string lobby = window.dir() / "KVOLobby.exe";
        return lobby + "|" + lobby;
    }
    /// The file name label's text at the time of each progress text: which entry it counted.
    std::vector<std::string> ProgressByFile()
    {
        std::vector<std::string> seen;
        std::string current;
        for (const LabelText& label : window.LabelTexts()) {
            if (label.id == IDC_LBL_FILENAME)
                current = label.text;
            else if (label.id == IDC_LBL_PROGRESS && !label.text.empty())
                seen.push_back(current + " " + label.text.substr(label.text.find('(')));
        }
        return seen;
    }
};

TEST_F(UpdateRun, EntriesAreTakenFromTheEndOneWorkerAfterTheOther)
{
    RunToTheEnd({Entry("a.bin", MarkedUrl("ra", "size=20000")), Entry("b.bin", MarkedUrl("rb", "size=30000")),
                 Entry("c.bin", MarkedUrl("rc", "size=25000"))});

    const std::string requests = TestServerRequestLog();
    EXPECT_LT(requests.find("marker=rc&"), requests.find("marker=rb&"));
    EXPECT_LT(requests.find("marker=rb&"), requests.find("marker=ra&"));
    EXPECT_EQ(window.LogLines(), (std::vector<std::string>{"正在下载 c.bin", "c.bin  下载成功", "正在下载 b.bin",
                                                           "b.bin  下载成功", "正在下载 a.bin", "a.bin  下载成功",
                                                           "版本7  更新完成"}));
    EXPECT_EQ(window.TextsOf(IDC_LBL_FILENAME), (std::vector<std::string>{"c.bin", "b.bin", "a.bin"}));
    // Blocks of 10240 bytes: three progress texts for each of these sizes.
    EXPECT_EQ(ProgressByFile(), (std::vector<std::string>{"c.bin (1/3)", "c.bin (1/3)", "c.bin (1/3)",
                                                          "b.bin (2/3)", "b.bin (2/3)", "b.bin (2/3)",
                                                          "a.bin (3/3)", "a.bin (3/3)"}));
    EXPECT_EQ(ReadWholeFile(window.dir() / "c.bin"), PatternBytes(25000));
    EXPECT_EQ(ReadWholeFile(window.dir() / "a.bin"), PatternBytes(20000));
    EXPECT_EQ(workers.Count(), 4) << "one that takes the entries, one per download";
    EXPECT_EQ(InstalledVersion(), kServerVersion);
    EXPECT_EQ(window.desktop().Starts(), std::vector<std::string>{LobbyStart()});
    EXPECT_TRUE(window.desktop().Boxes().empty());
    EXPECT_TRUE(window.desktop().Sites().empty());
}

TEST_F(UpdateRun, EverythingUpToDateIsCheckedAndCompletedOffTheWindowThread)
{
    for (const char* name : {"m1.dll", "m2.dll"})
        ASSERT_TRUE(::CopyFileA(WindowsPathOf(KVO_VERSION_FIXTURE).c_str(), (window.dir() / name).c_str(), FALSE));
    WriteWholeFile(window.dir() / "m1.dll.kvotmp", "left by a run that was cut off");

    RunToTheEnd({Entry("m1.dll", MarkedUrl("u1", "size=10"), "1.2.3.4"),
                 Entry("m2.dll", MarkedUrl("u2", "size=10"), "1.2.3.3")});

    EXPECT_EQ(window.LogLines(),
              (std::vector<std::string>{"m2.dll 当前已是最新", "m1.dll 当前已是最新", "版本7  更新完成"}));
    EXPECT_EQ(workers.Count(), 1);
    EXPECT_FALSE(Requested("u1") || Requested("u2"));
    EXPECT_EQ(InstalledVersion(), kServerVersion);
    EXPECT_EQ(window.desktop().Starts(), std::vector<std::string>{LobbyStart()});
    ASSERT_EQ(window.desktop().StartThreads().size(), 1u);
    EXPECT_NE(window.desktop().StartThreads()[0], mainThread) << "the window's thread only paints";
    EXPECT_FALSE(FileExists(window.dir() / "m1.dll.kvotmp"));
}

/// A run that ends on one of its failure paths, and the box it must end with.
struct FailingRun {
    const char* what;
    std::vector<UpdateFileEntry> entries;
    std::vector<std::string> logWithoutNumber;  ///< the log, its last line without its error number
    const char* text;
    const char* caption;
    bool ownedByDialog;
    bool onMainThread;
};

std::vector<FailingRun> FailingRuns()
{
    std::string badPackage = "PK\x03\x04 but nothing else of an archive";
    return {
        {"the second processed download fails",
         {Entry("a.bin", MarkedUrl("fa", "size=100")), Entry("b.bin", MarkedUrl("fb", "status=404&size=10")),
          Entry("c.bin", MarkedUrl("fc", "size=100"))},
         {"正在下载 c.bin", "c.bin  下载成功", "b.bin 更新失败 "},
         kPerFileText,
         kPerFileCaption,
         false,
         false},
        {"a package fails to install",
         {Entry("a.bin", MarkedUrl("pa", "size=100")), Entry("bad.zip", GeneratedBodyUrl(badPackage))},
         {"正在下载 bad.zip", "bad.zip 解压失败 压缩包损坏", "bad.zip  下载成功", "正在下载 a.bin", "a.bin  下载成功",
          "版本7  更新完成", "更新失败 "},
         kFinalText,
         kFinalCaption,
         true,
         false},
    };
}

TEST(UpdateRunFailure, EndsWithItsBoxAndNeitherRecordsNorStarts)
{
    const DWORD mainThread = ::GetCurrentThreadId();
    for (const FailingRun& run : FailingRuns()) {
        for (const int answer : {IDOK, IDCANCEL}) {
            SCOPED_TRACE(std::string(run.what) + (answer == IDOK ? ", OK" : ", Cancel"));
            WorkerStarts workers;
            DialogWindow window(true);
            window.desktop().answer = answer;
            const HWND hwnd = window.hwnd();
            RunToTheEnd(window, run.entries);

            std::vector<std::string> log = window.LogLines();
            ASSERT_EQ(log.size(), run.logWithoutNumber.size());
            const std::string& lastPrefix = run.logWithoutNumber.back();
            const std::string number = log.back().substr(std::min(lastPrefix.size(), log.back().size()));
            EXPECT_FALSE(number.empty());
            EXPECT_EQ(number.find_first_not_of("-0123456789"), std::string::npos) << number;
            log.back().resize(log.back().size() - number.size());
            EXPECT_EQ(log, run.logWithoutNumber);

            const std::vector<ShownBox> boxes = window.desktop().Boxes();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, run.text);
            EXPECT_EQ(boxes[0].caption, run.caption);
            EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OKCANCEL));
            EXPECT_EQ(boxes[0].owner, run.ownedByDialog ? hwnd : nullptr);
            EXPECT_EQ(boxes[0].threadId == mainThread, run.onMainThread);
            EXPECT_EQ(window.desktop().Sites(),
                      answer == IDOK ? std::vector<std::string>{kOfficialSiteUrl} : std::vector<std::string>{});
            EXPECT_TRUE(window.desktop().Starts().empty());
            EXPECT_EQ(InstalledVersion(window), kInstalledVersion);
        }
    }
    // The entry processed before the failing one was fetched; the one after it never was.
    EXPECT_TRUE(Requested("fc"));
    EXPECT_FALSE(Requested("fa"));
}

TEST_F(UpdateRun, AWorkerThatCannotStartEndsTheRunOnTheFailurePath)
{
    WorkerStarts::FailStarts(true);
    RunToTheEnd({Entry("a.bin", MarkedUrl("wa", "size=100")), Entry("b.bin", MarkedUrl("wb", "size=100"))});

    const std::vector<std::string> log = window.LogLines();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "b.bin 更新失败 " + std::to_string(ERROR_NOT_ENOUGH_MEMORY));
    const std::vector<ShownBox> boxes = window.desktop().Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kPerFileText);
    EXPECT_EQ(boxes[0].threadId, mainThread);
    EXPECT_FALSE(Requested("wa") || Requested("wb"));
    EXPECT_TRUE(window.desktop().Starts().empty());
    EXPECT_EQ(InstalledVersion(), kInstalledVersion);
}

}  // namespace
