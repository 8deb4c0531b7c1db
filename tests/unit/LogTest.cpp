#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "TempDir.h"
#include "framework/Handles.h"
#include "framework/Thread.h"
#include "support/Log.h"

namespace {

constexpr int kStampLength = 20;  // "YYYY-MM-DD hh:mm:ss" and the tab
constexpr int kLinesPerThread = 300;
constexpr DWORD kWritersBoundMs = 30000;

struct LogFixture : ::testing::Test {
    TempDir dir;
    std::string logPath = dir / "AutoUpdate_test.log";

    /// The texts of the file's lines; a line that is not "stamp TAB text CR LF" fails the test.
    std::vector<std::string> Texts()
    {
        std::vector<std::string> texts;
        std::istringstream lines(ReadWholeFile(logPath));
        for (std::string line; std::getline(lines, line);) {
            int fields[6] = {}, stamp = 0;
            std::sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &fields[0], &fields[1], &fields[2], &fields[3],
                        &fields[4], &fields[5], &stamp);
            EXPECT_TRUE(stamp + 1 == kStampLength && line[stamp] == '\t' && line.back() == '\r') << line;
            texts.push_back(line.substr(kStampLength, line.size() - kStampLength - 1));
        }
        return texts;
    }
};

struct WriterArgs {
    CLog* log;
    std::string text;
    kvo::unique_handle done{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

unsigned WriteManyLines(void* raw)
{
    auto* args = static_cast<WriterArgs*>(raw);
    for (int i = 0; i < kLinesPerThread; ++i)
        args->log->WriteLog(args->text.c_str());
    ::SetEvent(args->done.get());
    return 0;
}

}  // namespace

TEST_F(LogFixture, StampedLinesAppendedOpenToOthersAndNothingAfterClose)
{
    WriteWholeFile(logPath, "2026-12-01 10:00:00\told line\r\n");
    CLog log;
    ASSERT_TRUE(log.Open(logPath.c_str()));
    for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
        kvo::unique_hfile other(::CreateFileA(logPath.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(other) << "access " << access;
    }
    log.WriteLog("\xB0\xE6\xB1\xBE" "7  " "\xB8\xFC\xD0\xC2\xCD\xEA\xB3\xC9");  // GBK, as the run writes it
    log.WriteLog("");
    log.Close();
    log.WriteLog("after close");
    EXPECT_EQ(Texts(), (std::vector<std::string>{"old line", "版本7  更新完成", ""}));
    CLog missing;
    EXPECT_FALSE(missing.Open((dir / "NoSuchDir\\AutoUpdate_x.log").c_str()));
    missing.WriteLog("lost");
    EXPECT_FALSE(FileExists(dir / "NoSuchDir"));
}

TEST_F(LogFixture, LinesOfTwoThreadsNeverInterleave)
{
    CLog log;
    ASSERT_TRUE(log.Open(logPath.c_str()));
    WriterArgs a{&log, std::string(200, 'a')}, b{&log, std::string(200, 'b')};
    ASSERT_TRUE(kvo::BeginWorkerThread(WriteManyLines, &a));
    ASSERT_TRUE(kvo::BeginWorkerThread(WriteManyLines, &b));
    HANDLE both[] = {a.done.get(), b.done.get()};
    ASSERT_EQ(::WaitForMultipleObjects(2, both, TRUE, kWritersBoundMs), WAIT_OBJECT_0);
    log.Close();
    const std::vector<std::string> texts = Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), a.text), kLinesPerThread);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), b.text), kLinesPerThread);
    EXPECT_EQ(texts.size(), 2u * kLinesPerThread) << "mixed lines";
}

TEST(DatedLogPath, NamedAfterTheLocalStartDate)
{
    tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 6;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_isdst = -1;
    EXPECT_EQ(MakeDatedLogPath("C:\\Game\\", _mktime64(&local)), "C:\\Game\\/DownLoad/AutoUpdate_20261206.log");
}
