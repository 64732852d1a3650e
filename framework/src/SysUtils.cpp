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
UnicodeString Widen(std::string_view Ascii) {
    return UnicodeString(Ascii.begin(), Ascii.end());
}

template <class T>
UnicodeString ToDecimal(T Value) {
    char Buffer[24];
    auto [End, Ec] = std::to_chars(Buffer, Buffer + sizeof Buffer, Value);
    (void)Ec;  // 24 characters hold every 64-bit value
    return Widen(std::string_view(Buffer, static_cast<std::size_t>(End - Buffer)));
}

enum class TParseResult { Ok, Invalid, OutOfRange };

// Parses S as an integer in [Min, Max]. Blanks may precede the optional sign;
// the digits are decimal, or hexadecimal after "$" or "0x"; nothing may
// follow. Overflow of the digits is told apart from a malformed text.
TParseResult ParseInteger(std::u16string_view S, Int64 Min, Int64 Max, Int64& Value) {
    std::size_t I = 0;
    while (I < S.size() && (S[I] == u' ' || S[I] == u'\t')) ++I;
    bool Negative = false;
    if (I < S.size() && (S[I] == u'+' || S[I] == u'-')) {
        Negative = S[I] == u'-';
        ++I;
    }
    unsigned Base = 10;
    if (I < S.size() && S[I] == u'$') {
        Base = 16;
        ++I;
    } else if (I + 1 < S.size() && S[I] == u'0' && (S[I + 1] == u'x' || S[I + 1] == u'X')) {
        Base = 16;
        I += 2;
    }
    if (I == S.size()) return TParseResult::Invalid;

    UInt64 Magnitude = 0;
    bool Overflow = false;
    for (; I < S.size(); ++I) {
        const char16_t C = S[I];
        unsigned Digit;
        if (C >= u'0' && C <= u'9')
            Digit = C - u'0';
        else if (Base == 16 && C >= u'a' && C <= u'f')
            Digit = C - u'a' + 10;
        else if (Base == 16 && C >= u'A' && C <= u'F')
            Digit = C - u'A' + 10;
        else
            return TParseResult::Invalid;
        if (Magnitude > (std::numeric_limits<UInt64>::max() - Digit) / Base)
            Overflow = true;
        else
            Magnitude = Magnitude * Base + Digit;
    }
    if (Overflow) return TParseResult::OutOfRange;

    if (Negative) {
        // -Min as unsigned, computed without overflowing Int64.
        const UInt64 Limit = Min < 0 ? UInt64(-(Min + 1)) + 1 : 0;
        if (Magnitude > Limit) return TParseResult::OutOfRange;
        Value = Magnitude == 0 ? 0 : -static_cast<Int64>(Magnitude - 1) - 1;
    } else {
        if (Magnitude > static_cast<UInt64>(Max)) return TParseResult::OutOfRange;
        Value = static_cast<Int64>(Magnitude);
    }
    return TParseResult::Ok;
}

// Raises the EConvertError that matches a failed parse.
[[noreturn]] void RaiseConvertError(TParseResult Result, const UnicodeString& S, const char16_t* Bits) {
    if (Result == TParseResult::OutOfRange)
        throw EConvertError(Format(LoadResString(Consts::SIntegerOutOfRange), {S, Bits}));
    throw EConvertError(Format(LoadResString(Consts::SInvalidInteger), {S}));
}

