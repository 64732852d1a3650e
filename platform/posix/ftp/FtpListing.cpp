// Reading the lines of FTP directory listings (MLSD facts, Unix and MS-DOS
// LIST columns) into entries.
#include "posix/ftp/FtpListing.h"

#include "posix/ftp/FtpText.h"
#include "posix/text/Ascii.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <utility>

namespace Corvane::Backend {

namespace {

constexpr bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A blank-separated column of a LIST line and where in the line it ends.
struct Column {
    std::string_view text;
    std::size_t end = 0;
};

// Enough columns to reach past a Unix line's date, whatever comes before it.
using Columns = std::array<Column, 12>;

std::size_t SplitColumns(std::string_view line, Columns& columns) {
    std::size_t count = 0, at = 0;
    const std::size_t size = line.size();
    while (count < columns.size()) {
        while (at < size && IsBlank(line[at])) ++at;
        if (at == size) break;
        std::size_t end = at;
        while (end < size && !IsBlank(line[end])) ++end;
        columns[count++] = {line.substr(at, end - at), end};
        at = end;
    }
    return count;
}

// A text of `least` to `most` digits as a number.
bool SmallNumber(std::string_view text, std::size_t least, std::size_t most, int& value) {
    if (text.size() < least || text.size() > most) return false;
    value = 0;
    for (char c : text) {
        if (!IsAsciiDigit(c)) return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Seconds since 1970 of a civil date and time (UTC); nothing when the date or time does not exist.
std::optional<std::int64_t> UnixFromCivil(int year, int month, int day, int hour, int minute, int second) {
    namespace chrono = std::chrono;
    const chrono::year_month_day date{chrono::year{year}, chrono::month{static_cast<unsigned>(month)},
                                      chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return chrono::sys_days{date}.time_since_epoch().count() * std::int64_t{86400} + hour * 3600 +
           minute * 60 + second;
}

int CivilYear(std::int64_t seconds) {
    namespace chrono = std::chrono;
    const auto days = chrono::floor<chrono::days>(chrono::sys_seconds{chrono::seconds{seconds}});
    return static_cast<int>(chrono::year_month_day{days}.year());
}

// "." and ".." name no entry of the directory.
bool IsOwnOrParent(std::string_view name) {
    return name == "." || name == "..";
}

void SetTime(FtpListingEntry& entry, std::optional<std::int64_t> seconds) {
    entry.hasTime = seconds.has_value();
    if (seconds) entry.lastWrite = FileTimeFromUnix(*seconds);
}

// ---- MLSD

// "YYYYMMDDHHMMSS" with an optional fraction of a second, which is dropped.
std::optional<std::int64_t> ReadMlsdTime(std::string_view value) {
    if (value.size() < 14 || (value.size() > 14 && value[14] != '.')) return std::nullopt;
    int field[6] = {};
    constexpr std::size_t kWidth[] = {4, 2, 2, 2, 2, 2};
    for (std::size_t i = 0, start = 0; i < 6; start += kWidth[i++])
        if (!SmallNumber(value.substr(start, kWidth[i]), kWidth[i], kWidth[i], field[i])) return std::nullopt;
    return UnixFromCivil(field[0], field[1], field[2], field[3], field[4], field[5]);
}

// The facts of one MLSD line that decide more than one field.
struct MlsdFacts {
    bool skip = false;  // cdir or pdir
    bool hasPerm = false;
    std::string_view perm;
};

void ApplyMlsdFact(std::string_view name, std::string_view value, MlsdFacts& facts, FtpListingEntry& entry) {
    if (EqualsIgnoringAsciiCase(name, "type")) {
        entry.isDirectory = EqualsIgnoringAsciiCase(value, "dir");
        facts.skip = EqualsIgnoringAsciiCase(value, "cdir") || EqualsIgnoringAsciiCase(value, "pdir");
    } else if (EqualsIgnoringAsciiCase(name, "size")) {
        std::uint64_t size = 0;
        if (ParseDecimal(value, size)) entry.size = size;
    } else if (EqualsIgnoringAsciiCase(name, "modify")) {
        if (const auto seconds = ReadMlsdTime(value)) SetTime(entry, seconds);
    } else if (EqualsIgnoringAsciiCase(name, "perm")) {
        facts.hasPerm = true;
        facts.perm = value;
    }
}

// A file is writable with 'a' (append) or 'w' (write); a directory with 'c'
// (create files), 'm' (make directories) or 'p' (purge).
bool ReadOnlyByPerm(const MlsdFacts& facts, bool isDirectory) {
    if (!facts.hasPerm) return false;
    return facts.perm.find_first_of(isDirectory ? "cCmMpP" : "aAwW") == facts.perm.npos;
}

// ---- Unix LIST

// The type and permission letters of `ls -l`, tested one by one: a listing
// has a line per entry, and string_view's find calls memchr for each test.
constexpr bool IsModeType(char c) {
    return c == '-' || c == 'd' || c == 'l' || c == 'b' || c == 'c' || c == 'p' || c == 's' || c == 'D';
}

constexpr bool IsModePermission(char c) {
    return c == '-' || c == 'r' || c == 'w' || c == 'x' || c == 's' || c == 'S' || c == 't' || c == 'T' ||
           c == 'l' || c == 'L';
}

bool IsUnixMode(std::string_view column) {
    if (column.size() < 10 || !IsModeType(column[0])) return false;
    for (std::size_t i = 1; i < 10; ++i)
        if (!IsModePermission(column[i])) return false;
    return true;
}

// The column is lowered once and compared with each month's three letters:
// the search for the date tries it on the owner and group columns as well.
int MonthNumber(std::string_view column) {
    static constexpr std::string_view kMonths = "janfebmaraprmayjunjulaugsepoctnovdec";
    if (column.size() != 3) return 0;
    const char lower[3] = {ToLowerAscii(column[0]), ToLowerAscii(column[1]), ToLowerAscii(column[2])};
    for (std::size_t i = 0; i < kMonths.size(); i += 3)
        if (kMonths[i] == lower[0] && kMonths[i + 1] == lower[1] && kMonths[i + 2] == lower[2])
            return static_cast<int>(i / 3) + 1;
    return 0;
}

struct UnixDate {
    int month = 0, day = 0, year = 0, hour = 0, minute = 0;
    bool hasYear = false;
};

// "Mon D HH:MM" or "Mon D YYYY" in the columns from `at` on.
bool ReadUnixDate(const Columns& columns, std::size_t at, UnixDate& date) {
    date.month = MonthNumber(columns[at].text);
    if (date.month == 0 || !SmallNumber(columns[at + 1].text, 1, 2, date.day) || date.day == 0) return false;
    const std::string_view last = columns[at + 2].text;
    const std::size_t colon = last.find(':');
    date.hasYear = colon == last.npos;
    if (date.hasYear) return SmallNumber(last, 4, 4, date.year);
    return SmallNumber(last.substr(0, colon), 1, 2, date.hour) &&
           SmallNumber(last.substr(colon + 1), 2, 2, date.minute);
}

// The size column before the date at `at`: a number, or for a device its
// "major, minor" (one column or two), which gives no size.
bool ReadUnixSize(const Columns& columns, std::size_t at, bool device, std::uint64_t& size) {
    const std::string_view last = columns[at - 1].text;
    if (!device) return ParseDecimal(last, size);
    size = 0;
    std::uint64_t unused = 0;
    const std::size_t comma = last.find(',');
    if (comma != last.npos)
        return ParseDecimal(last.substr(0, comma), unused) && ParseDecimal(last.substr(comma + 1), unused);
    if (at < 3) return false;
    const std::string_view major = columns[at - 2].text;
    return ParseDecimal(last, unused) && major.back() == ',' &&
           ParseDecimal(major.substr(0, major.size() - 1), unused);
}

// A time without a year is in the current year unless that is more than a
// day ahead of now; then it is last year's.
std::optional<std::int64_t> UnixEntryTime(const UnixDate& date, std::int64_t now) {
    if (date.hasYear) return UnixFromCivil(date.year, date.month, date.day, 0, 0, 0);
    const int year = CivilYear(now);
    auto seconds = UnixFromCivil(year, date.month, date.day, date.hour, date.minute, 0);
    if (!seconds || *seconds > now + 86400)
        seconds = UnixFromCivil(year - 1, date.month, date.day, date.hour, date.minute, 0);
    return seconds;
}

// Finds the date columns (the first "month day time-or-year" run after a
// size), so owner and group may be missing or numeric; the name is what
// follows the date after one blank.
bool ParseUnixLine(std::string_view line, const Columns& columns, std::size_t count, std::int64_t now,
                   FtpListingEntry& entry) {
    const char type = columns[0].text[0];
    for (std::size_t at = 2; at + 2 < count; ++at) {
        UnixDate date;
        std::uint64_t size = 0;
        if (!ReadUnixDate(columns, at, date) || !ReadUnixSize(columns, at, type == 'b' || type == 'c', size))
            continue;
        const std::size_t start = columns[at + 2].end + 1;
        std::string_view name = start < line.size() ? line.substr(start) : std::string_view();
        if (type == 'l') name = name.substr(0, name.find(" -> "));
        if (name.empty() || IsOwnOrParent(name)) return false;
        entry = FtpListingEntry{};
        entry.name.assign(name);
        entry.size = size;
        entry.isDirectory = type == 'd';
        entry.readOnly = columns[0].text[2] != 'w';
        SetTime(entry, UnixEntryTime(date, now));
        return true;
    }
    return false;
}

// ---- MS-DOS LIST

// MM-DD-YY or MM-DD-YYYY ('/' also separates).
bool ReadDosDate(std::string_view column, int& year, int& month, int& day) {
    if ((column.size() != 8 && column.size() != 10) || column[2] != column[5] ||
        (column[2] != '-' && column[2] != '/'))
        return false;
    if (!SmallNumber(column.substr(0, 2), 2, 2, month) || !SmallNumber(column.substr(3, 2), 2, 2, day) ||
        !SmallNumber(column.substr(6), 2, 4, year))
        return false;
    if (column.size() == 8) year += year < 70 ? 2000 : 1900;
    return true;
}

// HH:MM followed by AM or PM, or a 24-hour HH:MM.
bool ReadDosTime(std::string_view column, int& hour, int& minute) {
    const bool pm = column.size() > 2 && EqualsIgnoringAsciiCase(column.substr(column.size() - 2), "pm");
    const bool am = column.size() > 2 && EqualsIgnoringAsciiCase(column.substr(column.size() - 2), "am");
    if (am || pm) column.remove_suffix(2);
    const std::size_t colon = column.find(':');
    if (colon == column.npos || !SmallNumber(column.substr(0, colon), 1, 2, hour) ||
        !SmallNumber(column.substr(colon + 1), 2, 2, minute))
        return false;
    if (!am && !pm) return true;
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (pm ? 12 : 0);
    return true;
}

bool ParseDosLine(std::string_view line, const Columns& columns, std::size_t count, FtpListingEntry& entry) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    if (count < 4 || !ReadDosDate(columns[0].text, year, month, day) ||
        !ReadDosTime(columns[1].text, hour, minute))
        return false;
    const auto seconds = UnixFromCivil(year, month, day, hour, minute, 0);
    const bool isDirectory = EqualsIgnoringAsciiCase(columns[2].text, "<dir>");
    std::uint64_t size = 0;
    if (!seconds || (!isDirectory && !ParseDecimal(columns[2].text, size))) return false;
    const std::string_view name = TrimStart(line.substr(columns[2].end));
    if (IsOwnOrParent(name)) return false;
    entry = FtpListingEntry{};
    entry.name.assign(name);
    entry.size = size;
    entry.isDirectory = isDirectory;
    SetTime(entry, seconds);
    return true;
}

// The form a LIST line's first column shows: a Unix mode or an MS-DOS date.
FtpListForm FormOf(std::string_view firstColumn) {
    if (IsUnixMode(firstColumn)) return FtpListForm::kUnix;
    int year = 0, month = 0, day = 0;
    return ReadDosDate(firstColumn, year, month, day) ? FtpListForm::kDos : FtpListForm::kUnknown;
}

}  // namespace

bool ParseMlsdLine(std::string_view line, FtpListingEntry& entry) {
    FtpListingEntry out;
    MlsdFacts facts;
    std::size_t at = 0;
    while (at < line.size() && line[at] != ' ') {
        const std::size_t semicolon = line.find(';', at);
        if (semicolon == line.npos) return false;
        const std::string_view fact = line.substr(at, semicolon - at);
        const std::size_t equals = fact.find('=');
        if (equals == fact.npos || equals == 0) return false;
        ApplyMlsdFact(fact.substr(0, equals), fact.substr(equals + 1), facts, out);
        at = semicolon + 1;
    }
    if (at + 1 >= line.size() || facts.skip) return false;
    out.name.assign(line.substr(at + 1));
    if (IsOwnOrParent(out.name)) return false;
    out.readOnly = ReadOnlyByPerm(facts, out.isDirectory);
    entry = std::move(out);
    return true;
}

FtpListForm DetectListForm(std::string_view line) {
    Columns columns;
    return SplitColumns(line, columns) == 0 ? FtpListForm::kUnknown : FormOf(columns[0].text);
}

bool ParseListLine(std::string_view line, std::int64_t now, FtpListingEntry& entry) {
    Columns columns;
    const std::size_t count = SplitColumns(line, columns);
    switch (count == 0 ? FtpListForm::kUnknown : FormOf(columns[0].text)) {
    case FtpListForm::kUnix:
        return ParseUnixLine(line, columns, count, now, entry);
    case FtpListForm::kDos:
        return ParseDosLine(line, columns, count, entry);
    default:
        return false;
    }
}

}  // namespace Corvane::Backend
