// A connected TCP socket of the network layer: connecting to a list of
// addresses, sending everything, receiving what has arrived. The descriptor
// is non-blocking and close-on-exec; every step waits only through its
// Waiter, so it ends by its deadline or at once when the handle closes
// (ERROR_INTERNET_OPERATION_CANCELLED), and no step raises SIGPIPE.
//
// A socket serves one step at a time. Another thread stops a step through
// the CancelToken, never by closing the socket (its descriptor number could
// be reused under the waiting step); the owner closes it once no step runs.
//
// Errors: ERROR_INTERNET_TIMEOUT (the deadline passed, or the system gave up
// on the peer), ERROR_INTERNET_CONNECTION_RESET (reset by the peer, or
// written after it closed), ERROR_INTERNET_CONNECTION_ABORTED (any other
// failure of the connection), ERROR_INTERNET_OPERATION_CANCELLED.
#pragma once

#include "posix/handles/StatusEvents.h"
#include "posix/net/SocketAddress.h"
#include "posix/net/Waiter.h"

#include <cstddef>
#include <vector>

namespace Corvane::Backend {

class Socket {
public:
    /// No socket.
    Socket() = default;
    /// Takes over `fd`, a connected non-blocking stream socket.
    explicit Socket(int fd) : FFd(fd) {}
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept : FFd(other.FFd) { other.FFd = -1; }
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    /// Connects to the first of `addresses` that accepts, trying each in
    /// turn, all within `deadline`. Queues INTERNET_STATUS_CONNECTING_TO_SERVER
    /// for each address tried and INTERNET_STATUS_CONNECTED_TO_SERVER for the
    /// one that accepted (data: the address as 8-bit text) for `notify`
    /// (null: none). Returns ERROR_SUCCESS with the socket in `connected`;
    /// ERROR_INTERNET_CANNOT_CONNECT when every address refused or could not
    /// be reached (or the list is empty); ERROR_INTERNET_TIMEOUT when the
    /// deadline passed (the remaining addresses are not tried);
    /// ERROR_INTERNET_OPERATION_CANCELLED.
    static DWORD Connect(const std::vector<SocketAddress>& addresses, const Deadline& deadline,
                         const Waiter& waiter, Socket* connected, Handle* notify,
                         std::vector<StatusEvent>& events);

    /// Sends all `size` bytes, or fails (how many went out is then unknown).
    DWORD Send(const void* data, std::size_t size, const Deadline& deadline, const Waiter& waiter);

    /// Receives what has arrived, waiting for at least one byte: at most
    /// `size` (> 0) bytes into `buffer`, their count in `received`, which is
    /// 0 only when the peer has ended the stream in order.
    DWORD Receive(void* buffer, std::size_t size, std::size_t* received, const Deadline& deadline,
                  const Waiter& waiter);

    /// Ends the sending direction (the peer reads an orderly end) while
    /// receiving goes on.
    void ShutdownSend();

    /// Closes the descriptor (nothing if none).
    void Close();
    /// Closes with a reset instead of an orderly end, so the peer cannot
    /// take what it received for the whole of it (an upload broken off).
    void Abort();

    bool IsOpen() const { return FFd >= 0; }
    int Fd() const { return FFd; }

    /// This end's address (an FTP client's address for the PORT command) and
    /// the peer's; no address when the socket is not connected.
    SocketAddress LocalAddress() const;
    SocketAddress PeerAddress() const;

private:
    int FFd = -1;
};

/// The Internet error for an errno value of a failed send or receive.
DWORD StreamError(int error);

}  // namespace Corvane::Backend
