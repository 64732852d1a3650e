// The asynchronous mode: beneath a session opened with INTERNET_FLAG_ASYNC,
// a call that would wait on the network starts its work on a worker thread
// (Workers.h) and fails at once with ERROR_IO_PENDING; the work's end is
// reported by one INTERNET_STATUS_REQUEST_COMPLETE (an INTERNET_ASYNC_RESULT)
// to the handle's status callback, on the worker thread, after the
// operation's other notifications. The last error on that thread is the
// operation's during the callback. As for every notification, a handle
// whose context value is 0 gets none: its operations run all the same.
//
// Operations on one handle run one at a time, in the order they were
// started: one started while another is pending is queued behind it, as the
// platform queues them. The next one starts as the previous one's
// completion is reported, so a completion's callback may start another
// operation and wait for it (whose completion may then come while the
// first callback still runs). A call that can answer at once (a read of
// buffered data) does so only when no operation of its handle is running or
// queued.
//
// A handle closed meanwhile gets no completion: its close cancels the work,
// waits for it (and for what was queued) to end and then reports
// HANDLE_CLOSING, the handle's last notification.
#pragma once

#include "posix/handles/Handle.h"

#include <functional>
#include <optional>

namespace Corvane::Backend::Async {

/// What a completion reports: dwResult and dwError.
struct Result {
    Result(DWORD_PTR result = 0, DWORD code = ERROR_SUCCESS, bool close = false)
        : value(result), error(code), closeTarget(close) {}
    DWORD_PTR value = 0;
    DWORD error = ERROR_SUCCESS;
    /// The handle the completion goes to, when not the one the operation was
    /// started on (an FTP file opened: the new file handle).
    HandleRef target;
    /// Close the operation's handle once its completion was reported (a
    /// connection that could not be made).
    bool closeTarget = false;
};

/// Whether `handle` belongs to a session opened with INTERNET_FLAG_ASYNC.
bool IsAsync(const Handle& handle);

/// Starts `work` on a worker thread for `target`, or queues it behind the
/// handle's pending operations. Returns ERROR_IO_PENDING, or
/// ERROR_INTERNET_ASYNC_THREAD_FAILED when no worker could be started.
/// `work` runs behind the exception barrier and must own (or be allowed to
/// use, as the caller's buffers are) what it touches. A handle closed
/// before its turn comes has its work skipped.
DWORD Begin(const HandleRef& target, std::function<Result()> work);

/// How an operation whose work waits for an event with no thread held (see
/// BeginEvented) goes on: `resume(rest)` prepares the rest (it may throw,
/// for want of memory) and returns the call to make, exactly once, when the
/// operation can go on; that call cannot fail: it has a worker thread run
/// `rest`, then report the completion and start the handle's next
/// operation.
using Resume = std::function<std::function<void()>(std::function<Result()> rest)>;

/// As Begin, for work that can wait on the network without holding a worker:
/// `start` runs (on this thread when no operation of the handle is running
/// or queued, else on a worker in its turn) and either returns the result
/// (the operation ended there; its completion is still reported from a
/// worker) or returns nothing after handing the call `resume` prepared to
/// whatever makes it when the operation can go on. Until then the operation
/// counts as running: its handle's next operations wait behind it and a
/// close of the handle waits for it (so the call must also be made when the
/// handle closes).
DWORD BeginEvented(const HandleRef& target, std::function<std::optional<Result>(Resume resume)> start);

/// For calls that may answer at once: when no operation of `target` is
/// running or queued and `ready()`
/// holds, runs `now` on this thread and returns its error; otherwise starts
/// `later` as Begin does.
DWORD NowOrLater(const HandleRef& target, const std::function<bool()>& ready,
                 const std::function<DWORD()>& now, std::function<Result()> later);

/// The completion of a call whose body sets the last error when it fails:
/// its result and, when it failed, the thread's last error.
template <typename R>
Result Completed(R result, R failure) {
    return {(DWORD_PTR)result, result == failure ? ::GetLastError() : static_cast<DWORD>(ERROR_SUCCESS)};
}

}  // namespace Corvane::Backend::Async
