/// \file
/// Exceptions, integer/text conversion, system error texts and UTF-8/UTF-16
/// conversion.
#pragma once

#include <concepts>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

#include "Framework/Types.h"
#include "Framework/FrameworkExport.h"

namespace Framework {

/// The base class of the framework's exceptions. The message is UTF-16;
/// what() returns the same text in UTF-8 (kept in step by SetMessage).
class CORVANE_FRAMEWORK_EXPORT Exception : public std::exception {
public:
    /// An exception with the message Msg.
    explicit Exception(const UnicodeString& msg);
    ~Exception() override;

    /// The message, as shown to the user.
    const UnicodeString& Message() const noexcept { return FMessage; }
    /// Replaces the message (and what() with it).
    void SetMessage(const UnicodeString& msg);

    /// The message in UTF-8.
    const char* what() const noexcept override { return FUtf8.c_str(); }

    /// The dynamic class name without namespace, e.g. u"EConvertError".
    virtual UnicodeString ClassName() const;

private:
    UnicodeString FMessage;
    std::string FUtf8;
};

/// The silent abort: the application's exception display does not show it.
class CORVANE_FRAMEWORK_EXPORT EAbort : public Exception {
public:
    /// An abort with the message Msg (never shown).
    using Exception::Exception;
};

/// A text could not be converted (StrToInt and friends).
class CORVANE_FRAMEWORK_EXPORT EConvertError : public Exception {
public:
    /// An error with the message Msg.
    using Exception::Exception;
};

/// Raises EAbort, the silent exception that unwinds without a message shown.
[[noreturn]] CORVANE_FRAMEWORK_EXPORT void Abort();

/// Decimal text of an integer ("-2147483648", "4294967295", ...).
CORVANE_FRAMEWORK_EXPORT UnicodeString IntToStr(Integer value);
/// Decimal text of a signed 64-bit integer.
CORVANE_FRAMEWORK_EXPORT UnicodeString IntToStr(Int64 value);
/// Decimal text of an unsigned 32-bit integer.
CORVANE_FRAMEWORK_EXPORT UnicodeString IntToStr(Cardinal value);
/// Decimal text of an unsigned 64-bit integer.
CORVANE_FRAMEWORK_EXPORT UnicodeString IntToStr(UInt64 value);
/// Any other integral type (long long, unsigned short, ...) goes to the
/// signed or unsigned 64-bit form.
template <std::integral T>
requires(!std::same_as<T, bool> && !std::same_as<T, Integer> && !std::same_as<T, Int64> &&
         !std::same_as<T, Cardinal> && !std::same_as<T, UInt64>) UnicodeString IntToStr(T value) {
    if constexpr (std::is_signed_v<T>)
        return IntToStr(static_cast<Int64>(value));
    else
        return IntToStr(static_cast<UInt64>(value));
}

/// Parses an integer: optional leading blanks, an optional sign, then decimal
/// digits, or hexadecimal digits after "$" or "0x". Nothing may follow.
/// Raises EConvertError for a text that is no integer ("'abc' is not a valid
/// integer value") and for one outside the 32-bit range.
CORVANE_FRAMEWORK_EXPORT Integer StrToInt(const UnicodeString& s);
/// As StrToInt, for the 64-bit range.
CORVANE_FRAMEWORK_EXPORT Int64 StrToInt64(const UnicodeString& s);
/// As StrToInt, but returns false instead of raising.
CORVANE_FRAMEWORK_EXPORT bool TryStrToInt(const UnicodeString& s, Integer& value);
/// As StrToInt64, but returns false instead of raising.
CORVANE_FRAMEWORK_EXPORT bool TryStrToInt64(const UnicodeString& s, Int64& value);
/// As StrToInt, but returns defaultValue instead of raising.
CORVANE_FRAMEWORK_EXPORT Integer StrToIntDef(const UnicodeString& s, Integer defaultValue);

/// The system's text for a system error code, without a trailing line
/// break: on Windows the operating system's own text for a code of
/// GetLastError, elsewhere the C library's text for an errno value.
CORVANE_FRAMEWORK_EXPORT UnicodeString SysErrorMessage(Cardinal errorCode);

/// The C library's text for an errno value ("No such file or directory").
CORVANE_FRAMEWORK_EXPORT UnicodeString ErrnoMessage(int errorNumber);

/// UTF-8 to UTF-16. Every ill-formed sequence (stray continuation byte,
/// truncated or overlong sequence, encoded surrogate, value above U+10FFFF)
/// becomes one U+FFFD per maximal invalid subpart.
CORVANE_FRAMEWORK_EXPORT std::u16string Utf8ToUtf16(std::string_view text);
/// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
CORVANE_FRAMEWORK_EXPORT std::string Utf16ToUtf8(std::u16string_view text);

/// Case-insensitive comparison of ASCII letters (other code units compare
/// exactly): what identifiers and names use.
CORVANE_FRAMEWORK_EXPORT bool SameText(std::u16string_view a, std::u16string_view b) noexcept;
/// ASCII upper-casing; other code units are left as they are.
CORVANE_FRAMEWORK_EXPORT UnicodeString UpperCase(std::u16string_view s);
/// ASCII lower-casing; other code units are left as they are.
CORVANE_FRAMEWORK_EXPORT UnicodeString LowerCase(std::u16string_view s);
/// True for a non-empty text of ASCII letters, digits and underscores that
/// does not start with a digit.
CORVANE_FRAMEWORK_EXPORT bool IsValidIdent(std::u16string_view s) noexcept;

/// Fills a pattern: "%s" takes the next argument, "%<n>:s" argument n
/// (counting from 0), "%%" is one percent sign. A placeholder without its
/// argument is left in the text as written.
CORVANE_FRAMEWORK_EXPORT UnicodeString Format(std::u16string_view pattern,
                                              std::initializer_list<UnicodeString> args);

}  // namespace Framework
