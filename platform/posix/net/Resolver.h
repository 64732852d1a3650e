// Host name resolution for the network layer: a name, a dotted IPv4 address
// or an IPv6 address (with or without brackets) becomes the list of
// addresses to connect to, in the order the system prefers.
//
// Numeric addresses are converted on the spot. A name is looked up with
// getaddrinfo, which blocks and cannot be interrupted, so it runs on a
// helper thread of its own while the caller waits in its Waiter for the
// answer, the deadline or the cancellation. A caller that stops waiting
// simply abandons the lookup: the helper thread owns what the lookup uses
// (the name, the answer, the descriptor that signals it) together with the
// waiter, through a shared state, so it finishes and frees everything by
// itself, touching nothing of the caller's.
#pragma once

#include "posix/handles/StatusEvents.h"
#include "posix/net/SocketAddress.h"
#include "posix/net/Waiter.h"

#include <netdb.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace Corvane::Backend {

class Resolver {
public:
    /// How a name is looked up: getaddrinfo's signature. A successful
    /// answer is released with freeaddrinfo.
    using Lookup = int (*)(const char* node, const char* service, const addrinfo* hints, addrinfo** result);

    /// A resolver looking names up with `lookup` (tests pass one of their
    /// own to stand for a slow or failing name service).
    explicit Resolver(Lookup lookup = &::getaddrinfo) : FLookup(lookup) {}

    /// Resolves `host` for a TCP connection to `port` into `addresses`
    /// (replaced; never empty on success). Queues INTERNET_STATUS_RESOLVING_NAME
    /// for `notify` (data: `host` as given, as UTF-16 text) and, on success,
    /// INTERNET_STATUS_NAME_RESOLVED (data: the first address as 8-bit text);
    /// `notify` may be null for no notifications. The caller delivers
    /// `events` (DeliverEvents) once it holds no lock.
    /// Returns ERROR_SUCCESS; ERROR_INTERNET_NAME_NOT_RESOLVED when the name
    /// has no address (or is empty, or holds a NUL character);
    /// ERROR_NOT_ENOUGH_MEMORY when the lookup or its thread could not get
    /// memory; ERROR_INTERNET_TIMEOUT or ERROR_INTERNET_OPERATION_CANCELLED
    /// from the wait for a name's answer.
    DWORD Resolve(std::string_view host, INTERNET_PORT port, const Deadline& deadline, const Waiter& waiter,
                  std::vector<SocketAddress>* addresses, Handle* notify,
                  std::vector<StatusEvent>& events) const;

    /// How many helper threads are still looking a name up, abandoned ones
    /// included (for leak checks in tests).
    static std::size_t PendingLookups();

private:
    Lookup FLookup;
};

}  // namespace Corvane::Backend
