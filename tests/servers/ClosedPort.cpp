// TestServers::ClosedPort on POSIX sockets and on Winsock.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "TestServers.h"

namespace TestServers {

std::uint16_t ClosedPort() {
#ifdef _WIN32
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int length = 0;
#else
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    socklen_t length = 0;
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof(address);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
#ifdef _WIN32
    ::closesocket(fd);
    ::WSACleanup();
#else
    ::close(fd);
#endif
    return ntohs(address.sin_port);
}

}  // namespace TestServers
