// Name resolution on helper threads that the waiter may abandon.
#include "posix/net/Resolver.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

namespace Corvane::Backend {

namespace {

std::atomic<std::size_t> gPendingLookups{0};

addrinfo TcpHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    return hints;
}

// The addresses of an answer, which is released.
std::vector<SocketAddress> TakeAddresses(addrinfo* list) {
    // Released however this ends (an address list that cannot grow throws).
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(list, &::freeaddrinfo);
    std::vector<SocketAddress> addresses;
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
        SocketAddress address(entry->ai_addr, entry->ai_addrlen);
        if (!address.Empty()) addresses.push_back(address);
    }
    return addresses;
}

DWORD LookupError(int status) {
    if (status == EAI_MEMORY) return ERROR_NOT_ENOUGH_MEMORY;
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
}

// What a helper thread and its waiter share; the last of the two to let go
// frees it.
struct PendingLookup {
    std::string host;
    std::string service;
    Resolver::Lookup lookup = nullptr;
    int wake = -1;  // an eventfd, readable once the answer is in

    std::mutex mutex;
    bool done = false;
    int status = 0;
    std::vector<SocketAddress> addresses;

    ~PendingLookup() {
        if (wake >= 0) ::close(wake);
    }
};

void RunLookup(std::shared_ptr<PendingLookup> pending) {
    int status = EAI_MEMORY;
    std::vector<SocketAddress> addresses;
    try {
        const addrinfo hints = TcpHints(0);
        addrinfo* list = nullptr;
        status = pending->lookup(pending->host.c_str(), pending->service.c_str(), &hints, &list);
        addresses = TakeAddresses(status == 0 ? list : nullptr);
    } catch (const std::bad_alloc&) {
        status = EAI_MEMORY;
    }
    {
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->done = true;
        pending->status = status;
        pending->addresses = std::move(addresses);
    }
    const std::uint64_t one = 1;
    while (::write(pending->wake, &one, sizeof(one)) < 0 && errno == EINTR) {}
    pending.reset();  // before the count drops, so a count of 0 means all is freed
    gPendingLookups.fetch_sub(1, std::memory_order_acq_rel);
}

}  // namespace

DWORD Resolver::Resolve(std::string_view host, INTERNET_PORT port, const Deadline& deadline,
                        const Waiter& waiter, std::vector<SocketAddress>* addresses, Handle* notify,
                        std::vector<StatusEvent>& events) const {
    addresses->clear();
    if (waiter.IsCancelled()) return ERROR_INTERNET_OPERATION_CANCELLED;
    if (notify) events.push_back(MakeTextEvent(*notify, INTERNET_STATUS_RESOLVING_NAME, std::string(host)));

    std::string_view name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (name.empty() || name.find('\0') != std::string_view::npos) return ERROR_INTERNET_NAME_NOT_RESOLVED;
    const std::string node(name);
    const std::string service = std::to_string(port);

    // A numeric address needs no name service and never blocks.
    const addrinfo numericHints = TcpHints(AI_NUMERICHOST);
    addrinfo* list = nullptr;
    const int numeric = ::getaddrinfo(node.c_str(), service.c_str(), &numericHints, &list);
    if (numeric == 0) {
        *addresses = TakeAddresses(list);
    } else if (numeric == EAI_MEMORY) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } else {
        auto pending = std::make_shared<PendingLookup>();
        pending->host = node;
        pending->service = service;
        pending->lookup = FLookup;
        pending->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (pending->wake < 0) return ERROR_NOT_ENOUGH_MEMORY;
        gPendingLookups.fetch_add(1, std::memory_order_acq_rel);
        try {
            std::thread(RunLookup, pending).detach();
        } catch (...) {  // no thread (std::system_error) or no memory for it
            gPendingLookups.fetch_sub(1, std::memory_order_acq_rel);
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(pending->mutex);
                if (pending->done) {
                    if (pending->status != 0) return LookupError(pending->status);
                    *addresses = std::move(pending->addresses);
                    break;
                }
            }
            // On a timeout or cancellation the lookup is abandoned to its thread.
            if (const DWORD waited = waiter.Wait(pending->wake, POLLIN, deadline); waited != ERROR_SUCCESS)
                return waited;
        }
    }
    if (addresses->empty()) return ERROR_INTERNET_NAME_NOT_RESOLVED;
    if (notify)
        events.push_back(MakeAddressEvent(*notify, INTERNET_STATUS_NAME_RESOLVED, addresses->front().Text()));
    return ERROR_SUCCESS;
}

std::size_t Resolver::PendingLookups() {
    return gPendingLookups.load(std::memory_order_acquire);
}

}  // namespace Corvane::Backend
