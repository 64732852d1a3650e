// Offline mode: while the process is offline (INTERNET_OPTION_CONNECTED_STATE
// set to INTERNET_STATE_DISCONNECTED_BY_USER) or a session was opened with
// INTERNET_FLAG_OFFLINE, whatever would go to the network fails with
// ERROR_INTERNET_OFFLINE. The backend keeps no cache, so nothing can be
// answered offline. Each protocol asks IsOffline where it first goes to the
// network.
#pragma once

#include "posix/handles/Handle.h"

namespace Corvane::Backend::OfflineMode {

/// Whether the whole process is offline.
bool Process();

/// Enters (true) or leaves (false) offline mode for the whole process.
void SetProcess(bool offline);

/// Whether work beneath `handle` may not use the network: the process is
/// offline, or the handle's session was opened with INTERNET_FLAG_OFFLINE.
bool IsOffline(const HandleRef& handle);

/// INTERNET_OPTION_CONNECTED_STATE on a null handle. Reading gives one
/// DWORD, as the platform documents the option (an unsigned long):
/// INTERNET_STATE_CONNECTED or INTERNET_STATE_DISCONNECTED_BY_USER.
/// Setting takes an INTERNET_CONNECTED_INFO, as the platform documents that
/// structure for it, or that lone DWORD (dwFlags 0): the state
/// INTERNET_STATE_CONNECTED (online) or INTERNET_STATE_DISCONNECTED(_BY_USER)
/// (offline), with dwFlags 0 or ISO_FORCE_DISCONNECTED (requests already
/// under way run on). Each returns ERROR_SUCCESS or the option's error.
DWORD QueryOption(void* buffer, DWORD* size);
DWORD SetOption(const void* buffer, DWORD size);

}  // namespace Corvane::Backend::OfflineMode
