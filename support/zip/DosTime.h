// The DOS date and time of archive entries.
#pragma once
#include <cstdint>

/// Seconds since 1970-01-01 UTC of a DOS date (high word) and time (low word) read as local
/// time, daylight saving decided by the time library; -1 when the time library cannot convert it.
std::int64_t DosDateTimeToUnix(std::uint32_t dosDateTime) noexcept;
