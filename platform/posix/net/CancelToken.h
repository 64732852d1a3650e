// The cancellation of the network steps made for one handle. The handle owns
// a token and its kind's `close` operation calls Cancel(): every step waiting
// on the token, in any thread, wakes at once, and every later step fails at
// its start, each with ERROR_INTERNET_OPERATION_CANCELLED. A token is never
// reset (a closed handle stays closed).
//
// The token is an eventfd that becomes readable on Cancel() and stays so;
// the Waiter polls it beside the socket it waits for. The token must outlive
// every step waiting on it: a step runs while its caller holds a reference
// to the handle, which owns the token.
#pragma once

#include <atomic>

namespace Corvane::Backend {

class CancelToken {
public:
    /// Throws std::system_error when no file descriptor is left.
    CancelToken();
    ~CancelToken();
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    /// Cancels: safe from any thread, any number of times, with or without
    /// locks held (it only stores a flag and writes to the eventfd).
    void Cancel() noexcept;

    bool IsCancelled() const noexcept { return FCancelled.load(std::memory_order_acquire); }

    /// The descriptor that polls readable once cancelled; never read it.
    int Fd() const { return FFd; }

private:
    int FFd = -1;
    std::atomic<bool> FCancelled{false};
};

}  // namespace Corvane::Backend
