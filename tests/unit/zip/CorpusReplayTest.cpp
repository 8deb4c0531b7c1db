// The fuzzer's seed corpus through the fuzzer's own walk, so that both builds meet the same inputs.
#include <gtest/gtest.h>

#include "ArchiveWalk.h"
#include "ZipTestSupport.h"

TEST(CorpusReplay, EverySeedIsWalkedWithoutABrokenPromise)
{
    const std::vector<std::string> files = CorpusFiles();
    ASSERT_GE(files.size(), 5u) << "corpus missing";
    unsigned opened = 0;
    for (const std::string& file : files) {
        const WalkReport report = WalkArchive(file);
        EXPECT_TRUE(report.violations.empty()) << file << ": " << report.violations.front();
        opened += report.opened ? 1 : 0;
    }
    EXPECT_GT(opened, 0u) << "no seed opened: the walk tests nothing";
}

TEST(CorpusReplay, TheWalksOracleCatchesNamesThatClimbOut)
{
    const struct {
        const char* joined;
        bool under;
    } cases[] = {
        {"C:\\Lobby\\a\\b.txt", true},   {"C:\\Lobby\\a\\..\\b.txt", true}, {"C:\\Lobby\\..\\b.txt", false},
        {"C:\\Lobby\\a\\..\\..\\b", false}, {"C:\\Lobby\\\\x", false},       {"C:\\Lobby\\a:b", false},
        {"D:\\Other\\b.txt", false},      {"C:\\Lobby\\...\\x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StaysUnder("C:\\Lobby\\", c.joined), c.under) << c.joined;
}
