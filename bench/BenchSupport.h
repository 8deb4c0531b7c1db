// What the bench programs share: a wall clock and the result line the driver reads.
#pragma once
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>

/// Seconds since construction, from the performance counter.
class BenchClock {
public:
    BenchClock() noexcept
    {
        ::QueryPerformanceFrequency(&m_frequency);
        ::QueryPerformanceCounter(&m_start);
    }
    double Seconds() const noexcept
    {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) / static_cast<double>(m_frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_frequency{};
    LARGE_INTEGER m_start{};
};

/// The process's peak working set so far, in bytes (0 when the system cannot tell).
inline std::uint64_t PeakWorkingSet() noexcept
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.PeakWorkingSetSize;
}

/// The one line the driver parses: "ok=<0|1> seconds=<s> bytes=<n> peak_ws=<bytes>".
inline void PrintBenchResult(bool ok, double seconds, std::uint64_t bytes) noexcept
{
    std::printf("ok=%d seconds=%.4f bytes=%llu peak_ws=%llu\n", ok ? 1 : 0, seconds,
                static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(PeakWorkingSet()));
}
