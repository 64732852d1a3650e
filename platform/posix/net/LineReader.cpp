// Line-by-line reading with a bounded buffer.
#include "posix/net/LineReader.h"

#include <algorithm>

namespace Corvane::Backend {

namespace {

// How much one receive asks for at most.
constexpr std::size_t kChunk = 4096;

}  // namespace

DWORD LineReader::ReadLine(Socket& socket, std::string* line, const Deadline& deadline,
                           const Waiter& waiter) {
    line->clear();
    // A line of the maximum length with its CR LF.
    const std::size_t limit = FMaxLine + 2;
    for (;;) {
        const std::size_t end = FBuffer.find('\n', FScanned);
        if (end != std::string::npos) {
            const std::size_t length = end > 0 && FBuffer[end - 1] == '\r' ? end - 1 : end;
            if (length > FMaxLine) return ERROR_INTERNET_CONNECTION_ABORTED;
            line->assign(FBuffer, 0, length);
            FBuffer.erase(0, end + 1);
            FScanned = 0;
            return ERROR_SUCCESS;
        }
        FScanned = FBuffer.size();
        if (FBuffer.size() >= limit) return ERROR_INTERNET_CONNECTION_ABORTED;

        const std::size_t had = FBuffer.size();
        FBuffer.resize(had + std::min(kChunk, limit - had));
        std::size_t received = 0;
        const DWORD result =
            socket.Receive(FBuffer.data() + had, FBuffer.size() - had, &received, deadline, waiter);
        FBuffer.resize(had + received);
        if (result != ERROR_SUCCESS) return result;
        if (received == 0) return ERROR_INTERNET_CONNECTION_ABORTED;
    }
}

}  // namespace Corvane::Backend
