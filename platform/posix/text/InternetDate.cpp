// Internet dates (the cookie date algorithm, which reads the dates of HTTP
// headers as well) and calendar conversions.
#include "posix/text/InternetDate.h"

#include "posix/text/Ascii.h"

#include <array>
#include <chrono>

namespace Corvane::Backend {

namespace {

bool IsDelimiter(unsigned char c) {
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
           (c >= 0x7B && c <= 0x7E);
}

// Reads 1 to `most` digits at the start of `token` (at least `least`);
// returns the count read, 0 when there are too few.
std::size_t Digits(std::string_view token, std::size_t least, std::size_t most, int& value) {
    std::size_t n = 0;
    value = 0;
    while (n < token.size() && n < most && IsAsciiDigit(token[n])) value = value * 10 + (token[n++] - '0');
    if (n < least) return 0;
    // More digits than allowed is no match either.
    if (n < token.size() && IsAsciiDigit(token[n])) return 0;
    return n;
}

// hh:mm:ss, each one or two digits, anything after the seconds ignored.
bool ParseTime(std::string_view token, int& h, int& m, int& s) {
    std::size_t n = Digits(token, 1, 2, h);
    if (!n || n >= token.size() || token[n] != ':') return false;
    token.remove_prefix(n + 1);
    n = Digits(token, 1, 2, m);
    if (!n || n >= token.size() || token[n] != ':') return false;
    token.remove_prefix(n + 1);
    return Digits(token, 1, 2, s) != 0;
}

int ParseMonth(std::string_view token) {
    static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() < 3) return 0;
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (EqualsIgnoringAsciiCase(token.substr(0, 3), kMonths[i])) return static_cast<int>(i) + 1;
    return 0;
}

bool IsLeap(std::int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(std::int64_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
    bool foundTime = false, foundDay = false, foundMonth = false, foundYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsDelimiter(static_cast<unsigned char>(text[i]))) ++i;
        const std::size_t start = i;
        while (i < text.size() && !IsDelimiter(static_cast<unsigned char>(text[i]))) ++i;
        const std::string_view token = text.substr(start, i - start);
        if (token.empty()) continue;
        int value = 0;
        if (!foundTime && ParseTime(token, hour, minute, second)) {
            foundTime = true;
        } else if (!foundDay && Digits(token, 1, 2, value)) {
            foundDay = true;
            day = value;
        } else if (!foundMonth && (month = ParseMonth(token)) != 0) {
            foundMonth = true;
        } else if (!foundYear && Digits(token, 2, 4, value)) {
            foundYear = true;
            year = value;
        }
    }
    if (!foundTime || !foundDay || !foundMonth || !foundYear) return std::nullopt;
    if (year >= 70 && year <= 99)
        year += 1900;
    else if (year >= 0 && year <= 69)
        year += 2000;
    if (year < 1601 || hour > 23 || minute > 59 || second > 59 || day < 1 || day > DaysInMonth(year, month))
        return std::nullopt;
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hour * 3600 + minute * 60 + second;
}

SYSTEMTIME SystemTimeFromUnix(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970 (inverse of DaysFromCivil).
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
    // 1970-01-01 was a Thursday (4).
    st.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);
    st.wHour = static_cast<WORD>(rest / 3600);
    st.wMinute = static_cast<WORD>(rest % 3600 / 60);
    st.wSecond = static_cast<WORD>(rest % 60);
    st.wMilliseconds = 0;
    return st;
}

std::int64_t UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace Corvane::Backend
