// The connected state, offline mode and reachability: InternetGetConnectedState(ExW),
// InternetGoOnlineW, InternetAttemptConnect and InternetCheckConnectionW.
#include "posix/connection/ConnectedState.h"
#include "posix/connection/OfflineMode.h"
#include "posix/connection/UrlTarget.h"
#include "posix/errors/Barrier.h"
#include "posix/errors/LastError.h"
#include "posix/handles/Timeouts.h"
#include "posix/net/Resolver.h"
#include "posix/net/Socket.h"
#include "posix/text/Utf.h"

#include <algorithm>
#include <string>

using namespace Corvane::Backend;

namespace {

// The state now; `connected` also tells the caller's result.
BOOL Report(const ConnectedState::State& state, LPDWORD flags) {
    if (flags) *flags = state.flags;
    return state.connected ? TRUE : Fail(ERROR_NOT_CONNECTED);
}

// Leaves offline mode when the machine has a connection: ERROR_SUCCESS, or
// ERROR_NOT_CONNECTED (the process stays as it was). Only the interfaces
// and routes tell, so the network manager is not asked.
DWORD GoOnline() {
    if (!ConnectedState::HasConnection()) return ERROR_NOT_CONNECTED;
    OfflineMode::SetProcess(false);
    return ERROR_SUCCESS;
}

// A TCP connection to the URL's server within the default connect timeout,
// closed at once. Any failure to reach it is ERROR_NOT_CONNECTED.
DWORD ConnectTo(const UrlTarget& target) {
    const Deadline deadline = Deadline::After(Timeouts::kDefaultConnect);
    const Waiter waiter;
    std::vector<StatusEvent> events;
    std::vector<SocketAddress> addresses;
    DWORD error = Resolver().Resolve(target.host, target.port, deadline, waiter, &addresses, nullptr, events);
    Socket socket;
    if (error == ERROR_SUCCESS)
        error = Socket::Connect(addresses, deadline, waiter, &socket, nullptr, events);
    if (error == ERROR_NOT_ENOUGH_MEMORY) return error;
    return error == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_NOT_CONNECTED;
}

}  // namespace

// TRUE when the machine has a connection (LAN or MODEM) and the process is
// not offline; the flags say which, and what else is there (see
// ConnectedState::Evaluate). FALSE comes with ERROR_NOT_CONNECTED and the
// flags all the same.
BOOL WINAPI InternetGetConnectedState(LPDWORD lpdwFlags, DWORD /*dwReserved*/) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL { return Report(ConnectedState::Current(), lpdwFlags); });
}

// As InternetGetConnectedState, and the connection's name: the interface of
// the default route in use (empty without one), cut to the dwNameLen
// characters of the buffer, terminator included.
BOOL WINAPI InternetGetConnectedStateExW(LPDWORD lpdwFlags, LPWSTR lpszConnectionName, DWORD dwNameLen,
                                         DWORD /*dwReserved*/) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        const ConnectedState::State state = ConnectedState::Current();
        if (lpszConnectionName && dwNameLen > 0) {
            const std::u16string name = Utf8ToUtf16(state.connectionName);
            const std::size_t length = std::min<std::size_t>(name.size(), dwNameLen - 1);
            std::copy_n(name.data(), length, lpszConnectionName);
            lpszConnectionName[length] = 0;
        }
        return Report(state, lpdwFlags);
    });
}

// Leaves offline mode when the machine has a connection. Without one the
// process stays offline and the result is ERROR_NOT_CONNECTED.
DWORD WINAPI InternetAttemptConnect(DWORD /*dwReserved*/) {
    return GuardedCode([&]() -> DWORD { return GoOnline(); });
}

// InternetAttemptConnect with a URL to go online for, which may be null or
// empty; a URL given must be one (ERROR_INTERNET_INVALID_URL). There is no
// prompt to show, so the flags (INTERENT_GOONLINE_*) change nothing; others
// fail with ERROR_INVALID_PARAMETER.
BOOL WINAPI InternetGoOnlineW(LPCWSTR lpszURL, HWND /*hwndParent*/, DWORD dwFlags) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (dwFlags & ~DWORD{INTERENT_GOONLINE_MASK}) return Fail(ERROR_INVALID_PARAMETER);
        UrlTarget target;
        if (lpszURL && *lpszURL) {
            if (const DWORD error = CrackTarget(lpszURL, false, &target); error != ERROR_SUCCESS)
                return Fail(error);
        }
        return Outcome(GoOnline());
    });
}

// With FLAG_ICC_FORCE_CONNECTION: a TCP connection to the URL's host and
// port (the scheme's default when none is given) within the default connect
// timeout. Without it: whether the machine has a connection, from its
// interfaces and routes alone (the network manager, which does not change
// that answer, is not asked). A URL that is no URL fails with
// ERROR_INTERNET_INVALID_URL; anything unreachable, a null URL (there is no
// server this process last used to fall back on), and a process in offline
// mode with ERROR_NOT_CONNECTED.
BOOL WINAPI InternetCheckConnectionW(LPCWSTR lpszUrl, DWORD dwFlags, DWORD /*dwReserved*/) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (dwFlags & ~DWORD{FLAG_ICC_FORCE_CONNECTION}) return Fail(ERROR_INVALID_PARAMETER);
        const bool force = (dwFlags & FLAG_ICC_FORCE_CONNECTION) != 0;
        UrlTarget target;
        if (lpszUrl) {
            if (const DWORD error = CrackTarget(lpszUrl, force, &target); error != ERROR_SUCCESS)
                return Fail(error);
        }
        if (OfflineMode::Process()) return Fail(ERROR_NOT_CONNECTED);
        if (!force) return ConnectedState::HasConnection() ? TRUE : Fail(ERROR_NOT_CONNECTED);
        if (!lpszUrl) return Fail(ERROR_NOT_CONNECTED);
        return Outcome(ConnectTo(target));
    });
}
