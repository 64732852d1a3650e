// The calling thread's last error and last server response, and the helpers
// the backend's C entry points use to report an outcome through them.
#pragma once

#include <Platform/WinInet.h>

#include <string>
#include <string_view>

namespace Corvane::Backend {

/// Records the server's last response on the calling thread, for
/// InternetGetLastResponseInfoW: `error` is what that function reports as the
/// error code, `text` the reply (typically the server's reply lines, each
/// ending in CR LF). The FTP and HTTP work call this after each exchange.
void SetLastResponseInfo(DWORD error, std::u16string_view text);

/// Forgets the calling thread's last response (as if none was received).
void ClearLastResponseInfo();

/// Sets the calling thread's last error to `code` and returns FALSE: the
/// usual tail of a failing BOOL entry point.
inline BOOL Fail(DWORD code) {
    ::SetLastError(code);
    return FALSE;
}

/// Sets the last error to `code` and returns `value` (a null handle, 0, ...).
template <typename T>
T FailWith(DWORD code, T value) {
    ::SetLastError(code);
    return value;
}

/// Turns an error code into a BOOL result: TRUE for ERROR_SUCCESS (the last
/// error is left as it was), else FALSE with the last error set to the code.
inline BOOL Outcome(DWORD code) {
    return code == ERROR_SUCCESS ? TRUE : Fail(code);
}

}  // namespace Corvane::Backend
