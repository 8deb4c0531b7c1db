// The arithmetic of one picture of the progress window, apart from any drawing.
#pragma once
#include <cstdint>

/// The progress counters as one erase reads them.
struct ProgressCounters {
    int fileCount = 0;               ///< files of the run
    int filesLeft = 0;               ///< files not yet taken up
    std::uint32_t curFileSize = 0;   ///< announced length of the current file
    std::uint32_t curFileDone = 0;   ///< bytes of it received
};

enum class StatusText { Downloading, Complete };

/// What one erase draws.
struct ProgressFrame {
    bool drawn = false;       ///< false: nothing is drawn, the window keeps its picture
    int overallPercent = 0;   ///< 0..100
    int filePercent = 0;      ///< 0..100
    int overallWidth = 0;     ///< filled width of the overall bar (W1)
    int fileWidth = 0;        ///< filled width of the current file's bar (W2)
    StatusText text = StatusText::Downloading;
};

/// The frame for `counters` with bars `scaleWidth` pixels wide. A bar with nothing filled means no
/// frame; more bytes than announced fill the bar, never more.
ProgressFrame ComputeProgressFrame(const ProgressCounters& counters, int scaleWidth) noexcept;

/// Left edge of the bars: the strip centred on the background (widths of images that did not load are 0).
int BarLeft(int backgroundWidth, int stripWidth) noexcept;

/// The ellipsis count after a frame that showed `dotCount` marks: 1, 2, 1, 2, ...
int NextDotCount(int dotCount) noexcept;
