// The three network timeouts every connection and request handle answers
// (INTERNET_OPTION_CONNECT_TIMEOUT, SEND_TIMEOUT and RECEIVE_TIMEOUT): their
// defaults, the overrides a handle may hold, and the option operations on
// them. A handle's effective timeouts are the session's, then each handle's
// overrides on the way down to it.
#pragma once

#include "posix/handles/Handle.h"

#include <optional>

namespace Corvane::Backend {

/// Timeouts in milliseconds; 0 or 0xFFFFFFFF mean no limit.
struct Timeouts {
    /// The defaults of a new session, the platform's.
    static constexpr DWORD kDefaultConnect = 60000;
    static constexpr DWORD kDefaultSend = 30000;
    static constexpr DWORD kDefaultReceive = 30000;

    DWORD connect = kDefaultConnect;
    DWORD send = kDefaultSend;
    DWORD receive = kDefaultReceive;
};

/// Whether a timeout value sets a limit.
constexpr bool IsLimited(DWORD timeout) {
    return timeout != 0 && timeout != 0xFFFFFFFFu;
}

/// Timeouts set on a connection or request handle; unset ones come from the
/// handle above.
struct TimeoutOverrides {
    std::optional<DWORD> connect;
    std::optional<DWORD> send;
    std::optional<DWORD> receive;

    /// Replaces the values of `timeouts` that these overrides set.
    void ApplyTo(Timeouts& timeouts) const;
};

/// The timeouts of the session `handle` belongs to (the defaults when it
/// belongs to none).
Timeouts SessionTimeouts(const HandleRef& handle);

/// Answers INTERNET_OPTION_CONNECT_TIMEOUT, SEND_TIMEOUT and RECEIVE_TIMEOUT
/// with `effective`; kOptionNotHandled for other options.
DWORD QueryTimeoutOption(const Timeouts& effective, DWORD option, void* buffer, DWORD* size);

/// Sets one of the three timeouts in `overrides`; kOptionNotHandled for
/// other options.
DWORD SetTimeoutOption(TimeoutOverrides& overrides, DWORD option, const void* buffer, DWORD size);

}  // namespace Corvane::Backend
