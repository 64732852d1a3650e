// UTF-8/UTF-16 conversion for the texts the backend takes from the operating
// system and the network (environment variables, system error texts, header
// values) and hands to libcurl.
#pragma once

#include <Framework/SysUtils.h>

#include <cstddef>

namespace Corvane::Backend {

/// The library has one UTF-8 decoder and one encoder, the framework's: a
/// malformed sequence becomes one U+FFFD per maximal ill-formed subpart (so
/// text from the environment never makes a conversion fail), and an
/// unpaired surrogate is encoded as U+FFFD.
using Framework::Utf16ToUtf8;
using Framework::Utf8ToUtf16;

/// Length of a zero-terminated UTF-16 text, reading at most `limit` units.
std::size_t BoundedLength(const char16_t* text, std::size_t limit);

}  // namespace Corvane::Backend
