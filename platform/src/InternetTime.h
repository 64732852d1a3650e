// Internet dates as InternetTimeToSystemTimeW and InternetTimeFromSystemTimeW
// read and write them, and the calendar arithmetic behind them. Shared by the
// portable backend, which implements the two functions with it, and the
// Windows adapter, which reads dates with it instead of wininet.dll and checks
// records with it before the DLL formats them, so both builds read and write
// dates alike. Nothing here allocates.
#pragma once

#include <Platform/WinInet.h>

#include <cstdint>
#include <string_view>

namespace Corvane::InternetTime {

/// The years a SYSTEMTIME can hold, and the last one the RFC 1123 text can
/// (its year has four digits).
inline constexpr int kFirstYear = 1601;
inline constexpr int kLastYear = 30827;
inline constexpr int kLastFormattedYear = 9999;

/// Characters of an RFC 1123 date ("Sun, 06 Nov 1994 08:49:37 GMT"),
/// terminator excluded.
inline constexpr std::size_t kFormattedLength = 29;

bool IsLeapYear(std::int64_t year);

/// Days of `month` (1-12) in `year`.
int DaysInMonth(std::int64_t year, int month);

/// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar
/// (negative before it).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);

/// The day of the week of a date, 0 for Sunday, as SYSTEMTIME counts it.
WORD DayOfWeek(std::int64_t year, unsigned month, unsigned day);

/// The calendar fields of a time in seconds since 1970 (UTC), with the day of
/// the week; milliseconds are 0.
SYSTEMTIME FromUnixSeconds(std::int64_t seconds);

/// Whether every field of `time` but the day of the week is in range: the
/// year within kFirstYear..`lastYear`, a day the month has, hours 0-23,
/// minutes and seconds 0-59, milliseconds 0-999.
bool IsValid(const SYSTEMTIME& time, int lastYear);

/// Reads an Internet date: RFC 1123 ("Sun, 06 Nov 1994 08:49:37 GMT"),
/// RFC 850 ("Sunday, 06-Nov-94 08:49:37 GMT"), asctime ("Sun Nov  6 08:49:37
/// 1994") and the looser forms servers send: no weekday (a weekday is not
/// compared with the date), blanks and commas repeated, one-digit fields,
/// seconds left out, full month names, a two-digit year (70-99 are 19xx, 00-69
/// 20xx), and a zone of GMT, UTC, UT, Z or a numeric offset (+0200, -05:30),
/// which is applied; no zone is GMT. The result is UTC with its day of the week
/// and 0 milliseconds. False, with `time` untouched, for anything else: a part
/// missing or repeated, a word or character it does not know, a field out of
/// range, or a time outside the years a SYSTEMTIME holds.
bool Parse(std::basic_string_view<WCHAR> text, SYSTEMTIME& time);

/// Writes `time` as an RFC 1123 date of kFormattedLength characters and a
/// terminator into `buffer`. The weekday is the date's own, whatever
/// wDayOfWeek says. `time` must be valid up to kLastFormattedYear (IsValid).
void Format(const SYSTEMTIME& time, WCHAR (&buffer)[kFormattedLength + 1]);

}  // namespace Corvane::InternetTime
