// The asynchronous mode: beneath a session opened with INTERNET_FLAG_ASYNC,
// a call that would wait on the network starts its work on a worker thread
// (Workers.h) and fails at once with ERROR_IO_PENDING; the work's end is
// reported by one INTERNET_STATUS_REQUEST_COMPLETE (an INTERNET_ASYNC_RESULT)
// to the handle's status callback, on the worker thread, after the
// operation's other notifications. The last error on that thread is the
// operation's during the callback.
//
// One operation at a time per handle: a second one started while the first
// is pending fails with ERROR_INTERNET_INCORRECT_HANDLE_STATE, as do the
// synchronous calls of a request that take turns with it. A handle closed
// meanwhile gets no completion: its close cancels the work, waits for it to
// end and then reports HANDLE_CLOSING, the handle's last notification.
#pragma once

#include "posix/handles/Handle.h"

#include <functional>

namespace Corvane::Backend::Async {

/// What a completion reports: dwResult and dwError.
struct Result {
    DWORD_PTR value = 0;
    DWORD error = ERROR_SUCCESS;
    /// Close the handle once its completion was reported (a connection
    /// that could not be made).
    bool closeTarget = false;
};

/// Whether `handle` belongs to a session opened with INTERNET_FLAG_ASYNC.
bool IsAsync(const Handle& handle);

/// Starts `work` on a worker thread for `target`. Returns ERROR_IO_PENDING
/// once it is queued, ERROR_INTERNET_INCORRECT_HANDLE_STATE while another
/// operation on `target` is pending, ERROR_INTERNET_ASYNC_THREAD_FAILED when
/// no worker could be started. `work` runs behind the exception barrier and
/// must own (or be allowed to use, as the caller's buffers are) what it
/// touches; its result goes to `target`'s callback unless `target` was
/// closed meanwhile.
DWORD Begin(const HandleRef& target, std::function<Result()> work);

/// The completion of a call whose body sets the last error when it fails:
/// its result and, when it failed, the thread's last error.
template <typename R>
Result Completed(R result, R failure) {
    return {(DWORD_PTR)result, result == failure ? ::GetLastError() : static_cast<DWORD>(ERROR_SUCCESS)};
}

}  // namespace Corvane::Backend::Async
