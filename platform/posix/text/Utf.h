// UTF-8 to UTF-16 conversion for the texts the backend takes from the
// operating system (environment variables, system error texts).
#pragma once

#include <string>
#include <string_view>

namespace Corvane::Backend {

/// Converts UTF-8 to UTF-16. Malformed sequences become U+FFFD, so text from
/// the environment never makes a conversion fail.
std::u16string Utf8ToUtf16(std::string_view text);

/// Converts UTF-16 to UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

/// Length of a zero-terminated UTF-16 text, reading at most `limit` units.
std::size_t BoundedLength(const char16_t* text, std::size_t limit);

}  // namespace Corvane::Backend
