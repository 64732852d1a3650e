// An IPv4 or IPv6 address with a port, as the socket calls take and give it.
#pragma once

#include <Platform/WinInet.h>

#include <sys/socket.h>

#include <string>

namespace Corvane::Backend {

class SocketAddress {
public:
    /// No address (Family() is AF_UNSPEC).
    SocketAddress() = default;
    /// A copy of `address`; no address unless it is AF_INET or AF_INET6 and
    /// `length` covers it.
    SocketAddress(const sockaddr* address, socklen_t length);

    /// AF_INET, AF_INET6, or AF_UNSPEC for no address.
    int Family() const { return FStorage.ss_family; }
    bool Empty() const { return Family() == AF_UNSPEC; }
    const sockaddr* Data() const { return reinterpret_cast<const sockaddr*>(&FStorage); }
    socklen_t Length() const { return FLength; }

    /// The address in numeric form without port or brackets ("127.0.0.1",
    /// "::1"): the text of the NAME_RESOLVED and CONNECTING/CONNECTED_TO_SERVER
    /// notifications and of an FTP EPRT command. Empty for no address.
    std::string Text() const;

    INTERNET_PORT Port() const;
    void SetPort(INTERNET_PORT port);

    /// Whether both are the same IP address (ports aside).
    bool SameHost(const SocketAddress& other) const;

private:
    sockaddr_storage FStorage{};
    socklen_t FLength = 0;
};

}  // namespace Corvane::Backend
