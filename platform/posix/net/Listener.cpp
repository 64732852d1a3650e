// Listening for and accepting the connections a server makes back.
#include "posix/net/Listener.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace Corvane::Backend {

namespace {

// A data connection needs no queue of waiting connections; a few leave room
// for a stray one refused by the peer check.
constexpr int kBacklog = 4;

}  // namespace

DWORD Listener::Open(const Socket& connection, Listener* listener) {
    SocketAddress local = connection.LocalAddress();
    local.SetPort(0);
    return Open(local, listener);
}

DWORD Listener::Open(const SocketAddress& local, Listener* listener) {
    listener->Close();
    listener->FAddress = SocketAddress();
    if (local.Empty()) return ERROR_INTERNET_CANNOT_CONNECT;
    Socket socket(::socket(local.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!socket.IsOpen() || ::bind(socket.Fd(), local.Data(), local.Length()) != 0 ||
        ::listen(socket.Fd(), kBacklog) != 0)
        return ERROR_INTERNET_CANNOT_CONNECT;
    listener->FAddress = socket.LocalAddress();
    listener->FSocket = std::move(socket);
    return ERROR_SUCCESS;
}

DWORD Listener::Accept(Socket* accepted, const Deadline& deadline, const Waiter& waiter,
                       const SocketAddress* expectedPeer) {
    accepted->Close();
    for (;;) {
        if (waiter.IsCancelled()) return ERROR_INTERNET_OPERATION_CANCELLED;
        sockaddr_storage storage{};
        socklen_t length = sizeof(storage);
        Socket socket(::accept4(FSocket.Fd(), reinterpret_cast<sockaddr*>(&storage), &length,
                                SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (socket.IsOpen()) {
            const SocketAddress peer(reinterpret_cast<const sockaddr*>(&storage), length);
            if (expectedPeer && !peer.SameHost(*expectedPeer)) {
                // Closed as `socket` goes; a stream of strangers ends by the deadline too.
                if (deadline.Passed()) return ERROR_INTERNET_TIMEOUT;
                continue;
            }
            *accepted = std::move(socket);
            return ERROR_SUCCESS;
        }
        switch (errno) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            if (const DWORD waited = waiter.Wait(FSocket.Fd(), POLLIN, deadline); waited != ERROR_SUCCESS)
                return waited;
            break;
        // A connection that failed before it was taken, or a signal: the
        // next one may do.
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case EOPNOTSUPP:
        case ENETUNREACH:
            break;
        default:
            return ERROR_INTERNET_CONNECTION_ABORTED;
        }
    }
}

}  // namespace Corvane::Backend
