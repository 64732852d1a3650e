// Internet dates, read and written; see InternetTime.h.
#include "src/InternetTime.h"

#include <array>

namespace Corvane::InternetTime {

namespace {

using Text = std::basic_string_view<WCHAR>;

constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<std::string_view, 12> kMonthNames = {"january",   "february", "march",    "april",
                                                          "may",       "june",     "july",     "august",
                                                          "september", "october",  "november", "december"};
constexpr std::array<std::string_view, 7> kWeekdays = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
constexpr std::array<std::string_view, 7> kWeekdayNames = {"sunday",   "monday", "tuesday", "wednesday",
                                                           "thursday", "friday", "saturday"};

// Whatever WCHAR is (char16_t, or wchar_t on Windows), compared as a number.
constexpr std::uint32_t Unit(WCHAR c) {
    return static_cast<std::uint32_t>(c);
}

constexpr bool IsDigit(WCHAR c) {
    return Unit(c) >= '0' && Unit(c) <= '9';
}

constexpr bool IsLetter(WCHAR c) {
    return (Unit(c) >= 'a' && Unit(c) <= 'z') || (Unit(c) >= 'A' && Unit(c) <= 'Z');
}

// Blanks and commas only separate the parts; any number of them may.
constexpr bool IsSeparator(WCHAR c) {
    return Unit(c) == ' ' || Unit(c) == '\t' || Unit(c) == ',';
}

// Whether `token` is `word` (lower-case ASCII) in any case.
bool Is(Text token, std::string_view word) {
    if (token.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        std::uint32_t c = Unit(token[i]);
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        if (c != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

// The 1-based position of `token` among the abbreviations or the full names.
template <std::size_t N>
int IndexOf(Text token, const std::array<std::string_view, N>& shortNames,
            const std::array<std::string_view, N>& longNames) {
    for (std::size_t i = 0; i < N; ++i)
        if (Is(token, shortNames[i]) || Is(token, longNames[i])) return static_cast<int>(i) + 1;
    return 0;
}

// `token` whole as a number of `least` to `most` digits.
bool Number(Text token, std::size_t least, std::size_t most, int& value) {
    if (token.size() < least || token.size() > most) return false;
    value = 0;
    for (const WCHAR c : token) {
        if (!IsDigit(c)) return false;
        value = value * 10 + static_cast<int>(Unit(c) - '0');
    }
    return true;
}

// Splits `token` at the first `separator`: `head` before it, `token` after.
bool Split(Text& token, std::uint32_t separator, Text& head) {
    for (std::size_t i = 0; i < token.size(); ++i) {
        if (Unit(token[i]) != separator) continue;
        head = token.substr(0, i);
        token.remove_prefix(i + 1);
        return true;
    }
    return false;
}

bool Contains(Text token, std::uint32_t c) {
    for (const WCHAR unit : token)
        if (Unit(unit) == c) return true;
    return false;
}

// The parts of a date as the text gives them; -1 for a part not seen yet.
struct Parts {
    int day = -1, month = -1, year = -1;
    std::size_t yearDigits = 0;
    int hour = -1, minute = 0, second = 0;
    int offset = 0;  // seconds east of UTC
    bool zone = false;
};

bool TakeYear(Text token, Parts& parts) {
    if (token.size() != 2 && token.size() != 4 && token.size() != 5) return false;
    parts.yearDigits = token.size();
    return Number(token, 2, 5, parts.year);
}

// h:m or h:m:s, each one or two digits.
bool TakeTime(Text token, Parts& parts) {
    Text hours, minutes;
    if (!Split(token, ':', hours) || !Number(hours, 1, 2, parts.hour)) return false;
    if (!Split(token, ':', minutes)) return Number(token, 1, 2, parts.minute);
    return Number(minutes, 1, 2, parts.minute) && Number(token, 1, 2, parts.second);
}

// The RFC 850 date: d-Mon-yy (or a longer year).
bool TakeDashedDate(Text token, Parts& parts) {
    Text day, month;
    if (!Split(token, '-', day) || !Split(token, '-', month)) return false;
    parts.month = IndexOf(month, kMonths, kMonthNames);
    return Number(day, 1, 2, parts.day) && parts.month != 0 && TakeYear(token, parts);
}

// GMT and its names, or an offset of hours and minutes: +hhmm, -hh:mm.
bool TakeZone(Text token, Parts& parts) {
    if (Is(token, "gmt") || Is(token, "utc") || Is(token, "ut") || Is(token, "z")) {
        parts.zone = true;
        return true;
    }
    if (token.size() < 5 || (Unit(token[0]) != '+' && Unit(token[0]) != '-')) return false;
    const int sign = Unit(token[0]) == '-' ? -1 : 1;
    Text minutesText = token.substr(3);
    if (Unit(minutesText[0]) == ':') minutesText.remove_prefix(1);
    int hours = 0, minutes = 0;
    if (!Number(token.substr(1, 2), 2, 2, hours) || !Number(minutesText, 2, 2, minutes) || hours > 23 ||
        minutes > 59)
        return false;
    parts.offset = sign * (hours * 3600 + minutes * 60);
    parts.zone = true;
    return true;
}

// Takes one part of the date; false for a part the text gives twice, or one
// it cannot be.
bool Take(Text token, bool first, Parts& parts) {
    const std::uint32_t lead = Unit(token[0]);
    if (IsLetter(token[0])) {
        if (first && IndexOf(token, kWeekdays, kWeekdayNames) != 0) return true;
        if (parts.month < 0) {
            parts.month = IndexOf(token, kMonths, kMonthNames);
            if (parts.month != 0) return true;
            parts.month = -1;
        }
        return !parts.zone && TakeZone(token, parts);
    }
    if (lead == '+' || lead == '-') return !parts.zone && TakeZone(token, parts);
    if (!IsDigit(token[0])) return false;
    if (Contains(token, ':')) return parts.hour < 0 && TakeTime(token, parts);
    if (Contains(token, '-'))
        return parts.day < 0 && parts.month < 0 && parts.year < 0 && TakeDashedDate(token, parts);
    if (parts.day < 0) return Number(token, 1, 2, parts.day);
    return parts.year < 0 && TakeYear(token, parts);
}

}  // namespace

bool IsLeapYear(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(std::int64_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

WORD DayOfWeek(std::int64_t year, unsigned month, unsigned day) {
    // 1970-01-01 was a Thursday (4).
    return static_cast<WORD>((DaysFromCivil(year, month, day) % 7 + 11) % 7);
}

SYSTEMTIME FromUnixSeconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // The civil date from days since 1970 (the inverse of DaysFromCivil).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);

    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wDayOfWeek = static_cast<WORD>((days % 7 + 11) % 7);
    st.wHour = static_cast<WORD>(rest / 3600);
    st.wMinute = static_cast<WORD>(rest % 3600 / 60);
    st.wSecond = static_cast<WORD>(rest % 60);
    st.wMilliseconds = 0;
    return st;
}

bool IsValid(const SYSTEMTIME& time, int lastYear) {
    return time.wYear >= kFirstYear && time.wYear <= lastYear && time.wMonth >= 1 && time.wMonth <= 12 &&
           time.wDay >= 1 && time.wDay <= DaysInMonth(time.wYear, time.wMonth) && time.wHour <= 23 &&
           time.wMinute <= 59 && time.wSecond <= 59 && time.wMilliseconds <= 999;
}

bool Parse(Text text, SYSTEMTIME& time) {
    Parts parts;
    bool first = true;
    for (std::size_t i = 0; i < text.size();) {
        if (IsSeparator(text[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && !IsSeparator(text[i])) ++i;
        if (!Take(text.substr(start, i - start), first, parts)) return false;
        first = false;
    }
    if (parts.day < 0 || parts.month <= 0 || parts.year < 0 || parts.hour < 0) return false;
    if (parts.yearDigits == 2) parts.year += parts.year < 70 ? 2000 : 1900;
    // A zone moves the date by less than a day, so only a year next to the
    // range can come back into it (and no year out of a WORD's reach is kept).
    if (parts.year < kFirstYear - 1 || parts.year > kLastYear + 1) return false;
    if (parts.day < 1 || parts.day > DaysInMonth(parts.year, parts.month) || parts.hour > 23 ||
        parts.minute > 59 || parts.second > 59)
        return false;
    const std::int64_t seconds =
        DaysFromCivil(parts.year, static_cast<unsigned>(parts.month), static_cast<unsigned>(parts.day)) *
            86400 +
        parts.hour * 3600 + parts.minute * 60 + parts.second - parts.offset;
    const SYSTEMTIME result = FromUnixSeconds(seconds);
    if (!IsValid(result, kLastYear)) return false;
    time = result;
    return true;
}

void Format(const SYSTEMTIME& time, WCHAR (&buffer)[kFormattedLength + 1]) {
    static constexpr char kWeekdayText[] = "SunMonTueWedThuFriSat";
    static constexpr char kMonthText[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    std::size_t at = 0;
    const auto put = [&](char c) { buffer[at++] = static_cast<WCHAR>(c); };
    const auto name = [&](const char* names, int index) {
        for (int i = 0; i < 3; ++i) put(names[index * 3 + i]);
    };
    const auto number = [&](int value, int digits) {
        for (int divisor = digits == 4 ? 1000 : 10; divisor > 0; divisor /= 10)
            put(static_cast<char>('0' + value / divisor % 10));
    };
    name(kWeekdayText, DayOfWeek(time.wYear, time.wMonth, time.wDay));
    put(',');
    put(' ');
    number(time.wDay, 2);
    put(' ');
    name(kMonthText, time.wMonth - 1);
    put(' ');
    number(time.wYear, 4);
    put(' ');
    number(time.wHour, 2);
    put(':');
    number(time.wMinute, 2);
    put(':');
    number(time.wSecond, 2);
    for (const char c : std::string_view(" GMT")) put(c);
    buffer[at] = 0;
}

}  // namespace Corvane::InternetTime
