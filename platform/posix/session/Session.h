// The session handle (InternetOpenW) of the portable backend and the
// settings it gives the connections opened beneath it.
#pragma once

#include "posix/handles/Handle.h"
#include "posix/handles/Timeouts.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace Corvane::Backend {

/// What a session holds for the work done beneath it. Times are in
/// milliseconds; 0xFFFFFFFF means no limit.
struct SessionSettings {
    std::u16string agent;
    /// The access type given to InternetOpenW (or last set through
    /// INTERNET_OPTION_PROXY).
    DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    /// What applies: INTERNET_OPEN_TYPE_PROXY when `proxy` is to be used,
    /// else INTERNET_OPEN_TYPE_DIRECT. The preconfigured types resolve to one
    /// of the two from the environment.
    DWORD proxyAccessType = INTERNET_OPEN_TYPE_DIRECT;
    /// The proxy list in the platform's form: entries separated by blanks,
    /// each "[scheme=][scheme://]host[:port]"; an entry without "scheme="
    /// serves every scheme that has no entry of its own. Empty when direct.
    std::u16string proxy;
    /// Hosts that bypass the proxy, separated by ';' ("*.example.com",
    /// "<local>", ...).
    std::u16string proxyBypass;
    /// The InternetOpenW flags: INTERNET_FLAG_ASYNC and INTERNET_FLAG_OFFLINE
    /// (everything beneath the session then works offline, OfflineMode.h).
    DWORD flags = 0;
    DWORD connectTimeout = Timeouts::kDefaultConnect;
    DWORD connectRetries = 5;
    DWORD sendTimeout = Timeouts::kDefaultSend;
    DWORD receiveTimeout = Timeouts::kDefaultReceive;
    /// The timeouts of FTP's data connections.
    DWORD dataSendTimeout = Timeouts::kDefaultSend;
    DWORD dataReceiveTimeout = Timeouts::kDefaultReceive;
};

/// A proxy list and bypass list, as SessionSettings holds them.
struct ProxyConfig {
    std::u16string proxy;
    std::u16string bypass;
};

/// The proxy settings of the environment: http_proxy, https_proxy,
/// ftp_proxy, all_proxy and no_proxy, each in lower case or, failing that,
/// upper case. Empty lists when none is set.
ProxyConfig ProxyFromEnvironment();

/// A session handle.
class Session : public Handle {
public:
    /// The session kind's operations (INTERNET_HANDLE_TYPE_INTERNET).
    static const HandleOps Ops;

    explicit Session(SessionSettings settings);
    ~Session() override;

    /// A consistent copy of the current settings.
    SessionSettings Settings() const;
    /// The InternetOpenW flags alone, without copying the rest.
    DWORD Flags() const;
    /// Whether the session was opened with INTERNET_FLAG_ASYNC (never
    /// changes; read without a lock on every read call).
    bool IsAsync() const { return FAsync; }

private:
    friend struct SessionOptions;
    void LetGoOfWorkers();

    mutable std::mutex FMutex;
    SessionSettings FSettings;
    // An asynchronous session keeps the worker threads from its opening to
    // its close.
    const bool FAsync;
    std::atomic<bool> FUsesWorkers;
};

/// The session that `handle` belongs to: itself if it is one, else its
/// nearest ancestor that is; null if there is none.
std::shared_ptr<Session> SessionOf(const HandleRef& handle);

}  // namespace Corvane::Backend
