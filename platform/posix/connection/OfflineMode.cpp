// The process's offline mode and the sessions opened offline.
#include "posix/connection/OfflineMode.h"

#include "posix/handles/Options.h"
#include "posix/session/Session.h"

#include <atomic>

namespace Corvane::Backend::OfflineMode {

namespace {
std::atomic<bool> ProcessOffline{false};
}  // namespace

bool Process() {
    return ProcessOffline.load(std::memory_order_acquire);
}

void SetProcess(bool offline) {
    ProcessOffline.store(offline, std::memory_order_release);
}

bool IsOffline(const HandleRef& handle) {
    if (Process()) return true;
    const auto session = SessionOf(handle);
    return session && (session->Flags() & INTERNET_FLAG_OFFLINE) != 0;
}

DWORD QueryOption(void* buffer, DWORD* size) {
    const DWORD state =
        Process() ? DWORD{INTERNET_STATE_DISCONNECTED_BY_USER} : DWORD{INTERNET_STATE_CONNECTED};
    return QueryValue(buffer, size, state);
}

DWORD SetOption(const void* buffer, DWORD size) {
    INTERNET_CONNECTED_INFO info{};
    if (size == sizeof(DWORD)) {
        if (const DWORD error = SetValue(buffer, size, info.dwConnectedState); error != ERROR_SUCCESS)
            return error;
    } else if (const DWORD error = SetValue(buffer, size, info); error != ERROR_SUCCESS) {
        return error;
    }
    if (info.dwFlags & ~DWORD{ISO_FORCE_DISCONNECTED}) return ERROR_INVALID_PARAMETER;
    switch (info.dwConnectedState) {
    case INTERNET_STATE_CONNECTED:
        SetProcess(false);
        return ERROR_SUCCESS;
    case INTERNET_STATE_DISCONNECTED:
    case INTERNET_STATE_DISCONNECTED_BY_USER:
        SetProcess(true);
        return ERROR_SUCCESS;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

}  // namespace Corvane::Backend::OfflineMode
