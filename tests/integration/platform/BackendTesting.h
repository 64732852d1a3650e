// Helpers shared by the backend's tests: a sentinel last error set before a
// call, and checks of the exact code left after it.
#pragma once

#include <Platform/WinInet.h>

#include <gtest/gtest.h>

#include <string>

namespace BackendTesting {

/// A last error no call of the backend sets by itself.
inline constexpr DWORD kSentinel = 0xDEADBEEF;

/// Sets the sentinel; call right before the call under test.
inline void ArmLastError() {
    ::SetLastError(kSentinel);
}

/// The call failed with exactly `expected` as the last error.
inline testing::AssertionResult FailedWith(BOOL result, DWORD expected) {
    const DWORD actual = ::GetLastError();
    if (result) return testing::AssertionFailure() << "the call succeeded";
    if (actual != expected)
        return testing::AssertionFailure() << "last error " << actual << ", expected " << expected;
    return testing::AssertionSuccess();
}

/// The call succeeded and left the last error untouched.
inline testing::AssertionResult Succeeded(BOOL result) {
    const DWORD actual = ::GetLastError();
    if (!result) return testing::AssertionFailure() << "the call failed with " << actual;
    if (actual != kSentinel)
        return testing::AssertionFailure() << "success changed the last error to " << actual;
    return testing::AssertionSuccess();
}

/// A printable UTF-8 form of a UTF-16 text (ASCII is enough for tests).
inline std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace BackendTesting
