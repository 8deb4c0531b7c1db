// The expiry of a signed manifest: its Product's Expires attribute, a UTC time "YYYY-MM-DDTHH:MM:SSZ".
// A validly signed manifest that anyone on the path can replay for ever would let them hold every
// player at an old release; one that lapses can be held back only until it expires.
#pragma once
#include <windows.h>

#include <string>

enum class ManifestExpiry {
    fresh,      ///< not yet expired
    expired,    ///< earlier than the clock
    malformed,  ///< missing, or not a UTC time in the format
};

/// `expires` (the attribute's text; empty when absent) against `now` (UTC).
ManifestExpiry CheckManifestExpiry(const std::string& expires, const FILETIME& now);

/// Reads "YYYY-MM-DDTHH:MM:SSZ" (a real date and time of the Gregorian calendar); false otherwise.
bool ParseUtcTime(const std::string& text, FILETIME& time);

/// `time` as "YYYY-MM-DDTHH:MM:SSZ".
std::string FormatUtcTime(const FILETIME& time);

/// The system's clock, in UTC.
FILETIME UtcNow() noexcept;
