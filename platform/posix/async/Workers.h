// The worker threads of the asynchronous mode: a small pool, started on
// first need and stopped when the last asynchronous session closes.
//
// An operation started beneath a session opened with INTERNET_FLAG_ASYNC
// runs on one of these threads: the same steps as a synchronous call, which
// wait in the network layer's one wait (or libcurl's poll) with the
// handle's cancel token, so a close ends them at once. The pool grows by one
// thread when work is queued and no thread is idle (or, having just run out
// of work, about to take it), up to kMaxThreads; work beyond that waits its
// turn, so no thread is made per request.
#pragma once

#include <cstddef>
#include <functional>

namespace Corvane::Backend::Workers {

/// The most threads the pool runs at once.
inline constexpr int kMaxThreads = 16;

/// An asynchronous session opened: the pool may be used.
void Retain();

/// An asynchronous session closed. When it was the last, the pool's
/// threads finish the work queued and end, and this joins them (a worker
/// thread that closes the last session ends after its current work).
void Release();

/// Queues `work` for a worker thread; false (or an exception) when no thread
/// could take it, and then nothing of it runs.
bool Post(std::function<void()> work);

/// Marks the calling worker as running an application's callback: such a
/// thread may wait for other work (a component waits for the read it
/// started), so it does not count against kMaxThreads meanwhile and the
/// work it waits for always finds a thread.
class InCallback {
public:
    InCallback();
    ~InCallback();
    InCallback(const InCallback&) = delete;
    InCallback& operator=(const InCallback&) = delete;
};

/// How many worker threads the pool has (for tests).
std::size_t ThreadCount();

}  // namespace Corvane::Backend::Workers
