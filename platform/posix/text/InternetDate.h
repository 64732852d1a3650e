// Parsing of the dates HTTP and cookies use (Date, Expires, Last-Modified,
// a cookie's Expires attribute, ...) and conversions of times.
#pragma once

#include <Platform/WinInet.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace Corvane::Backend {

/// Parses a date with the lenient algorithm cookies use (RFC 6265, 5.1.1),
/// which reads RFC 1123 ("Sun, 06 Nov 1994 08:49:37 GMT"), RFC 850
/// ("Sunday, 06-Nov-94 08:49:37 GMT") and asctime ("Sun Nov  6 08:49:37
/// 1994") dates alike. Two-digit years 70-99 are 19xx, 00-69 are 20xx. The
/// result is seconds since 1970-01-01 UTC; nothing when the text holds no
/// valid date (a missing part, a day past the month's end, 23:59:60, ...).
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

/// The calendar fields of a time in seconds since 1970 (UTC), with the day
/// of the week; milliseconds are 0.
SYSTEMTIME SystemTimeFromUnix(std::int64_t seconds);

/// The current time in seconds since 1970 (UTC).
std::int64_t UnixNow();

}  // namespace Corvane::Backend
