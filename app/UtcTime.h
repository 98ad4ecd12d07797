// Times as a station's record writes them: UTC, ISO 8601, to the millisecond; computed here
// because gmtime's buffer is shared with every thread's localtime.
#pragma once

#include <optional>
#include <string>

// "2026-12-09T10:15:02.123Z" of milliseconds since 1970-01-01 UTC.
std::string IsoUtc(long long ms);
// Milliseconds since 1970-01-01 UTC of "2026-12-09", "2026-12-09T10:15:02.123Z" or
// "2026-12-09T12:15:02+02:00" (no zone: UTC); nothing for any other text or an impossible date.
std::optional<long long> ParseUtcTime(const std::string& text);
// "2026-12-09": the UTC date of a time.
std::string UtcDate(long long ms);
