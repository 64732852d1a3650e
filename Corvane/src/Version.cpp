// The library's version (Corvane/Version.h, configured from project()).
#include "Corvane/Version.h"

namespace Corvane {

const char* Version() noexcept {
    return CORVANE_VERSION_STRING;
}

}  // namespace Corvane
