// Reads a socket line by line, as a command protocol's replies come (FTP):
// each line ends in CR LF (a bare LF is taken too) and is handed out without
// its terminator. Bytes that arrive past a line stay buffered for the next
// call. A line longer than the reader's maximum ends the reading with an
// error instead of growing the buffer, so a hostile server cannot make the
// client hold more than about that much; how many lines a reply may have is
// for the protocol to bound.
#pragma once

#include "posix/net/Socket.h"

#include <cstddef>
#include <string>

namespace Corvane::Backend {

class LineReader {
public:
    /// The longest line (terminator aside) a reader takes by default.
    static constexpr std::size_t kDefaultMaxLine = 8192;

    explicit LineReader(std::size_t maxLine = kDefaultMaxLine) : FMaxLine(maxLine) {}

    /// The next line into `line`, received from `socket` as needed, all
    /// within `deadline`. Returns ERROR_SUCCESS; ERROR_INTERNET_CONNECTION_ABORTED
    /// when the stream ends before a line does (an empty buffer included) or
    /// a line is longer than the maximum (the connection is then of no further
    /// use); or what Socket::Receive returns.
    DWORD ReadLine(Socket& socket, std::string* line, const Deadline& deadline, const Waiter& waiter);

    /// Bytes received past the last line handed out.
    std::size_t Buffered() const { return FBuffer.size(); }

    /// Forgets the buffered bytes (for a new connection).
    void Clear() {
        FBuffer.clear();
        FScanned = 0;
    }

private:
    std::size_t FMaxLine;
    std::string FBuffer;
    std::size_t FScanned = 0;  // FBuffer's first bytes known to hold no LF
};

}  // namespace Corvane::Backend
