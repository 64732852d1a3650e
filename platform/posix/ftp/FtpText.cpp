// Reply arguments, command arguments, search patterns, times and ASCII line
// ends of the FTP client.
#include "posix/ftp/FtpText.h"

#include "posix/text/Ascii.h"

#include <charconv>
#include <limits>
#include <utility>

namespace Corvane::Backend {

namespace {

// The number of 1 to `most` digits at the start of `text` (not followed by a
// further digit) into `value`; returns how many digits it read, 0 for none.
std::size_t LeadingNumber(std::string_view text, std::size_t most, std::uint32_t& value) {
    std::size_t n = 0;
    value = 0;
    while (n < text.size() && IsAsciiDigit(text[n])) {
        if (++n > most) return 0;
        value = value * 10 + static_cast<std::uint32_t>(text[n - 1] - '0');
    }
    return n;
}

// "|||port|)" after the '(' of an EPSV reply, any delimiter in place of '|'.
bool EpsvPortAt(std::string_view text, std::uint16_t& port) {
    if (text.size() < 6) return false;
    const char delimiter = text[0];
    if (delimiter < '!' || delimiter > '~' || IsAsciiDigit(delimiter)) return false;
    if (text[1] != delimiter || text[2] != delimiter) return false;
    std::uint32_t value = 0;
    const std::size_t n = LeadingNumber(text.substr(3), 5, value);
    if (n == 0 || value == 0 || value > 65535 || text.size() < 3 + n + 2) return false;
    if (text[3 + n] != delimiter || text[4 + n] != ')') return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// Six numbers 0..255 joined by commas at the start of `text`.
bool SixNumbersAt(std::string_view text, std::array<std::uint32_t, 6>& numbers) {
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const std::size_t n = LeadingNumber(text, 3, numbers[i]);
        if (n == 0 || numbers[i] > 255) return false;
        text.remove_prefix(n);
        if (i + 1 == numbers.size()) break;
        if (text.empty() || text[0] != ',') return false;
        text.remove_prefix(1);
    }
    return true;
}

// How many bytes the character at `at` takes in UTF-8 text: its lead byte's
// count, cut short where the continuation bytes stop (a stray byte is one).
std::size_t CharacterLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t want = lead >= 0xF0 && lead <= 0xF7 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t length = 1;
    while (length < want && at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80)
        ++length;
    return length;
}

}  // namespace

bool ParseDecimal(std::string_view digits, std::uint64_t& value) {
    if (digits.empty() || !IsAsciiDigit(digits[0])) return false;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    return ec == std::errc() && ptr == end;
}

bool ParsePwdReply(std::string_view text, std::string& path) {
    const std::size_t open = text.find('"');
    if (open == text.npos) return false;
    std::string out;
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') return false;
        if (c != '"') {
            out += c;
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
            out += '"';
            ++i;
        } else {
            if (out.empty()) return false;
            path = std::move(out);
            return true;
        }
    }
    return false;
}

bool ParseEpsvReply(std::string_view text, std::uint16_t& port) {
    for (std::size_t open = text.find('('); open != text.npos; open = text.find('(', open + 1))
        if (EpsvPortAt(text.substr(open + 1), port)) return true;
    return false;
}

bool ParsePasvReply(std::string_view text, std::array<std::uint8_t, 4>& address, std::uint16_t& port) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!IsAsciiDigit(text[i]) || (i > 0 && IsAsciiDigit(text[i - 1]))) continue;
        std::array<std::uint32_t, 6> numbers{};
        if (!SixNumbersAt(text.substr(i), numbers)) continue;
        const std::uint32_t value = numbers[4] * 256 + numbers[5];
        if (value == 0) return false;
        for (std::size_t k = 0; k < address.size(); ++k) address[k] = static_cast<std::uint8_t>(numbers[k]);
        port = static_cast<std::uint16_t>(value);
        return true;
    }
    return false;
}

std::string FormatPortArgument(const std::array<std::uint8_t, 4>& address, std::uint16_t port) {
    std::string out;
    for (std::uint8_t part : address) out += std::to_string(part) + ',';
    return out + std::to_string(port >> 8) + ',' + std::to_string(port & 0xFF);
}

std::string FormatEprtArgument(bool ipv6, std::string_view addressText, std::uint16_t port) {
    std::string out = ipv6 ? "|2|" : "|1|";
    return out.append(addressText).append("|").append(std::to_string(port)).append("|");
}

bool IsSafeArgument(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == text.npos;
}

// Greedy matching that goes back to the last '*' on a mismatch, letting it
// take one more character; the name is walked by whole UTF-8 characters so
// that '?' and '*' never split one.
bool MatchesPattern(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*") return true;
    std::size_t p = 0, n = 0, starP = pattern.npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += CharacterLength(name, n);
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (starP != pattern.npos) {
            p = starP;
            starN += CharacterLength(name, starN);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool HasWildcard(std::string_view pattern) {
    return pattern.find_first_of("*?") != pattern.npos;
}

FILETIME FileTimeFromUnix(std::int64_t seconds) {
    constexpr std::int64_t kSecondsFrom1601 = 11644473600;
    constexpr std::int64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max() / kTicksPerSecond;
    std::uint64_t ticks = 0;
    if (seconds > kLatest - kSecondsFrom1601)
        ticks = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    else if (seconds >= -kSecondsFrom1601)
        ticks = static_cast<std::uint64_t>(seconds + kSecondsFrom1601) * kTicksPerSecond;
    return {static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

void AsciiDecoder::Convert(const char* data, std::size_t size, std::string& out) {
    out.reserve(out.size() + size + 1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (FPendingCr) {
            FPendingCr = false;
            if (c == '\n') {
                out += '\n';
                continue;
            }
            out += '\r';
        }
        if (c == '\r')
            FPendingCr = true;
        else
            out += c;
    }
}

void AsciiDecoder::Finish(std::string& out) {
    if (FPendingCr) out += '\r';
    FPendingCr = false;
}

void AsciiEncoder::Convert(const char* data, std::size_t size, std::string& out) {
    out.reserve(out.size() + size + size / 8);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n' && !FLastWasCr) out += '\r';
        out += c;
        FLastWasCr = c == '\r';
    }
}

}  // namespace Corvane::Backend
