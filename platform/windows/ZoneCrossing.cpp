// wininet.dll confirms zone crossings with its own dialog and takes no handler.
#include <Platform/ZoneCrossing.h>

namespace Corvane::ZoneCrossing {

DWORD SetHandler(Handler /*handler*/, void* /*context*/) {
    return ERROR_NOT_SUPPORTED;
}

}  // namespace Corvane::ZoneCrossing
