// The one place where the network layer waits.
//
// Every socket is non-blocking, and every blocking step is written the same
// way: try the non-blocking call; when it would block (EAGAIN, EINPROGRESS),
// Wait for the descriptor to become ready, then try again. Only Wait sleeps,
// and it wakes for readiness, for the step's deadline and for the handle's
// CancelToken, whichever comes first. The synchronous mode waits in poll()
// on the caller's thread; a worker that drives many sockets at once (the
// asynchronous mode) derives from Waiter and replaces Wait, and the steps
// themselves stay as they are.
#pragma once

#include "posix/net/CancelToken.h"
#include "posix/net/Deadline.h"

#include <Platform/WinInet.h>

namespace Corvane::Backend {

class Waiter {
public:
    /// A waiter cancelled by `cancel` (null: by nothing); the token must
    /// outlive the waiter.
    explicit Waiter(const CancelToken* cancel = nullptr) : FCancel(cancel) {}
    virtual ~Waiter() = default;

    /// Whether the steps using this waiter are cancelled; each step checks
    /// it before it starts, so none starts on a closed handle.
    bool IsCancelled() const { return FCancel && FCancel->IsCancelled(); }

    /// Waits until `fd` is ready for `events` (POLLIN, POLLOUT) or has an
    /// error or hang-up condition (which the retried call then reports),
    /// until `deadline` passes or until the token is cancelled. Returns
    /// ERROR_SUCCESS, ERROR_INTERNET_TIMEOUT or
    /// ERROR_INTERNET_OPERATION_CANCELLED; a cancellation wins over
    /// readiness. A deadline that has passed on entry is a timeout at once:
    /// the step has had its time. Interruptions by signals are waited
    /// through.
    virtual DWORD Wait(int fd, short events, const Deadline& deadline) const;

private:
    const CancelToken* FCancel;
};

}  // namespace Corvane::Backend
