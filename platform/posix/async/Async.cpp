#include "posix/async/Async.h"

#include "posix/async/Workers.h"
#include "posix/errors/FaultInjection.h"
#include "posix/session/Session.h"

#include <new>

namespace Corvane::Backend::Async {

namespace {

void Launch(std::function<void()> task);

// After an operation and its completion: the handle's next queued operation
// starts, or the handle is free.
void Next(const HandleRef& target) {
    Handle::WorkState& work = target->Work();
    std::function<void()> next;
    {
        std::lock_guard<std::mutex> lock(work.mutex);
        if (work.queued.empty()) {
            work.busy = false;
            return;
        }
        next = std::move(work.queued.front());
        work.queued.pop_front();
    }
    Launch(std::move(next));
}

void EndActivity(Handle& target) {
    Handle::WorkState& work = target.Work();
    std::lock_guard<std::mutex> lock(work.mutex);
    --work.activities;
    work.changed.notify_all();
}

// Counts a completion reported to a handle the operation was not started on
// (an opened FTP file), so that its close waits for it; false when that
// handle is closing already.
bool AddActivityIfOpen(Handle& handle) {
    Handle::WorkState& work = handle.Work();
    std::lock_guard<std::mutex> lock(work.mutex);
    if (handle.IsClosed()) return false;
    ++work.activities;
    return true;
}

Result Run(const std::function<Result()>& work) {
    try {
        const FaultInjection::EntryScope entry;
        return work();
    } catch (const std::bad_alloc&) {
        return {0, ERROR_NOT_ENOUGH_MEMORY};
    } catch (...) {
        return {0, ERROR_INTERNET_INTERNAL_ERROR};
    }
}

// Reports an operation's completion (an INTERNET_ASYNC_RESULT) and starts
// the handle's next operation; ends the activity the operation counted. The
// completion is reported before the next operation starts, so completions
// keep their order; an operation the completion's callback starts takes the
// turn at once (Begin), so the callback may wait for it.
void Complete(const HandleRef& target, Result result) noexcept {
    HandleRef to = result.target ? std::move(result.target) : target;
    const bool elsewhere = to != target;
    Handle::WorkState& state = target->Work();
    std::uint64_t ticket;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        ticket = ++state.issued;
        state.completing = std::this_thread::get_id();
        state.completion = ticket;
    }
    if (!elsewhere || AddActivityIfOpen(*to)) {
        INTERNET_ASYNC_RESULT completion{result.value, result.error};
        if (result.value == 0) ::SetLastError(result.error);
        {
            const Workers::InCallback callback;
            to->Notify(INTERNET_STATUS_REQUEST_COMPLETE, &completion, sizeof(completion));
        }
        if (elsewhere) EndActivity(*to);
    }
    bool handed;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        handed = state.handed == ticket;
        if (state.completion == ticket) state.completing = std::thread::id();
    }
    if (!handed) Next(target);
    if (result.closeTarget) HandleTable::Close(target->Value());
    to.reset();
    EndActivity(*target);
}

// The task a worker runs for one operation: the work (skipped when the
// handle closed before its turn: ERROR_INTERNET_OPERATION_CANCELLED), then
// its completion and the next operation.
std::function<void()> Task(const HandleRef& target, std::function<Result()> work) {
    return [target, work = std::move(work)]() mutable noexcept {
        const Handle::ActivityScope scope(*target);
        Result result = target->IsClosed() ? Result{0, ERROR_INTERNET_OPERATION_CANCELLED} : Run(work);
        work = nullptr;
        Complete(target, std::move(result));
    };
}

// The task for an operation that may wait with no thread held: `start`, and
// when it returns no result, nothing more until its Resume is called. Run on
// the caller's thread (`onCaller`), a result it returns at once is reported
// from a worker, as every completion is.
std::function<void()> EventedTask(const HandleRef& target, std::function<std::optional<Result>(Resume)> start,
                                  bool onCaller) {
    return [target, start = std::move(start), onCaller]() mutable noexcept {
        // The scope covers the completion too: a callback that closes the
        // handle then does not wait for the operation reporting to it.
        const Handle::ActivityScope scope(*target);
        std::optional<Result> result;
        if (target->IsClosed()) {
            result = Result{0, ERROR_INTERNET_OPERATION_CANCELLED};
        } else {
            Resume resume = [target](std::function<Result()> rest) -> std::function<void()> {
                std::function<void()> task = [target, rest = std::move(rest)]() mutable noexcept {
                    const Handle::ActivityScope scope(*target);
                    Result result = Run(rest);
                    rest = nullptr;
                    Complete(target, std::move(result));
                };
                return [task = std::move(task)]() mutable noexcept { Launch(std::move(task)); };
            };
            try {
                const FaultInjection::EntryScope entry;
                result = start(std::move(resume));
            } catch (const std::bad_alloc&) {
                result = Result{0, ERROR_NOT_ENOUGH_MEMORY};
            } catch (...) {
                result = Result{0, ERROR_INTERNET_INTERNAL_ERROR};
            }
        }
        start = nullptr;
        if (!result) return;
        if (!onCaller) return Complete(target, std::move(*result));
        Launch([target, result = std::move(*result)]() mutable noexcept {
            const Handle::ActivityScope scope(*target);
            Complete(target, std::move(result));
        });
    };
}

