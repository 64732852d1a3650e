#include "Framework/SysUtils.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <limits>

#include "Framework/Classes.h"
#include "FrameworkConsts.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace Framework {

namespace {

constexpr char16_t ReplacementChar = 0xFFFD;

// Widens ASCII text (digits, signs) to UTF-16.
UnicodeString Widen(std::string_view ascii) {
    return UnicodeString(ascii.begin(), ascii.end());
}

template <class T>
UnicodeString ToDecimal(T value) {
    char buffer[24];
    auto [End, Ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)Ec;  // 24 characters hold every 64-bit value
    return Widen(std::string_view(buffer, static_cast<std::size_t>(End - buffer)));
}

enum class TParseResult { Ok, Invalid, OutOfRange };

// Parses S as an integer in [Min, Max]. Blanks may precede the optional sign;
// the digits are decimal, or hexadecimal after "$" or "0x"; nothing may
// follow. Overflow of the digits is told apart from a malformed text.
TParseResult ParseInteger(std::u16string_view s, Int64 min, Int64 max, Int64& value) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    unsigned base = 10;
    if (i < s.size() && s[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == s.size()) return TParseResult::Invalid;

    UInt64 magnitude = 0;
    bool overflow = false;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i];
        unsigned digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return TParseResult::Invalid;
        if (magnitude > (std::numeric_limits<UInt64>::max() - digit) / base)
            overflow = true;
        else
            magnitude = magnitude * base + digit;
    }
    if (overflow) return TParseResult::OutOfRange;

    if (negative) {
        // -Min as unsigned, computed without overflowing Int64.
        const UInt64 limit = min < 0 ? UInt64(-(min + 1)) + 1 : 0;
        if (magnitude > limit) return TParseResult::OutOfRange;
        value = magnitude == 0 ? 0 : -static_cast<Int64>(magnitude - 1) - 1;
    } else {
        if (magnitude > static_cast<UInt64>(max)) return TParseResult::OutOfRange;
        value = static_cast<Int64>(magnitude);
    }
    return TParseResult::Ok;
}

// Raises the EConvertError that matches a failed parse.
[[noreturn]] void RaiseConvertError(TParseResult result, const UnicodeString& s, const char16_t* bits) {
    if (result == TParseResult::OutOfRange)
        throw EConvertError(Format(LoadResString(Consts::SIntegerOutOfRange), {s, bits}));
    throw EConvertError(Format(LoadResString(Consts::SInvalidInteger), {s}));
}

// Appends code point Cp as UTF-8.
void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char16_t AsciiUpper(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
}
char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

#ifndef _WIN32
// strerror_r comes in two flavours: XSI returns an int, GNU a char*.
[[maybe_unused]] const char* StrerrorText(int rc, const char* buffer) {
    return rc == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* StrerrorText(const char* text, const char*) {
    return text;
}
#endif

}  // namespace

Exception::Exception(const UnicodeString& msg) : FMessage(msg), FUtf8(Utf16ToUtf8(msg)) {}

Exception::~Exception() = default;

void Exception::SetMessage(const UnicodeString& msg) {
    std::string utf8 = Utf16ToUtf8(msg);
    FMessage = msg;
    FUtf8 = std::move(utf8);
}

UnicodeString Exception::ClassName() const {
    return TypeNameWithoutNamespace(typeid(*this));
}

void Abort() {
    throw EAbort(LoadResString(Consts::SOperationAborted));
}

UnicodeString IntToStr(Integer value) {
    return ToDecimal(value);
}
UnicodeString IntToStr(Int64 value) {
    return ToDecimal(value);
}
UnicodeString IntToStr(Cardinal value) {
    return ToDecimal(value);
}
UnicodeString IntToStr(UInt64 value) {
    return ToDecimal(value);
}

Integer StrToInt(const UnicodeString& s) {
    Int64 value = 0;
    const TParseResult result = ParseInteger(s, INT32_MIN, INT32_MAX, value);
    if (result != TParseResult::Ok) RaiseConvertError(result, s, u"32");
    return static_cast<Integer>(value);
}

Int64 StrToInt64(const UnicodeString& s) {
    Int64 value = 0;
    const TParseResult result = ParseInteger(s, INT64_MIN, INT64_MAX, value);
    if (result != TParseResult::Ok) RaiseConvertError(result, s, u"64");
    return value;
}

bool TryStrToInt(const UnicodeString& s, Integer& value) {
    Int64 wide = 0;
    if (ParseInteger(s, INT32_MIN, INT32_MAX, wide) != TParseResult::Ok) return false;
    value = static_cast<Integer>(wide);
    return true;
}

bool TryStrToInt64(const UnicodeString& s, Int64& value) {
    return ParseInteger(s, INT64_MIN, INT64_MAX, value) == TParseResult::Ok;
}

Integer StrToIntDef(const UnicodeString& s, Integer defaultValue) {
    Integer value = 0;
    return TryStrToInt(s, value) ? value : defaultValue;
}

