// The process's kept-alive HTTP connections. As on the platform, they belong
// to the process, not to a connection handle: a program that opens a
// connection handle, makes one request and closes it finds the connection
// (and its TLS session) ready for the next handle to the same server.
//
// Each entry is a TransferGroup (a libcurl multi handle and its connection
// cache) for one key: scheme, host and port of the server, the proxy, the
// certificate ignore flags the connections were checked under, the
// credentials the requests carry, and the limit on connections in force.
// Requests that differ in any of these never share a connection. Within an
// entry libcurl keeps at most that many connections to the server at once
// (CURLMOPT_MAX_HOST_CONNECTIONS; a request beyond it waits for one to come
// free, as on the platform) and reuses an idle one only within
// TransferGroup::kIdleSeconds. An entry that no request has used for that
// long is dropped, closing its connections, the next time a request looks
// in the pool: the pool has no thread of its own.
#pragma once

#include "posix/http/Transfer.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Corvane::Backend {

class ConnectionPool {
public:
    /// The pool of the process. It lives until the process ends (it is never
    /// destroyed, so no request of another thread can outlive it).
    static ConnectionPool& Process();

    /// The entry for a hop whose certificate checks forgive `ignoreFlags`.
    /// Throws std::bad_alloc when it cannot be made; null for a hop whose
    /// URL has no origin.
    std::shared_ptr<TransferGroup> Group(const HopConfig& hop, DWORD ignoreFlags);

private:
    ConnectionPool() = default;
    void DropIdle(std::vector<std::shared_ptr<TransferGroup>>& dropped);

    std::mutex FMutex;
    std::map<std::string, std::shared_ptr<TransferGroup>> FGroups;
    // When DropIdle last looked at the groups: at most once a second, as
    // looking takes each group's lock, which a thread running libcurl for
    // it holds most of the time.
    std::chrono::steady_clock::time_point FLastSweep;
};

}  // namespace Corvane::Backend
