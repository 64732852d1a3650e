// InternetDialW, InternetHangUp, InternetAutodial and InternetAutodialHangup
// over the system's network manager. The two that return an error code also
// leave it as the thread's last error when it is not ERROR_SUCCESS.
//
// No window is ever shown: the parent window arguments are unused, and the
// prompting flags (INTERNET_DIAL_FORCE_PROMPT, INTERNET_DIAL_SHOW_OFFLINE)
// have nothing to act on; the unattended flags (either of them, in either
// call) make a dial fail instead of waiting for secrets the manager asks its
// agents for.
#include "posix/connection/NetworkManager.h"
#include "posix/errors/Barrier.h"
#include "posix/errors/LastError.h"
#include "posix/text/Utf.h"

#include <string>

using namespace Corvane::Backend;

namespace {

// The usual tail of an entry point that returns its error code.
DWORD Reported(DWORD code) {
    return code == ERROR_SUCCESS ? code : FailWith(code, code);
}

}  // namespace

// A null name reads as the empty name, which names no profile (the platform
// would dial its default connection; InternetAutodial is the call for that).
DWORD WINAPI InternetDialW(HWND, LPWSTR lpszConnectoid, DWORD dwFlags, DWORD_PTR* lpdwConnection, DWORD) {
    return GuardedCode([&]() -> DWORD {
        if (!lpdwConnection) return Reported(ERROR_INVALID_PARAMETER);
        const std::u16string name = lpszConnectoid ? std::u16string(lpszConnectoid) : std::u16string();
        return Reported(NetworkManager::Dial(name, dwFlags, lpdwConnection));
    });
}

DWORD WINAPI InternetHangUp(DWORD_PTR dwConnection, DWORD) {
    return GuardedCode([&]() -> DWORD { return Reported(NetworkManager::HangUp(dwConnection)); });
}

BOOL WINAPI InternetAutodial(DWORD dwFlags, HWND) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL { return Outcome(NetworkManager::AutoDial(dwFlags)); });
}

BOOL WINAPI InternetAutodialHangup(DWORD) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL { return Outcome(NetworkManager::AutoDialHangUp()); });
}
