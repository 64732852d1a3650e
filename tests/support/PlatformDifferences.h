// Known differences between the implementations of the platform the tests
// run against: the portable backend, Windows' wininet.dll, and Wine's
// wininet.dll (which the Windows build is tested on). Each key is explained
// in docs/PLATFORM-DIFFERENCES.md; a test that meets one says so with
// SKIP_IF_PLATFORM_DIFFERS(key), or checks the other behaviour where
// Reason(key) is not null, so the difference is stated where it shows.
#pragma once

#include <Platform/WinInet.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace PlatformDifferences {

/// Whether the tests run on Windows' API (wininet.dll and kernel32, the
/// system's own or Wine's) rather than on the portable backend.
inline bool OnWindowsApi() {
#if defined(_WIN32)
    return true;
#else
    return false;
#endif
}

/// Whether the Windows API in use is Wine's: its ntdll exports
/// wine_get_version.
inline bool OnWine() {
#if defined(_WIN32)
    static const bool Wine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return Wine;
#else
    return false;
#endif
}

/// Where a difference shows.
enum class Scope {
    Wine,        // Wine's wininet.dll departs from the platform's documented behaviour
    WindowsApi,  // wininet.dll (any) and the portable backend differ
};

struct Difference {
    const char* Key;
    Scope Where;
    const char* Summary;
};

inline constexpr Difference Known[] = {
    {"wine-message-table", Scope::Wine,
     "Wine's wininet.dll has message-table texts for a dozen Internet error codes only"},
    {"wine-session-timeouts", Scope::Wine,
     "Wine refuses the send and receive time-outs on a session handle (12018)"},
    {"wine-crack-empty-url", Scope::Wine,
     "Wine fails InternetCrackUrlW on an empty URL with ERROR_INVALID_PARAMETER, not 12006"},
    {"wine-crack-empty-password", Scope::Wine,
     "Wine reports an empty password after ':' as absent in pointer mode"},
    {"wine-crack-decode-adds-path", Scope::Wine,
     "Wine canonicalizes before cracking with ICU_DECODE, which gives a URL without a path the path '/'"},
    {"wine-canonicalize-dot-segments", Scope::Wine,
     "Wine keeps a trailing '.' or '..' segment that InternetCanonicalizeUrlW is documented to remove"},
    {"wine-canonicalize-case", Scope::Wine,
     "Wine keeps the case of scheme and host in InternetCanonicalizeUrlW"},
    {"wine-create-url-terminator", Scope::Wine,
     "Wine's InternetCreateUrlW accepts a buffer with no room for the terminator and writes it past the end"},
    {"wine-create-url-escape", Scope::Wine,
     "Wine's InternetCreateUrlW does not escape unsafe characters for ICU_ESCAPE"},
};

/// The summary of the difference `Key` when it applies where the tests run,
/// else null. An unknown key ends the test program: a typo must not turn a
/// check off silently.
inline const char* Reason(std::string_view Key) {
    for (const Difference& D : Known) {
        if (Key != D.Key)
            continue;
        const bool Applies = D.Where == Scope::Wine ? OnWine() : OnWindowsApi();
        return Applies ? D.Summary : nullptr;
    }
    ADD_FAILURE() << "unknown platform difference key: " << Key;
    std::abort();
}

}  // namespace PlatformDifferences

/// Skips the rest of the test, with the key and its summary, where the
/// difference `Key` applies.
#define SKIP_IF_PLATFORM_DIFFERS(Key)                                                              \
    do {                                                                                           \
        if (const char* Why_ = ::PlatformDifferences::Reason(Key))                                 \
            GTEST_SKIP() << "known platform difference " << (Key) << ": " << Why_;                \
    } while (0)