// Hands a task whose turn it is to the pool. On a worker thread posting
// cannot fail for want of threads (this one takes it next); should it fail
// for want of memory, this thread runs it.
void Launch(std::function<void()> task) {
    bool posted = false;
    try {
        posted = Workers::Post(task);
    } catch (...) {}
    if (!posted) task();
}

// Posts a task that has the handle's turn (handed over by the completion
// being reported on this thread, when `handOver`); when it cannot be
// started the turn goes back and nothing of it runs.
DWORD PostWithTurn(const HandleRef& target, std::function<void()> task, bool handOver) {
    bool posted = false;
    try {
        posted = Workers::Post(std::move(task));
    } catch (...) {}
    if (posted) return ERROR_IO_PENDING;
    if (handOver) {
        std::lock_guard<std::mutex> lock(target->Work().mutex);
        target->Work().handed = 0;
    } else {
        Next(target);
    }
    EndActivity(*target);
    return ERROR_INTERNET_ASYNC_THREAD_FAILED;
}

// Takes the handle's turn: free (`fresh`), or handed over by the completion
// this thread is reporting. False when another operation has it.
bool TakeTurn(Handle::WorkState& state, bool* fresh) {
    if (!state.busy) {
        state.busy = true;
        *fresh = true;
        return true;
    }
    *fresh = false;
    if (state.completing == std::this_thread::get_id() && state.handed != state.completion &&
        state.queued.empty()) {
        state.handed = state.completion;
        return true;
    }
    return false;
}

// Starts a task for `target` or queues it behind the handle's pending
// operations.
DWORD BeginTask(const HandleRef& target, std::function<void()> task) {
    Handle::WorkState& state = target->Work();
    bool fresh = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!TakeTurn(state, &fresh)) {
            state.queued.push_back(std::move(task));
            ++state.activities;
            return ERROR_IO_PENDING;
        }
        ++state.activities;
    }
    return PostWithTurn(target, std::move(task), !fresh);
}

}  // namespace

bool IsAsync(const Handle& handle) {
    const Handle* root = &handle;
    while (root->Parent()) root = root->Parent().get();
    return &root->Ops() == &Session::Ops && static_cast<const Session*>(root)->IsAsync();
}

DWORD Begin(const HandleRef& target, std::function<Result()> work) {
    return BeginTask(target, Task(target, std::move(work)));
}

// The start runs on the caller's thread when the handle is free: handing a
// hop to libcurl does not wait on the network, and a worker's wake-up is
// spared.
DWORD BeginEvented(const HandleRef& target, std::function<std::optional<Result>(Resume resume)> start) {
    Handle::WorkState& state = target->Work();
    bool free;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        free = !state.busy;
    }
    if (!free) return BeginTask(target, EventedTask(target, std::move(start), false));
    std::function<void()> task = EventedTask(target, std::move(start), true);
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.busy) return BeginTask(target, std::move(task));
        state.busy = true;
        ++state.activities;
    }
    task();
    return ERROR_IO_PENDING;
}

DWORD NowOrLater(const HandleRef& target, const std::function<bool()>& ready,
                 const std::function<DWORD()>& now, std::function<Result()> later) {
    Handle::WorkState& state = target->Work();
    bool fresh = false;
    bool mine;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        mine = TakeTurn(state, &fresh);
    }
    if (!mine) return Begin(target, std::move(later));
    // This thread has the handle's turn until the call answers or its work
    // is posted.
    struct Turn {
        const HandleRef& target;
        bool fresh;
        bool kept = false;
        ~Turn() {
            if (kept) return;
            if (fresh) {
                Next(target);
            } else {
                std::lock_guard<std::mutex> lock(target->Work().mutex);
                target->Work().handed = 0;
            }
        }
    } turn{target, fresh};
    if (ready()) return now();
    std::function<void()> task = Task(target, std::move(later));
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        ++state.activities;
    }
    turn.kept = true;
    return PostWithTurn(target, std::move(task), !fresh);
}

}  // namespace Corvane::Backend::Async
