// The poll loop every network step waits in.
#include "posix/net/Waiter.h"

#include <poll.h>

#include <cerrno>

namespace Corvane::Backend {

DWORD Waiter::Wait(int fd, short events, const Deadline& deadline) const {
    for (;;) {
        if (IsCancelled()) return ERROR_INTERNET_OPERATION_CANCELLED;
        if (deadline.Passed()) return ERROR_INTERNET_TIMEOUT;
        pollfd fds[2] = {{fd, events, 0}, {FCancel ? FCancel->Fd() : -1, POLLIN, 0}};
        const int ready = ::poll(fds, FCancel ? 2 : 1, deadline.PollTimeout());
        if (ready < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return ERROR_INTERNET_INTERNAL_ERROR;
        }
        if (FCancel && fds[1].revents) return ERROR_INTERNET_OPERATION_CANCELLED;
        // A descriptor that is not open would report itself ready for ever.
        if (fds[0].revents & POLLNVAL) return ERROR_INTERNET_CONNECTION_ABORTED;
        if (fds[0].revents) return ERROR_SUCCESS;
        // Nothing ready: the deadline has come (the loop sees it passed).
    }
}

}  // namespace Corvane::Backend
