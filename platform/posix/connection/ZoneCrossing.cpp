// InternetConfirmZoneCrossing(A) and the application's handler of crossings.
#include <Platform/ZoneCrossing.h>

#include "posix/connection/UrlTarget.h"
#include "posix/errors/Barrier.h"
#include "posix/errors/LastError.h"
#include "posix/text/Utf.h"

#include <mutex>
#include <utility>

namespace Corvane::ZoneCrossing {

namespace {

std::mutex HandlerMutex;
Handler CurrentHandler = nullptr;
void* CurrentContext = nullptr;

std::pair<Handler, void*> Installed() {
    std::lock_guard<std::mutex> lock(HandlerMutex);
    return {CurrentHandler, CurrentContext};
}

}  // namespace

DWORD SetHandler(Handler handler, void* context) {
    std::lock_guard<std::mutex> lock(HandlerMutex);
    CurrentHandler = handler;
    CurrentContext = handler ? context : nullptr;
    return ERROR_SUCCESS;
}

}  // namespace Corvane::ZoneCrossing

namespace {

using namespace Corvane::Backend;

// The scheme of an 8-bit URL (UTF-8 here), or the error that refuses it.
DWORD SchemeOf(const char* url, INTERNET_SCHEME* scheme) {
    if (!url) return ERROR_INVALID_PARAMETER;
    UrlTarget target;
    const DWORD error = CrackTarget(Utf8ToUtf16(url), false, &target);
    *scheme = target.scheme;
    return error;
}

}  // namespace

// The policy of <Platform/ZoneCrossing.h>: only a move between https and
// any other scheme is a crossing, which the application's handler decides
// (allowed without one). The handler runs with no lock held.
DWORD WINAPI InternetConfirmZoneCrossingA(HWND /*hWnd*/, LPSTR szUrlPrev, LPSTR szUrlNew, BOOL bPost) {
    return Guarded<DWORD>(ERROR_NOT_ENOUGH_MEMORY, [&]() -> DWORD {
        INTERNET_SCHEME from = INTERNET_SCHEME_UNKNOWN;
        INTERNET_SCHEME to = INTERNET_SCHEME_UNKNOWN;
        if (const DWORD error = SchemeOf(szUrlPrev, &from); error != ERROR_SUCCESS) return error;
        if (const DWORD error = SchemeOf(szUrlNew, &to); error != ERROR_SUCCESS) return error;
        if ((from == INTERNET_SCHEME_HTTPS) == (to == INTERNET_SCHEME_HTTPS)) return ERROR_SUCCESS;
        const auto [handler, context] = Corvane::ZoneCrossing::Installed();
        return handler ? handler(szUrlPrev, szUrlNew, bPost != FALSE, context) : DWORD{ERROR_SUCCESS};
    });
}

DWORD WINAPI InternetConfirmZoneCrossing(HWND hWnd, LPSTR szUrlPrev, LPSTR szUrlNew, BOOL bPost) {
    return InternetConfirmZoneCrossingA(hWnd, szUrlPrev, szUrlNew, bPost);
}
