// Until the D-Bus client is in place, no network manager is reachable:
// the connected state reports none, and dialing fails as it does on a
// machine without one.
#include "posix/connection/NetworkManager.h"

namespace Corvane::Backend::NetworkManager {

namespace {
constexpr DWORD kNoManager = 711;  // ERROR_RASMAN_CANNOT_INITIALIZE
}

Presence Query() {
    return {};
}
DWORD Dial(const std::u16string&, DWORD, DWORD_PTR*) {
    return kNoManager;
}
DWORD HangUp(DWORD_PTR) {
    return kNoManager;
}
DWORD AutoDial(DWORD) {
    return kNoManager;
}
DWORD AutoDialHangUp() {
    return kNoManager;
}

}  // namespace Corvane::Backend::NetworkManager
