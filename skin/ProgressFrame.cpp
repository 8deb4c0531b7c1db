#include "skin/ProgressFrame.h"

namespace {

constexpr std::int64_t kFullPercent = 100;
constexpr int kMaxDots = 2;

/// done * 100 / total, rounded down, within 0..100; 0 when there is no total.
int Percent(std::int64_t done, std::int64_t total) noexcept
{
    if (total <= 0 || done <= 0)
        return 0;
    const std::int64_t percent = done * kFullPercent / total;
    return static_cast<int>(percent > kFullPercent ? kFullPercent : percent);
}

int FilledWidth(int scaleWidth, int percent) noexcept
{
    return static_cast<int>(static_cast<std::int64_t>(scaleWidth) * percent / kFullPercent);
}

}  // namespace

ProgressFrame ComputeProgressFrame(const ProgressCounters& counters, int scaleWidth) noexcept
{
    ProgressFrame frame;
    frame.filePercent = Percent(counters.curFileDone, counters.curFileSize);
    frame.overallPercent =
        Percent(static_cast<std::int64_t>(counters.fileCount) - counters.filesLeft, counters.fileCount);
    frame.overallWidth = FilledWidth(scaleWidth, frame.overallPercent);
    frame.fileWidth = FilledWidth(scaleWidth, frame.filePercent);
    frame.drawn = frame.overallWidth > 0 && frame.fileWidth > 0;
    frame.text = counters.filesLeft == 0 && counters.curFileSize == counters.curFileDone ? StatusText::Complete
                                                                                         : StatusText::Downloading;
    return frame;
}

int BarLeft(int backgroundWidth, int stripWidth) noexcept
{
    return (backgroundWidth - stripWidth) / 2;
}

int NextDotCount(int dotCount) noexcept
{
    return dotCount < kMaxDots ? dotCount + 1 : 1;
}
