#include <gtest/gtest.h>

#include <string>

#include "skin/ProgressFrame.h"

namespace {

constexpr int kStripWidth = 355;
constexpr std::uint32_t kHundredMegabytes = 100u * 1024u * 1024u;

struct FrameCase {
    const char* name;
    ProgressCounters counters;
    bool drawn;
    int overallPercent;
    int filePercent;
    int overallWidth;
    int fileWidth;
    StatusText text;
};

const FrameCase kFrameCases[] = {
    {"second of four files half received", {4, 2, 1000, 500}, true, 50, 50, 177, 177, StatusText::Downloading},
    {"first of two hundred files: under one percent", {200, 199, 1000, 999}, false, 0, 99, 0, 351,
     StatusText::Downloading},
    {"a 100 MB file half received: no overflow", {1, 0, kHundredMegabytes, kHundredMegabytes / 2}, true, 100, 50,
     355, 177, StatusText::Downloading},
    {"less than one percent of the file", {2, 1, 1000, 9}, false, 50, 0, 177, 0, StatusText::Downloading},
    {"last file complete", {4, 0, 2048, 2048}, true, 100, 100, 355, 355, StatusText::Complete},
    {"more bytes than announced fill the bar only", {2, 1, 1000, 5000}, true, 50, 100, 177, 355,
     StatusText::Downloading},
    {"more files taken than listed fill the bar only", {2, -3, 10, 10}, true, 100, 100, 355, 355,
     StatusText::Downloading},
    {"no manifest yet", {0, 0, 0, 0}, false, 0, 0, 0, 0, StatusText::Complete},
};

}  // namespace

TEST(ProgressFrame, FrameFollowsTheCounters)
{
    for (const FrameCase& c : kFrameCases) {
        SCOPED_TRACE(c.name);
        const ProgressFrame frame = ComputeProgressFrame(c.counters, kStripWidth);
        EXPECT_EQ(frame.drawn, c.drawn);
        EXPECT_EQ(frame.overallPercent, c.overallPercent);
        EXPECT_EQ(frame.filePercent, c.filePercent);
        EXPECT_EQ(frame.overallWidth, c.overallWidth);
        EXPECT_EQ(frame.fileWidth, c.fileWidth);
        EXPECT_EQ(frame.text, c.text);
    }
    // A strip that did not load draws no frame.
    EXPECT_FALSE(ComputeProgressFrame({4, 0, 10, 10}, 0).drawn);
}
