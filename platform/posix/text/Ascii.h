// ASCII character classes, case folding and trimming for the protocol texts
// the backend reads and writes: header and attribute names, schemes, host
// names, dates, environment variable names. Only the ASCII letters A-Z and
// a-z change case and only ASCII digits are digits, whatever the locale;
// every other unit (UTF-8 bytes, UTF-16 units beyond ASCII) stays as it is.
// Each function comes for 8-bit text and for UTF-16.
#pragma once

#include <concepts>
#include <string>
#include <string_view>

namespace Corvane::Backend {

/// The code units these helpers take: 8-bit and UTF-16.
template <class Char>
concept AsciiTextUnit = std::same_as<Char, char> || std::same_as<Char, char16_t>;

template <AsciiTextUnit Char>
constexpr bool IsAsciiDigit(Char c) {
    return c >= Char('0') && c <= Char('9');
}

template <AsciiTextUnit Char>
constexpr bool IsAsciiAlpha(Char c) {
    return (c >= Char('a') && c <= Char('z')) || (c >= Char('A') && c <= Char('Z'));
}

template <AsciiTextUnit Char>
constexpr bool IsAsciiAlnum(Char c) {
    return IsAsciiAlpha(c) || IsAsciiDigit(c);
}

template <AsciiTextUnit Char>
constexpr Char ToLowerAscii(Char c) {
    return c >= Char('A') && c <= Char('Z') ? Char(c - Char('A') + Char('a')) : c;
}

template <AsciiTextUnit Char>
constexpr Char ToUpperAscii(Char c) {
    return c >= Char('a') && c <= Char('z') ? Char(c - Char('a') + Char('A')) : c;
}

namespace AsciiDetail {

template <class Char>
std::basic_string<Char> Lower(std::basic_string_view<Char> text) {
    std::basic_string<Char> out(text);
    for (Char& c : out) c = ToLowerAscii(c);
    return out;
}

template <class Char>
std::basic_string<Char> Upper(std::basic_string_view<Char> text) {
    std::basic_string<Char> out(text);
    for (Char& c : out) c = ToUpperAscii(c);
    return out;
}

template <class Char>
constexpr bool Equal(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    return true;
}

template <class Char>
constexpr std::basic_string_view<Char> TrimStart(std::basic_string_view<Char> text,
                                                 std::basic_string_view<Char> chars) {
    const std::size_t first = text.find_first_not_of(chars);
    return first == text.npos ? std::basic_string_view<Char>() : text.substr(first);
}

template <class Char>
constexpr std::basic_string_view<Char> TrimEnd(std::basic_string_view<Char> text,
                                               std::basic_string_view<Char> chars) {
    const std::size_t last = text.find_last_not_of(chars);
    return last == text.npos ? std::basic_string_view<Char>() : text.substr(0, last + 1);
}

}  // namespace AsciiDetail

/// `text` with its ASCII letters in lower case.
inline std::string ToLowerAscii(std::string_view text) {
    return AsciiDetail::Lower(text);
}
inline std::u16string ToLowerAscii(std::u16string_view text) {
    return AsciiDetail::Lower(text);
}

/// `text` with its ASCII letters in upper case.
inline std::string ToUpperAscii(std::string_view text) {
    return AsciiDetail::Upper(text);
}
inline std::u16string ToUpperAscii(std::u16string_view text) {
    return AsciiDetail::Upper(text);
}

/// True when the two texts differ at most in the case of ASCII letters.
constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return AsciiDetail::Equal(a, b);
}
constexpr bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    return AsciiDetail::Equal(a, b);
}

/// True when `text` starts with `prefix`, ignoring the case of ASCII letters.
constexpr bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && AsciiDetail::Equal(text.substr(0, prefix.size()), prefix);
}
constexpr bool StartsWithIgnoringAsciiCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && AsciiDetail::Equal(text.substr(0, prefix.size()), prefix);
}

/// `text` without the `chars` (by default blanks: space and tab) at its
/// start, at its end, or at both ends.
constexpr std::string_view TrimStart(std::string_view text, std::string_view chars = " \t") {
    return AsciiDetail::TrimStart(text, chars);
}
constexpr std::u16string_view TrimStart(std::u16string_view text, std::u16string_view chars = u" \t") {
    return AsciiDetail::TrimStart(text, chars);
}
constexpr std::string_view TrimEnd(std::string_view text, std::string_view chars = " \t") {
    return AsciiDetail::TrimEnd(text, chars);
}
constexpr std::u16string_view TrimEnd(std::u16string_view text, std::u16string_view chars = u" \t") {
    return AsciiDetail::TrimEnd(text, chars);
}
constexpr std::string_view Trim(std::string_view text, std::string_view chars = " \t") {
    return TrimEnd(TrimStart(text, chars), chars);
}
constexpr std::u16string_view Trim(std::u16string_view text, std::u16string_view chars = u" \t") {
    return TrimEnd(TrimStart(text, chars), chars);
}

}  // namespace Corvane::Backend
