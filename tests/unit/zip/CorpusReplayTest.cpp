// The fuzzer's seed corpus through the fuzzer's own walk, so that both builds meet the same inputs.
#include <gtest/gtest.h>

#include "ArchiveWalk.h"
#include "ZipTestSupport.h"

TEST(CorpusReplay, EverySeedIsWalkedWithoutABrokenPromise)
{
    const std::vector<std::string> files = CorpusFiles();
    ASSERT_GE(files.size(), 5u) << "corpus missing";
    unsigned opened = 0;
    unsigned openedAsRange = 0;
    for (const std::string& file : files) {
        const WalkReport report = WalkArchive(file);
        EXPECT_TRUE(report.violations.empty()) << file << ": " << report.violations.front();
        opened += report.opened ? 1 : 0;
        const WalkReport range = WalkArchive(file, true);
        EXPECT_TRUE(range.violations.empty()) << file << " as a range: " << range.violations.front();
        openedAsRange += range.opened && range.entriesRead > 0 ? 1 : 0;
    }
    EXPECT_GT(opened, 0u) << "no seed opened: the walk tests nothing";
    EXPECT_GT(openedAsRange, 0u) << "no seed read as a package's range";
}