// Appends code point Cp as UTF-8.
void AppendUtf8(std::string& Out, char32_t Cp) {
    if (Cp < 0x80) {
        Out += static_cast<char>(Cp);
    } else if (Cp < 0x800) {
        Out += static_cast<char>(0xC0 | (Cp >> 6));
        Out += static_cast<char>(0x80 | (Cp & 0x3F));
    } else if (Cp < 0x10000) {
        Out += static_cast<char>(0xE0 | (Cp >> 12));
        Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Cp & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (Cp >> 18));
        Out += static_cast<char>(0x80 | ((Cp >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((Cp >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Cp & 0x3F));
    }
}

char16_t AsciiUpper(char16_t C) { return C >= u'a' && C <= u'z' ? char16_t(C - 32) : C; }
char16_t AsciiLower(char16_t C) { return C >= u'A' && C <= u'Z' ? char16_t(C + 32) : C; }

#ifndef _WIN32
// strerror_r comes in two flavours: XSI returns an int, GNU a char*.
[[maybe_unused]] const char* StrerrorText(int Rc, const char* Buffer) { return Rc == 0 ? Buffer : nullptr; }
[[maybe_unused]] const char* StrerrorText(const char* Text, const char*) { return Text; }
#endif

}  // namespace

Exception::Exception(const UnicodeString& Msg) : FMessage(Msg), FUtf8(Utf16ToUtf8(Msg)) {}

Exception::~Exception() = default;

void Exception::SetMessage(const UnicodeString& Msg) {
    std::string Utf8 = Utf16ToUtf8(Msg);
    FMessage = Msg;
    FUtf8 = std::move(Utf8);
}

UnicodeString Exception::ClassName() const {
    return TypeNameWithoutNamespace(typeid(*this));
}

void Abort() {
    throw EAbort(LoadResString(Consts::SOperationAborted));
}

UnicodeString IntToStr(Integer Value) { return ToDecimal(Value); }
UnicodeString IntToStr(Int64 Value) { return ToDecimal(Value); }
UnicodeString IntToStr(Cardinal Value) { return ToDecimal(Value); }
UnicodeString IntToStr(UInt64 Value) { return ToDecimal(Value); }

Integer StrToInt(const UnicodeString& S) {
    Int64 Value = 0;
    const TParseResult Result = ParseInteger(S, INT32_MIN, INT32_MAX, Value);
    if (Result != TParseResult::Ok) RaiseConvertError(Result, S, u"32");
    return static_cast<Integer>(Value);
}

Int64 StrToInt64(const UnicodeString& S) {
    Int64 Value = 0;
    const TParseResult Result = ParseInteger(S, INT64_MIN, INT64_MAX, Value);
    if (Result != TParseResult::Ok) RaiseConvertError(Result, S, u"64");
    return Value;
}

bool TryStrToInt(const UnicodeString& S, Integer& Value) {
    Int64 Wide = 0;
    if (ParseInteger(S, INT32_MIN, INT32_MAX, Wide) != TParseResult::Ok) return false;
    Value = static_cast<Integer>(Wide);
    return true;
}

bool TryStrToInt64(const UnicodeString& S, Int64& Value) {
    return ParseInteger(S, INT64_MIN, INT64_MAX, Value) == TParseResult::Ok;
}

Integer StrToIntDef(const UnicodeString& S, Integer Default) {
    Integer Value = 0;
    return TryStrToInt(S, Value) ? Value : Default;
}

#ifdef _WIN32
namespace {
// Drops the line break and blanks a system text ends in, as the framework
// has always shown these texts.
UnicodeString TrimSystemText(UnicodeString Text) {
    while (!Text.empty() && (Text.back() == u'\r' || Text.back() == u'\n' || Text.back() == u' ')) Text.pop_back();
    return Text;
}
}  // namespace
#endif

UnicodeString ErrnoMessage(int ErrorNumber) {
    char Buffer[512];
    Buffer[0] = '\0';
#ifdef _WIN32
    const char* Text = strerror_s(Buffer, sizeof Buffer, ErrorNumber) == 0 ? Buffer : nullptr;
#else
    const char* Text = StrerrorText(strerror_r(ErrorNumber, Buffer, sizeof Buffer), Buffer);
#endif
    if (Text == nullptr || *Text == '\0') return u"Unknown error " + IntToStr(ErrorNumber);
    return Utf8ToUtf16(Text);
}

// The system's message for an error code: on Windows the operating
// system's text; elsewhere the C library's text for an errno of that value
// (codes beyond the range of int cannot be one and get the usual "Unknown
// error" wording directly).
UnicodeString SysErrorMessage(Cardinal ErrorCode) {
#ifdef _WIN32
    wchar_t* Buffer = nullptr;
    const DWORD Length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        ErrorCode, 0, reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
    UnicodeString Text;
    if (Length != 0 && Buffer != nullptr) Text.assign(reinterpret_cast<const char16_t*>(Buffer), Length);
    if (Buffer != nullptr) LocalFree(Buffer);
    return TrimSystemText(std::move(Text));
#else
    if (ErrorCode > static_cast<Cardinal>(INT_MAX)) return u"Unknown error " + IntToStr(ErrorCode);
    return ErrnoMessage(static_cast<int>(ErrorCode));
#endif
}

// Decodes UTF-8 following the Unicode recommendation for replacement: each
// maximal subpart of an ill-formed sequence becomes one U+FFFD, and the
// decoder resumes at the first byte that cannot continue the sequence.
std::u16string Utf8ToUtf16(std::string_view Text) {
    std::u16string Out;
    Out.reserve(Text.size());
    const std::size_t N = Text.size();
    std::size_t I = 0;
    while (I < N) {
        const unsigned char B0 = static_cast<unsigned char>(Text[I]);
        if (B0 < 0x80) {
            Out += static_cast<char16_t>(B0);
            ++I;
            continue;
        }
        int Need;
        unsigned char Lo = 0x80, Hi = 0xBF;  // allowed range of the second byte
        char32_t Cp;
        if (B0 >= 0xC2 && B0 <= 0xDF) {
            Need = 1;
            Cp = B0 & 0x1F;
        } else if (B0 >= 0xE0 && B0 <= 0xEF) {
            Need = 2;
            Cp = B0 & 0x0F;
            if (B0 == 0xE0) Lo = 0xA0;  // overlong
            if (B0 == 0xED) Hi = 0x9F;  // surrogates
        } else if (B0 >= 0xF0 && B0 <= 0xF4) {
            Need = 3;
            Cp = B0 & 0x07;
            if (B0 == 0xF0) Lo = 0x90;  // overlong
            if (B0 == 0xF4) Hi = 0x8F;  // above U+10FFFF
        } else {
            Out += ReplacementChar;
            ++I;
            continue;
        }
        std::size_t J = I + 1;
        bool Valid = true;
        for (int K = 0; K < Need; ++K, ++J) {
            if (J >= N) {
                Valid = false;
                break;
            }
            const unsigned char B = static_cast<unsigned char>(Text[J]);
            const unsigned char Min = K == 0 ? Lo : 0x80;
            const unsigned char Max = K == 0 ? Hi : 0xBF;
            if (B < Min || B > Max) {
                Valid = false;
                break;
            }
            Cp = (Cp << 6) | (B & 0x3F);
        }
        if (!Valid) {
            Out += ReplacementChar;
            I = J;  // the bytes that did form a valid prefix are consumed with it
            continue;
        }
        if (Cp >= 0x10000) {
            Cp -= 0x10000;
            Out += static_cast<char16_t>(0xD800 + (Cp >> 10));
            Out += static_cast<char16_t>(0xDC00 + (Cp & 0x3FF));
        } else {
            Out += static_cast<char16_t>(Cp);
        }
        I = J;
    }
    return Out;
}

// Encodes UTF-16 as UTF-8; a surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (std::size_t I = 0; I < Text.size(); ++I) {
        const char16_t C = Text[I];
        if (C >= 0xD800 && C <= 0xDBFF && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 && Text[I + 1] <= 0xDFFF) {
            AppendUtf8(Out, 0x10000 + ((char32_t(C) - 0xD800) << 10) + (char32_t(Text[I + 1]) - 0xDC00));
            ++I;
        } else if (C >= 0xD800 && C <= 0xDFFF) {
            AppendUtf8(Out, ReplacementChar);
        } else {
            AppendUtf8(Out, C);
        }
    }
    return Out;
}

