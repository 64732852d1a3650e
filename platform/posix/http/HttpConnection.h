// The HTTP connection handle (InternetConnectW with INTERNET_SERVICE_HTTP):
// the server, port and credentials its requests use, its timeouts, and the
// libcurl multi handles that keep its connections alive between requests.
#pragma once

#include "posix/handles/Handle.h"
#include "posix/http/Transfer.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Corvane::Backend {

/// Timeouts set on a connection or request handle; unset ones come from the
/// handle above.
struct TimeoutOverrides {
    std::optional<DWORD> connect;
    std::optional<DWORD> send;
    std::optional<DWORD> receive;
};

/// Answers and sets INTERNET_OPTION_CONNECT_TIMEOUT, SEND_TIMEOUT and
/// RECEIVE_TIMEOUT on a handle with `overrides`, whose effective values are
/// `effective`; kOptionNotHandled for other options.
DWORD QueryTimeoutOption(const Timeouts& effective, DWORD option, void* buffer, DWORD* size);
DWORD SetTimeoutOption(TimeoutOverrides& overrides, DWORD option, const void* buffer, DWORD size);

class HttpConnection : public Handle {
public:
    static const HandleOps Ops;

    HttpConnection(HandleRef session, DWORD_PTR context, std::u16string server, INTERNET_PORT port,
                   std::u16string user, std::u16string password);

    /// The server name as given (UTF-8).
    const std::string& Server() const { return FServer; }
    /// The port as given; 0 means the scheme's default, chosen per request.
    INTERNET_PORT Port() const { return FPort; }
    std::string User() const;
    std::string Password() const;

    /// The timeouts in force: the overrides given (a request's), then this
    /// handle's, then the session's.
    Timeouts EffectiveTimeouts(const TimeoutOverrides* request = nullptr) const;

    /// The multi handle for requests with these certificate ignore flags
    /// (connections made under different rules are never shared); null once
    /// the handle is closing.
    std::shared_ptr<TransferGroup> Group(DWORD ignoreFlags);

private:
    friend struct HttpConnectionOps;

    const std::string FServer;
    const INTERNET_PORT FPort;
    mutable std::mutex FMutex;
    std::u16string FUser;
    std::u16string FPassword;
    TimeoutOverrides FTimeouts;
    std::map<DWORD, std::shared_ptr<TransferGroup>> FGroups;
    bool FClosing = false;
};

}  // namespace Corvane::Backend
