// GetLastError, SetLastError and InternetGetLastResponseInfoW: state kept per
// thread, as the platform keeps it.
#include "posix/errors/LastError.h"
#include "posix/errors/Barrier.h"

#include <cstring>

namespace {

thread_local DWORD ThreadLastError = ERROR_SUCCESS;

struct ResponseInfo {
    DWORD error = 0;
    std::u16string text;
};

thread_local ResponseInfo ThreadResponse;

}  // namespace

namespace Corvane::Backend {

void SetLastResponseInfo(DWORD error, std::u16string_view text) {
    ThreadResponse.error = error;
    ThreadResponse.text.assign(text);
}

void ClearLastResponseInfo() {
    ThreadResponse.error = 0;
    ThreadResponse.text.clear();
}

}  // namespace Corvane::Backend

DWORD WINAPI GetLastError(void) {
    return ThreadLastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    ThreadLastError = dwErrCode;
}

// Sizes are in bytes. Without a response the call succeeds with a size of 0.
// Otherwise, without a buffer or with one smaller than the text and its
// terminator, it reports the size needed (terminator included) and fails with
// ERROR_INSUFFICIENT_BUFFER, writing nothing; on success it reports the bytes
// written without the terminator.
BOOL WINAPI InternetGetLastResponseInfoW(LPDWORD lpdwError, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        using Corvane::Backend::Fail;
        if (!lpdwError || !lpdwBufferLength) return Fail(ERROR_INVALID_PARAMETER);
        const ResponseInfo& info = ThreadResponse;
        *lpdwError = info.error;
        const DWORD textBytes = static_cast<DWORD>(info.text.size() * sizeof(WCHAR));
        if (info.text.empty()) {
            if (lpszBuffer && *lpdwBufferLength >= sizeof(WCHAR)) lpszBuffer[0] = 0;
            *lpdwBufferLength = 0;
            return TRUE;
        }
        const DWORD needed = textBytes + sizeof(WCHAR);
        if (!lpszBuffer || *lpdwBufferLength < needed) {
            *lpdwBufferLength = needed;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(lpszBuffer, info.text.data(), textBytes);
        lpszBuffer[info.text.size()] = 0;
        *lpdwBufferLength = textBytes;
        return TRUE;
    });
}
