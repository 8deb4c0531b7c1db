#include "support/zip/DosTime.h"

#include <ctime>
#ifdef _WIN32
#include <time.h>
#endif

namespace {

constexpr int kDosEpochYear = 1980;
constexpr int kTmEpochYear = 1900;

/// Bits [shift, shift + width) of `value`.
int Bits(std::uint32_t value, unsigned shift, unsigned width)
{
    return static_cast<int>((value >> shift) & ((1u << width) - 1u));
}

}  // namespace

std::int64_t DosDateTimeToUnix(std::uint32_t dosDateTime) noexcept
{
    const std::uint32_t time = dosDateTime & 0xFFFFu;
    const std::uint32_t date = dosDateTime >> 16;
    std::tm local{};
    local.tm_sec = 2 * Bits(time, 0, 5);
    local.tm_min = Bits(time, 5, 6);
    local.tm_hour = Bits(time, 11, 5);
    local.tm_mday = Bits(date, 0, 5);
    local.tm_mon = Bits(date, 5, 4) - 1;
    local.tm_year = kDosEpochYear + Bits(date, 9, 7) - kTmEpochYear;
    local.tm_isdst = -1;
#ifdef _WIN32
    // The C runtime's time_t is 32 bits wide here; its 64-bit variant reaches every DOS date.
    return static_cast<std::int64_t>(_mktime64(&local));
#else
    static_assert(sizeof(std::time_t) == 8, "entry times need a 64-bit time_t");
    return static_cast<std::int64_t>(std::mktime(&local));
#endif
}
