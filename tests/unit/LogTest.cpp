#include <gtest/gtest.h>

#include <regex>

#include "TempDir.h"
#include "framework/Handles.h"
#include "framework/Thread.h"
#include "support/Log.h"

namespace {

const std::regex kStampedLine(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\t)");

struct LogFixture : ::testing::Test {
    TempDir dir;
    std::string logDir = dir / "DownLoad";
    std::string logPath = logDir + "\\AutoUpdate_test.log";
    void SetUp() override { ::CreateDirectoryA(logDir.c_str(), nullptr); }
};

}  // namespace

TEST_F(LogFixture, LineIsStampTabTextCrLf)
{
    CLog log;
    ASSERT_TRUE(log.Open(logPath.c_str()));
    log.WriteLog("版本7  更新完成");
    log.WriteLog("");
    log.Close();

    const std::string content = ReadWholeFile(logPath);
    const std::string gbkText = "\xB0\xE6\xB1\xBE" "7  " "\xB8\xFC\xD0\xC2\xCD\xEA\xB3\xC9";  // GBK bytes
    ASSERT_EQ(content.size(), 20 + gbkText.size() + 2 + 20 + 2);
    EXPECT_TRUE(std::regex_match(content.substr(0, 20), kStampedLine));
    EXPECT_EQ(content.substr(20, gbkText.size() + 2), gbkText + "\r\n");
    EXPECT_TRUE(std::regex_match(content.substr(20 + gbkText.size() + 2, 20), kStampedLine));
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
}

TEST_F(LogFixture, AppendsToTheFileOfTheSameDay)
{
    WriteWholeFile(logPath, "old line\r\n");
    CLog log;
    ASSERT_TRUE(log.Open(logPath.c_str()));
    log.WriteLog("new line");
    log.Close();
    const std::string content = ReadWholeFile(logPath);
    EXPECT_EQ(content.rfind("old line\r\n", 0), 0u);
    EXPECT_EQ(content.substr(content.size() - 10), "new line\r\n");
}

TEST_F(LogFixture, MissingDirectoryCreatesNothingAndWritesAreSilent)
{
    const std::string missing = dir / "NoSuchDir\\AutoUpdate_x.log";
    CLog log;
    EXPECT_FALSE(log.Open(missing.c_str()));
    log.WriteLog("lost");
    EXPECT_FALSE(FileExists(dir / "NoSuchDir"));
}

TEST_F(LogFixture, OthersMayReadAndWriteWhileOpen)
{
    CLog log;
    ASSERT_TRUE(log.Open(logPath.c_str()));
    for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
        kvo::unique_hfile other(::CreateFileA(logPath.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(other) << "access " << access;
    }
}

TEST_F(LogFixture, NothingIsWrittenAfterClose)
{
    CLog log;
    ASSERT_TRUE(log.Open(logPath.c_str()));
    log.Close();
    log.WriteLog("after close");
    EXPECT_EQ(ReadWholeFile(logPath), "");
}

namespace {
constexpr int kLinesPerThread = 300;
struct WriterArgs {
    CLog* log;
    const char* text;
    HANDLE done;
};
unsigned WriteManyLines(void* raw)
{
    auto* args = static_cast<WriterArgs*>(raw);
    for (int i = 0; i < kLinesPerThread; ++i)
        args->log->WriteLog(args->text);
    ::SetEvent(args->done);
    return 0;
}
}  // namespace

TEST_F(LogFixture, LinesOfTwoThreadsNeverInterleave)
{
    CLog log;
    ASSERT_TRUE(log.Open(logPath.c_str()));
    kvo::unique_handle doneA(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    kvo::unique_handle doneB(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const std::string textA(200, 'a');
    const std::string textB(200, 'b');
    WriterArgs a{&log, textA.c_str(), doneA.get()};
    WriterArgs b{&log, textB.c_str(), doneB.get()};
    ASSERT_TRUE(kvo::BeginWorkerThread(WriteManyLines, &a));
    ASSERT_TRUE(kvo::BeginWorkerThread(WriteManyLines, &b));
    HANDLE both[] = {doneA.get(), doneB.get()};
    ASSERT_EQ(::WaitForMultipleObjects(2, both, TRUE, 30000), WAIT_OBJECT_0);
    log.Close();

    const std::string content = ReadWholeFile(logPath);
    int countA = 0, countB = 0;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t end = content.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = content.substr(start, end - start);
        ASSERT_EQ(line.size(), 220u);
        const std::string text = line.substr(20);
        if (text == textA)
            ++countA;
        else if (text == textB)
            ++countB;
        else
            FAIL() << "mixed line: " << text;
        start = end + 2;
    }
    EXPECT_EQ(countA, kLinesPerThread);
    EXPECT_EQ(countB, kLinesPerThread);
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
    const __time64_t beforeMidnight = _mktime64(&local);
    EXPECT_EQ(MakeDatedLogPath("C:\\Game\\", beforeMidnight), "C:\\Game\\/DownLoad/AutoUpdate_20261206.log");
}
