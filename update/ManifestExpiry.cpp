#include "update/ManifestExpiry.h"

#include <cstdio>

namespace {

const char kFormatPattern[] = "dddd-dd-ddTdd:dd:ddZ";  // 'd': a decimal digit, the rest as they stand
constexpr std::size_t kTextSize = sizeof kFormatPattern;
constexpr unsigned kDecimalBase = 10;

/// The number of the `count` digits at `at` of `text`.
WORD Digits(const std::string& text, std::size_t at, std::size_t count)
{
    unsigned value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value * kDecimalBase + static_cast<unsigned>(text[at + i] - '0');
    return static_cast<WORD>(value);
}

constexpr WORD kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr WORD kFebruary = 2;
constexpr WORD kLastHour = 23;
constexpr WORD kLastMinute = 59;

bool IsLeapYear(WORD year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

/// A day that the calendar has, at a time of day that the clock shows (not every system checks).
bool IsRealTime(const SYSTEMTIME& parts)
{
    if (parts.wMonth < 1 || parts.wMonth > 12 || parts.wDay < 1 || parts.wHour > kLastHour ||
        parts.wMinute > kLastMinute || parts.wSecond > kLastMinute)
        return false;
    const WORD days = kDaysInMonth[parts.wMonth - 1] + (parts.wMonth == kFebruary && IsLeapYear(parts.wYear) ? 1 : 0);
    return parts.wDay <= days;
}

ULONGLONG Ticks(const FILETIME& time)
{
    return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

}  // namespace

bool ParseUtcTime(const std::string& text, FILETIME& time)
{
    if (text.size() != kTextSize - 1)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kFormatPattern[i] == 'd' ? !digit : text[i] != kFormatPattern[i])
            return false;
    }
    SYSTEMTIME parts{};
    parts.wYear = Digits(text, 0, 4);
    parts.wMonth = Digits(text, 5, 2);
    parts.wDay = Digits(text, 8, 2);
    parts.wHour = Digits(text, 11, 2);
    parts.wMinute = Digits(text, 14, 2);
    parts.wSecond = Digits(text, 17, 2);
    return IsRealTime(parts) && ::SystemTimeToFileTime(&parts, &time) != FALSE;
}

std::string FormatUtcTime(const FILETIME& time)
{
    SYSTEMTIME parts{};
    if (!::FileTimeToSystemTime(&time, &parts))
        return {};
    char text[kTextSize + 8];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", parts.wYear, parts.wMonth, parts.wDay,
                  parts.wHour, parts.wMinute, parts.wSecond);
    return text;
}

ManifestExpiry CheckManifestExpiry(const std::string& expires, const FILETIME& now)
{
    FILETIME until{};
    if (!ParseUtcTime(expires, until))
        return ManifestExpiry::malformed;
    return Ticks(until) < Ticks(now) ? ManifestExpiry::expired : ManifestExpiry::fresh;
}

FILETIME UtcNow() noexcept
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return now;
}