#ifdef _WIN32
namespace {
// Drops the line break and blanks a system text ends in, as the framework
// has always shown these texts.
UnicodeString TrimSystemText(UnicodeString text) {
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    return text;
}
}  // namespace
#endif

UnicodeString ErrnoMessage(int errorNumber) {
    char buffer[512];
    buffer[0] = '\0';
#ifdef _WIN32
    const char* text = strerror_s(buffer, sizeof buffer, errorNumber) == 0 ? buffer : nullptr;
#else
    const char* text = StrerrorText(strerror_r(errorNumber, buffer, sizeof buffer), buffer);
#endif
    if (text == nullptr || *text == '\0') return u"Unknown error " + IntToStr(errorNumber);
    return Utf8ToUtf16(text);
}

// The system's message for an error code: on Windows the operating
// system's text; elsewhere the C library's text for an errno of that value
// (codes beyond the range of int cannot be one and get the usual "Unknown
// error" wording directly).
UnicodeString SysErrorMessage(Cardinal errorCode) {
#ifdef _WIN32
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        errorCode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    UnicodeString text;
    if (length != 0 && buffer != nullptr) text.assign(reinterpret_cast<const char16_t*>(buffer), length);
    if (buffer != nullptr) LocalFree(buffer);
    return TrimSystemText(std::move(text));
#else
    if (errorCode > static_cast<Cardinal>(INT_MAX)) return u"Unknown error " + IntToStr(errorCode);
    return ErrnoMessage(static_cast<int>(errorCode));
#endif
}

// Decodes UTF-8 following the Unicode recommendation for replacement: each
// maximal subpart of an ill-formed sequence becomes one U+FFFD, and the
// decoder resumes at the first byte that cannot continue the sequence.
std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b0 = static_cast<unsigned char>(text[i]);
        if (b0 < 0x80) {
            out += static_cast<char16_t>(b0);
            ++i;
            continue;
        }
        int need;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        char32_t cp;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1;
            cp = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2;
            cp = b0 & 0x0F;
            if (b0 == 0xE0) lo = 0xA0;  // overlong
            if (b0 == 0xED) hi = 0x9F;  // surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3;
            cp = b0 & 0x07;
            if (b0 == 0xF0) lo = 0x90;  // overlong
            if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
        } else {
            out += ReplacementChar;
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool valid = true;
        for (int k = 0; k < need; ++k, ++j) {
            if (j >= n) {
                valid = false;
                break;
            }
            const unsigned char b = static_cast<unsigned char>(text[j]);
            const unsigned char min = k == 0 ? lo : 0x80;
            const unsigned char max = k == 0 ? hi : 0xBF;
            if (b < min || b > max) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (!valid) {
            out += ReplacementChar;
            i = j;  // the bytes that did form a valid prefix are consumed with it
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i = j;
    }
    return out;
}

// Encodes UTF-16 as UTF-8; a surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendUtf8(out, ReplacementChar);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

bool SameText(std::u16string_view a, std::u16string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

UnicodeString UpperCase(std::u16string_view s) {
    UnicodeString out(s);
    for (auto& c : out) c = AsciiUpper(c);
    return out;
}

UnicodeString LowerCase(std::u16string_view s) {
    UnicodeString out(s);
    for (auto& c : out) c = AsciiLower(c);
    return out;
}

bool IsValidIdent(std::u16string_view s) noexcept {
    if (s.empty()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
        const bool digit = c >= u'0' && c <= u'9';
        if (!letter && !(digit && i > 0)) return false;
    }
    return true;
}

// Substitutes "%s", "%<n>:s" and "%%" in Pattern; anything else after a
// percent sign is copied unchanged.
UnicodeString Format(std::u16string_view pattern, std::initializer_list<UnicodeString> args) {
    UnicodeString out;
    out.reserve(pattern.size() + 16);
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c != u'%' || i + 1 >= pattern.size()) {
            out += c;
            continue;
        }
        if (pattern[i + 1] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        std::size_t index = next;
        bool explicitOrder = false;
        if (pattern[j] >= u'0' && pattern[j] <= u'9') {
            std::size_t n = 0;
            while (j < pattern.size() && pattern[j] >= u'0' && pattern[j] <= u'9' && n < 1000)
                n = n * 10 + (pattern[j++] - u'0');
            if (j + 1 < pattern.size() && pattern[j] == u':' &&
                (pattern[j + 1] == u's' || pattern[j + 1] == u'S')) {
                index = n;
                explicitOrder = true;
                ++j;
            } else {
                out += c;
                continue;
            }
        } else if (pattern[j] != u's' && pattern[j] != u'S') {
            out += c;
            continue;
        }
        if (index >= args.size()) {
            out.append(pattern.substr(i, j + 1 - i));
        } else {
            out += *(args.begin() + index);
            if (!explicitOrder)
                ++next;
            else
                next = index + 1;
        }
        i = j;
    }
    return out;
}

}  // namespace Framework
