// The fuzzer's seed corpus through the fuzzer's own walk, so that both builds meet the same inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "ArchiveWalk.h"
#include "TempDir.h"
#include "support/zip/DirectoryOffsets.h"
#include "support/zip/ZipFormat.h"
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

TEST(CorpusReplay, TheCentralDirectoryAloneGivesEveryEntrysPlace)
{
    // What a player reads to find an entry of a package it must fetch alone.
    const std::vector<std::string> files = CorpusFiles();
    const auto mixed = std::find_if(files.begin(), files.end(), [](const std::string& file) {
        return file.size() >= 9 && file.compare(file.size() - 9, 9, "mixed.zip") == 0;
    });
    ASSERT_NE(mixed, files.end());
    const std::string archive = ReadWholeFile(*mixed);
    const std::size_t end = archive.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    const auto* bytes = reinterpret_cast<const unsigned char*>(archive.data());
    const std::uint32_t directory = zipformat::Le32(bytes + end + 16);
    std::map<std::string, std::uint32_t> offsets;
    ASSERT_TRUE(ReadEntryOffsets(bytes + directory, archive.size() - directory, offsets));
    EXPECT_EQ(offsets.size(), zipformat::Le16(bytes + end + 10));
    for (const auto& entry : offsets)
        EXPECT_EQ(zipformat::Le32(bytes + entry.second), zipformat::kLocalHeaderSignature) << entry.first;
    // Cut anywhere, it is refused.
    for (std::size_t cut = 1; cut < archive.size() - directory; cut += 7)
        EXPECT_FALSE(ReadEntryOffsets(bytes + directory, archive.size() - directory - cut, offsets)) << cut;
}
