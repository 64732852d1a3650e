// Character classes, percent-escapes and buffer hand-over shared by the URL
// routines (InternetCrackUrlW, InternetCreateUrlW, InternetCanonicalizeUrlW).
#pragma once

#include "posix/text/Ascii.h"

#include <Platform/WinInet.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace Corvane::Backend {

/// A character that may stand in a scheme name: ASCII letter, digit, '+',
/// '-' or '.'.
inline bool IsSchemeChar(char16_t c) {
    return IsAsciiAlnum(c) || c == u'+' || c == u'-' || c == u'.';
}

/// The value of a hexadecimal digit, or -1 for any other character.
int HexValue(char16_t c);

/// True for a DOS drive at the start of `text`: a letter then ':' or '|'.
bool StartsWithDrive(std::u16string_view text);

/// Replaces every "%hh" (two hexadecimal digits) with the character of code
/// hh, as the platform decodes URLs: each escaped byte becomes one UTF-16
/// unit of the same value. A '%' not followed by two hexadecimal digits stays.
std::u16string PercentDecode(std::u16string_view text);

/// Appends `text` to `out` with the characters that are unsafe in a URL
/// written as "%hh" escapes of their UTF-8 bytes: control characters, space,
/// DEL, '"', '<', '>', '^', '`', '{', '|', '}' and everything beyond ASCII.
/// Used by InternetCreateUrlW for ICU_ESCAPE.
void AppendEscapedUnsafe(std::u16string& out, std::u16string_view text);

/// Length of the zero-terminated text at `text`.
std::size_t TextLength(const WCHAR* text);

/// Copies `text` and a terminating zero into the caller's buffer of
/// `*length` characters, as the URL routines hand over a result: when it
/// fits, `*length` becomes the number of characters written without the
/// terminator and the result is TRUE; when it does not (or `buffer` is
/// null), nothing is written, `*length` becomes the size needed in
/// characters with the terminator, and the result is FALSE with
/// ERROR_INSUFFICIENT_BUFFER as the last error.
BOOL HandOver(std::u16string_view text, WCHAR* buffer, DWORD* length);

}  // namespace Corvane::Backend
