// InternetConfirmZoneCrossing(A) and the application's handler of crossings.
#include <Platform/ZoneCrossing.h>

#include "posix/connection/UrlTarget.h"
#include "posix/errors/Barrier.h"
#include "posix/errors/FaultInjection.h"
#include "posix/errors/LastError.h"
#include "posix/text/Utf.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Corvane::ZoneCrossing {

namespace {

// The handler and the calls running it. A call counts as `Current` while
// the handler it took is still the installed one; SetHandler moves them
// all to `Earlier` and waits until those have returned, so that after it
// the old handler and its context are no longer in use.
std::mutex HandlerMutex;
std::condition_variable EarlierDone;
Handler CurrentHandler = nullptr;
void* CurrentContext = nullptr;
std::uint64_t Generation = 0;
int Current = 0;
int Earlier = 0;
// Calls of the handler running on this thread (a handler may cross zones
// itself).
thread_local int RunningHere = 0;

}  // namespace

DWORD SetHandler(Handler handler, void* context) {
    std::unique_lock<std::mutex> lock(HandlerMutex);
    CurrentHandler = handler;
    CurrentContext = handler ? context : nullptr;
    ++Generation;
    Earlier += Current;
    Current = 0;
    // From inside a handler the wait could never end (that call is one of
    // those waited for) or could deadlock with a handler on another thread
    // doing the same; there the change takes effect for later calls only.
    if (RunningHere == 0) EarlierDone.wait(lock, [] { return Earlier == 0; });
    return ERROR_SUCCESS;
}

namespace {

// Runs the installed handler, if any, on a crossing; ERROR_SUCCESS without
// one. The handler runs with no lock held, as the application's code.
DWORD Decide(const char* from, const char* to, bool post) {
    Handler handler;
    void* context;
    std::uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(HandlerMutex);
        if (!CurrentHandler) return ERROR_SUCCESS;
        handler = CurrentHandler;
        context = CurrentContext;
        generation = Generation;
        ++Current;
    }
    struct Finish {
        std::uint64_t generation;
        explicit Finish(std::uint64_t g) : generation(g) { ++RunningHere; }
        ~Finish() {
            --RunningHere;
            std::lock_guard<std::mutex> lock(HandlerMutex);
            if (generation == Generation) {
                --Current;
            } else if (--Earlier == 0) {
                EarlierDone.notify_all();
            }
        }
    } const finish(generation);
    const Backend::FaultInjection::OutsideScope outside;
    return handler(from, to, post, context);
}

}  // namespace

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
// (allowed without one). The handler runs with no lock held, outside the
// backend as fault injection sees it.
DWORD WINAPI InternetConfirmZoneCrossingA(HWND /*hWnd*/, LPSTR szUrlPrev, LPSTR szUrlNew, BOOL bPost) {
    return GuardedCode([&]() -> DWORD {
        INTERNET_SCHEME from = INTERNET_SCHEME_UNKNOWN;
        INTERNET_SCHEME to = INTERNET_SCHEME_UNKNOWN;
        if (const DWORD error = SchemeOf(szUrlPrev, &from); error != ERROR_SUCCESS) return error;
        if (const DWORD error = SchemeOf(szUrlNew, &to); error != ERROR_SUCCESS) return error;
        if ((from == INTERNET_SCHEME_HTTPS) == (to == INTERNET_SCHEME_HTTPS)) return ERROR_SUCCESS;
        return Corvane::ZoneCrossing::Decide(szUrlPrev, szUrlNew, bPost != FALSE);
    });
}

DWORD WINAPI InternetConfirmZoneCrossing(HWND hWnd, LPSTR szUrlPrev, LPSTR szUrlNew, BOOL bPost) {
    return InternetConfirmZoneCrossingA(hWnd, szUrlPrev, szUrlNew, bPost);
}
