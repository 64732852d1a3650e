// Lengths of the caller's UTF-16 texts.
#include "posix/text/Utf.h"

namespace Corvane::Backend {

std::size_t BoundedLength(const char16_t* text, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && text[n] != 0) ++n;
    return n;
}

}  // namespace Corvane::Backend