bool SameText(std::u16string_view A, std::u16string_view B) noexcept {
    if (A.size() != B.size()) return false;
    for (std::size_t I = 0; I < A.size(); ++I)
        if (AsciiUpper(A[I]) != AsciiUpper(B[I])) return false;
    return true;
}

UnicodeString UpperCase(std::u16string_view S) {
    UnicodeString Out(S);
    for (auto& C : Out) C = AsciiUpper(C);
    return Out;
}

UnicodeString LowerCase(std::u16string_view S) {
    UnicodeString Out(S);
    for (auto& C : Out) C = AsciiLower(C);
    return Out;
}

bool IsValidIdent(std::u16string_view S) noexcept {
    if (S.empty()) return false;
    for (std::size_t I = 0; I < S.size(); ++I) {
        const char16_t C = S[I];
        const bool Letter = (C >= u'a' && C <= u'z') || (C >= u'A' && C <= u'Z') || C == u'_';
        const bool Digit = C >= u'0' && C <= u'9';
        if (!Letter && !(Digit && I > 0)) return false;
    }
    return true;
}

// Substitutes "%s", "%<n>:s" and "%%" in Pattern; anything else after a
// percent sign is copied unchanged.
UnicodeString Format(std::u16string_view Pattern, std::initializer_list<UnicodeString> Args) {
    UnicodeString Out;
    Out.reserve(Pattern.size() + 16);
    std::size_t Next = 0;
    for (std::size_t I = 0; I < Pattern.size(); ++I) {
        const char16_t C = Pattern[I];
        if (C != u'%' || I + 1 >= Pattern.size()) {
            Out += C;
            continue;
        }
        if (Pattern[I + 1] == u'%') {
            Out += u'%';
            ++I;
            continue;
        }
        std::size_t J = I + 1;
        std::size_t Index = Next;
        bool Explicit = false;
        if (Pattern[J] >= u'0' && Pattern[J] <= u'9') {
            std::size_t N = 0;
            while (J < Pattern.size() && Pattern[J] >= u'0' && Pattern[J] <= u'9' && N < 1000)
                N = N * 10 + (Pattern[J++] - u'0');
            if (J + 1 < Pattern.size() && Pattern[J] == u':' && (Pattern[J + 1] == u's' || Pattern[J + 1] == u'S')) {
                Index = N;
                Explicit = true;
                ++J;
            } else {
                Out += C;
                continue;
            }
        } else if (Pattern[J] != u's' && Pattern[J] != u'S') {
            Out += C;
            continue;
        }
        if (Index >= Args.size()) {
            Out.append(Pattern.substr(I, J + 1 - I));
        } else {
            Out += *(Args.begin() + Index);
            if (!Explicit) ++Next;
            else Next = Index + 1;
        }
        I = J;
    }
    return Out;
}

}  // namespace Framework
