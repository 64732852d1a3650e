// The text every published component's About property reads.
#pragma once

namespace Corvane {

inline constexpr char16_t AboutText[] = u"Version 4.4 - Corvane Internet components";

}  // namespace Corvane
