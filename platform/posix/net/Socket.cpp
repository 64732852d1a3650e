// Connected sockets: connect, send and receive as non-blocking calls retried
// after the Waiter reports readiness.
#include "posix/net/Socket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace Corvane::Backend {

namespace {

// One connection attempt: ERROR_SUCCESS with the socket in `connected`,
// ERROR_INTERNET_CANNOT_CONNECT to go on with the next address, or what the
// wait ended with.
DWORD ConnectOne(const SocketAddress& address, const Deadline& deadline, const Waiter& waiter,
                 Socket* connected) {
    Socket socket(::socket(address.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!socket.IsOpen()) return ERROR_INTERNET_CANNOT_CONNECT;
    // On a non-blocking socket an interrupted connect goes on by itself.
    if (::connect(socket.Fd(), address.Data(), address.Length()) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) return ERROR_INTERNET_CANNOT_CONNECT;
        if (const DWORD waited = waiter.Wait(socket.Fd(), POLLOUT, deadline); waited != ERROR_SUCCESS)
            return waited;
        int error = 0;
        socklen_t length = sizeof(error);
        if (::getsockopt(socket.Fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return ERROR_INTERNET_CANNOT_CONNECT;
    }
    *connected = std::move(socket);
    return ERROR_SUCCESS;
}

// The local (getsockname) or peer (getpeername) address of `fd`.
SocketAddress NameOf(int fd, bool peer) {
    sockaddr_storage storage{};
    socklen_t length = sizeof(storage);
    auto* address = reinterpret_cast<sockaddr*>(&storage);
    if (fd < 0 || (peer ? ::getpeername(fd, address, &length) : ::getsockname(fd, address, &length)) != 0)
        return {};
    return SocketAddress(address, length);
}

}  // namespace

DWORD StreamError(int error) {
    switch (error) {
    case ECONNRESET:
    case EPIPE:
        return ERROR_INTERNET_CONNECTION_RESET;
    case ETIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    default:
        return ERROR_INTERNET_CONNECTION_ABORTED;
    }
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        FFd = other.FFd;
        other.FFd = -1;
    }
    return *this;
}

DWORD Socket::Connect(const std::vector<SocketAddress>& addresses, const Deadline& deadline,
                      const Waiter& waiter, Socket* connected, Handle* notify,
                      std::vector<StatusEvent>& events) {
    connected->Close();
    for (const SocketAddress& address : addresses) {
        if (waiter.IsCancelled()) return ERROR_INTERNET_OPERATION_CANCELLED;
        const std::string text = address.Text();
        if (notify) events.push_back(MakeAddressEvent(*notify, INTERNET_STATUS_CONNECTING_TO_SERVER, text));
        const DWORD result = ConnectOne(address, deadline, waiter, connected);
        if (result == ERROR_INTERNET_CANNOT_CONNECT) continue;
        if (result == ERROR_SUCCESS && notify)
            events.push_back(MakeAddressEvent(*notify, INTERNET_STATUS_CONNECTED_TO_SERVER, text));
        return result;
    }
    return waiter.IsCancelled() ? ERROR_INTERNET_OPERATION_CANCELLED : ERROR_INTERNET_CANNOT_CONNECT;
}

DWORD Socket::Send(const void* data, std::size_t size, const Deadline& deadline, const Waiter& waiter) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        if (waiter.IsCancelled()) return ERROR_INTERNET_OPERATION_CANCELLED;
        const ssize_t sent = ::send(FFd, next, size, MSG_NOSIGNAL);
        if (sent >= 0) {
            next += sent;
            size -= static_cast<std::size_t>(sent);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const DWORD waited = waiter.Wait(FFd, POLLOUT, deadline); waited != ERROR_SUCCESS)
                return waited;
        } else if (errno != EINTR) {
            return StreamError(errno);
        }
    }
    // Everything went out: a close that came meanwhile does not undo that.
    return ERROR_SUCCESS;
}

DWORD Socket::Receive(void* buffer, std::size_t size, std::size_t* received, const Deadline& deadline,
                      const Waiter& waiter) {
    *received = 0;
    if (size == 0) return ERROR_INVALID_PARAMETER;
    for (;;) {
        if (waiter.IsCancelled()) return ERROR_INTERNET_OPERATION_CANCELLED;
        const ssize_t got = ::recv(FFd, buffer, size, 0);
        if (got >= 0) {
            *received = static_cast<std::size_t>(got);
            return ERROR_SUCCESS;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const DWORD waited = waiter.Wait(FFd, POLLIN, deadline); waited != ERROR_SUCCESS)
                return waited;
        } else if (errno != EINTR) {
            return StreamError(errno);
        }
    }
}

void Socket::ShutdownSend() {
    if (FFd >= 0) ::shutdown(FFd, SHUT_WR);
}

void Socket::Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
}

void Socket::Abort() {
    if (FFd >= 0) {
        const linger reset{1, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    }
    Close();
}

SocketAddress Socket::LocalAddress() const {
    return NameOf(FFd, false);
}
SocketAddress Socket::PeerAddress() const {
    return NameOf(FFd, true);
}

}  // namespace Corvane::Backend
