// Timeout options and the chain of handles they are inherited along.
#include "posix/handles/Timeouts.h"

#include "posix/handles/Options.h"
#include "posix/session/Session.h"

namespace Corvane::Backend {

namespace {

struct TimeoutOption {
    DWORD option;
    std::optional<DWORD> TimeoutOverrides::*override;
    DWORD Timeouts::*effective;
};

constexpr TimeoutOption kTimeoutOptions[] = {
    {INTERNET_OPTION_CONNECT_TIMEOUT, &TimeoutOverrides::connect, &Timeouts::connect},
    {INTERNET_OPTION_SEND_TIMEOUT, &TimeoutOverrides::send, &Timeouts::send},
    {INTERNET_OPTION_RECEIVE_TIMEOUT, &TimeoutOverrides::receive, &Timeouts::receive},
};

const TimeoutOption* FindTimeout(DWORD option) {
    for (const TimeoutOption& entry : kTimeoutOptions)
        if (entry.option == option) return &entry;
    return nullptr;
}

}  // namespace

void TimeoutOverrides::ApplyTo(Timeouts& timeouts) const {
    for (const TimeoutOption& entry : kTimeoutOptions)
        if (const auto& value = this->*(entry.override)) timeouts.*(entry.effective) = *value;
}

Timeouts SessionTimeouts(const HandleRef& handle) {
    Timeouts timeouts;
    if (const auto session = SessionOf(handle)) {
        const SessionSettings settings = session->Settings();
        timeouts.connect = settings.connectTimeout;
        timeouts.send = settings.sendTimeout;
        timeouts.receive = settings.receiveTimeout;
    }
    return timeouts;
}

DWORD QueryTimeoutOption(const Timeouts& effective, DWORD option, void* buffer, DWORD* size) {
    const TimeoutOption* entry = FindTimeout(option);
    return entry ? QueryValue(buffer, size, effective.*(entry->effective)) : kOptionNotHandled;
}

DWORD SetTimeoutOption(TimeoutOverrides& overrides, DWORD option, const void* buffer, DWORD size) {
    const TimeoutOption* entry = FindTimeout(option);
    if (!entry) return kOptionNotHandled;
    DWORD value = 0;
    const DWORD error = SetValue(buffer, size, value);
    if (error == ERROR_SUCCESS) overrides.*(entry->override) = value;
    return error;
}

}  // namespace Corvane::Backend
