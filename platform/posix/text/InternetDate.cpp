// The lenient cookie date algorithm, which reads the dates of HTTP headers as
// well; the calendar is the one of src/InternetTime.h.
#include "posix/text/InternetDate.h"

#include "posix/text/Ascii.h"
#include "src/InternetTime.h"

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
    if (year < 1601 || hour > 23 || minute > 59 || second > 59 || day < 1 ||
        day > InternetTime::DaysInMonth(year, month))
        return std::nullopt;
    return InternetTime::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
               86400 +
           hour * 3600 + minute * 60 + second;
}

SYSTEMTIME SystemTimeFromUnix(std::int64_t seconds) {
    return InternetTime::FromUnixSeconds(seconds);
}

std::int64_t UnixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace Corvane::Backend
