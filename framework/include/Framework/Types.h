/// \file
/// Basic types shared by the framework, the platform seam and the components.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Framework {

class TObject;

/// UTF-16 text, counted in code units.
using UnicodeString = std::u16string;
/// Raw 8-bit bytes; never converted between encodings.
using AnsiString = std::string;
/// A byte array.
using TBytes = std::vector<std::uint8_t>;

using Cardinal = std::uint32_t;  ///< unsigned 32-bit integer
using Word = std::uint16_t;      ///< unsigned 16-bit integer
using Byte = std::uint8_t;       ///< unsigned 8-bit integer
using Integer = std::int32_t;    ///< signed 32-bit integer
using Int64 = std::int64_t;      ///< signed 64-bit integer
using UInt64 = std::uint64_t;    ///< unsigned 64-bit integer

/// An event that only names its sender.
using TNotifyEvent = std::function<void(TObject* sender)>;

}  // namespace Framework
