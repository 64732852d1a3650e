// The HTTP connection handle (InternetConnectW with INTERNET_SERVICE_HTTP):
// the server, port and credentials (for the server and for the proxy) its
// requests use and its timeouts. The connections themselves are the
// process's (ConnectionPool): closing the handle closes none of them.
#pragma once

#include "posix/handles/Handle.h"
#include "posix/handles/Timeouts.h"
#include "posix/http/Transfer.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Corvane::Backend {

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
    /// The credentials for the proxy (INTERNET_OPTION_PROXY_USERNAME and
    /// _PASSWORD; empty when none were set).
    std::u16string ProxyUser() const;
    std::u16string ProxyPassword() const;

    /// The timeouts in force: the overrides given (a request's), then this
    /// handle's, then the session's.
    Timeouts EffectiveTimeouts(const TimeoutOverrides* request = nullptr) const;

    /// The process's multi handle for a hop with these certificate ignore
    /// flags (connections made under different rules are never shared);
    /// null once the handle is closing.
    std::shared_ptr<TransferGroup> Group(const HopConfig& hop, DWORD ignoreFlags);

private:
    friend struct HttpConnectionOps;

    const std::string FServer;
    const INTERNET_PORT FPort;
    mutable std::mutex FMutex;
    std::u16string FUser;
    std::u16string FPassword;
    std::u16string FProxyUser;
    std::u16string FProxyPassword;
    TimeoutOverrides FTimeouts;
    bool FClosing = false;
};

}  // namespace Corvane::Backend
