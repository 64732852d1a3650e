// Socket addresses: copies, numeric texts, ports.
#include "posix/net/SocketAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace Corvane::Backend {

SocketAddress::SocketAddress(const sockaddr* address, socklen_t length) {
    if (!address) return;
    const bool v4 = address->sa_family == AF_INET && length >= sizeof(sockaddr_in);
    const bool v6 = address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6);
    if (!v4 && !v6) return;
    FLength = v4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    std::memcpy(&FStorage, address, FLength);
}

std::string SocketAddress::Text() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (Family() == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&FStorage)->sin_addr, text, sizeof(text));
    else if (Family() == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&FStorage)->sin6_addr, text,
                    sizeof(text));
    return text;
}

INTERNET_PORT SocketAddress::Port() const {
    if (Family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&FStorage)->sin_port);
    if (Family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&FStorage)->sin6_port);
    return 0;
}

void SocketAddress::SetPort(INTERNET_PORT port) {
    if (Family() == AF_INET) reinterpret_cast<sockaddr_in*>(&FStorage)->sin_port = htons(port);
    if (Family() == AF_INET6) reinterpret_cast<sockaddr_in6*>(&FStorage)->sin6_port = htons(port);
}

bool SocketAddress::SameHost(const SocketAddress& other) const {
    if (Family() != other.Family()) return false;
    if (Family() == AF_INET)
        return reinterpret_cast<const sockaddr_in*>(&FStorage)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&other.FStorage)->sin_addr.s_addr;
    if (Family() == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&FStorage);
        const auto* b = reinterpret_cast<const sockaddr_in6*>(&other.FStorage);
        return std::memcmp(&a->sin6_addr, &b->sin6_addr, sizeof(in6_addr)) == 0 &&
               a->sin6_scope_id == b->sin6_scope_id;
    }
    return false;
}

}  // namespace Corvane::Backend
