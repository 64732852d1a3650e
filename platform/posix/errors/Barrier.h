// The exception barrier of the C entry points: no C++ exception ever leaves
// the backend through its C API (the caller may be C, or a C++ caller that
// never expects one from a C function). An exception thrown inside an entry
// point ends the call as a failure like any other: ERROR_NOT_ENOUGH_MEMORY
// for an allocation that failed, ERROR_INTERNET_INTERNAL_ERROR for anything else.
#pragma once

#include <Platform/WinInet.h>

#include "posix/errors/FaultInjection.h"

#include <new>

namespace Corvane::Backend {

/// Whether an entry point is a Call fault point (FaultInjection.h).
enum class Entry { Failable, NeverFails };

/// Runs `body` and returns what it returns; if it throws, sets the last
/// error and returns `failure` instead.
template <typename T, typename Body>
T Guarded(T failure, Body&& body, Entry kind = Entry::Failable) noexcept {
    if (unsigned long injected = 0; kind == Entry::Failable && FaultInjection::CallMustFail(&injected)) {
        ::SetLastError(static_cast<DWORD>(injected));
        return failure;
    }
    try {
        const FaultInjection::EntryScope entry;
        return body();
    } catch (const std::bad_alloc&) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        ::SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
    }
    return failure;
}

/// For an entry point whose result is an error code: runs `body` and
/// returns the code it returns. If it throws, the code that stands for the
/// exception (as Guarded sets it) is both the last error and the result, so
/// that the two never disagree.
template <typename Body>
DWORD GuardedCode(Body&& body) noexcept {
    DWORD code = ERROR_INTERNET_INTERNAL_ERROR;
    if (unsigned long injected = 0; FaultInjection::CallMustFail(&injected)) {
        ::SetLastError(static_cast<DWORD>(injected));
        return static_cast<DWORD>(injected);
    }
    try {
        const FaultInjection::EntryScope entry;
        return body();
    } catch (const std::bad_alloc&) {
        code = ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {}
    ::SetLastError(code);
    return code;
}

}  // namespace Corvane::Backend
