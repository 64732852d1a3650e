// A listening socket for connections the server makes back to the client
// (FTP's active mode): it listens on the local IP address of the control
// connection, the address the server knows this end by, on a port the
// system picks, and accepts one connection at a time, optionally only from
// the expected peer. Like Socket, it serves one step at a time and is
// stopped from another thread through the CancelToken.
#pragma once

#include "posix/net/Socket.h"

namespace Corvane::Backend {

class Listener {
public:
    /// Not listening.
    Listener() = default;
    Listener(Listener&&) noexcept = default;
    Listener& operator=(Listener&&) noexcept = default;

    /// Listens beside `connection`: on its local IP address, on a port the
    /// system picks. Returns ERROR_SUCCESS, or ERROR_INTERNET_CANNOT_CONNECT
    /// when no socket could listen there.
    static DWORD Open(const Socket& connection, Listener* listener);

    /// Listens on `local` (port 0: one the system picks).
    static DWORD Open(const SocketAddress& local, Listener* listener);

    /// Where it listens, with the chosen port (for FTP's PORT and EPRT).
    const SocketAddress& Address() const { return FAddress; }
    INTERNET_PORT Port() const { return FAddress.Port(); }

    /// Accepts the next connection into `accepted`, waiting within
    /// `deadline`. With `expectedPeer`, a connection from another IP address
    /// is closed at once and the wait goes on (nobody else may slip data in
    /// or out). Returns ERROR_SUCCESS; ERROR_INTERNET_TIMEOUT;
    /// ERROR_INTERNET_OPERATION_CANCELLED; ERROR_INTERNET_CONNECTION_ABORTED
    /// when the system cannot accept (no descriptors left).
    DWORD Accept(Socket* accepted, const Deadline& deadline, const Waiter& waiter,
                 const SocketAddress* expectedPeer = nullptr);

    void Close() { FSocket.Close(); }
    bool IsOpen() const { return FSocket.IsOpen(); }

private:
    Socket FSocket;
    SocketAddress FAddress;
};

}  // namespace Corvane::Backend
