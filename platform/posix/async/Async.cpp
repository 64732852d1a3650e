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

// The task a worker runs for one operation: the work (skipped when the
// handle closed before its turn), its completion, then the next operation.
std::function<void()> Task(const HandleRef& target, std::function<Result()> work) {
    return [target, work = std::move(work)]() noexcept {
        const Handle::ActivityScope scope(*target);
        Result result = target->IsClosed() ? Result{0, ERROR_INTERNET_OPERATION_CANCELLED} : Run(work);
        // The handle's next operation starts before this one's completion is
        // reported, so that a callback may start another and wait for it.
        Next(target);
        const HandleRef& to = result.target ? result.target : target;
        if (!target->IsClosed() && !to->IsClosed()) {
            INTERNET_ASYNC_RESULT completion{result.value, result.error};
            if (result.value == 0) ::SetLastError(result.error);
            to->Notify(INTERNET_STATUS_REQUEST_COMPLETE, &completion, sizeof(completion));
        }
        if (result.closeTarget) HandleTable::Close(target->Value());
        result.target.reset();
        EndActivity(*target);
    };
}

// Hands a task whose turn it is to the pool. On a worker thread posting
// cannot fail for want of threads (this one takes it next); should it fail
// for want of memory, this thread runs it.
void Launch(std::function<void()> task) {
    bool posted = false;
    try {
        posted = Workers::Post(task);
    } catch (const std::bad_alloc&) {}
    if (!posted) task();
}

}  // namespace

bool IsAsync(const Handle& handle) {
    const Handle* root = &handle;
    while (root->Parent()) root = root->Parent().get();
    return &root->Ops() == &Session::Ops && static_cast<const Session*>(root)->IsAsync();
}

DWORD Begin(const HandleRef& target, std::function<Result()> work) {
    std::function<void()> task = Task(target, std::move(work));
    Handle::WorkState& state = target->Work();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.busy) {
            state.queued.push_back(std::move(task));
            ++state.activities;
            return ERROR_IO_PENDING;
        }
        state.busy = true;
        ++state.activities;
    }
    bool posted = false;
    try {
        posted = Workers::Post(std::move(task));
    } catch (const std::bad_alloc&) {}
    if (posted) return ERROR_IO_PENDING;
    // Nothing was started: the handle is free again (or its next queued
    // operation, queued meanwhile, gets the turn).
    Next(target);
    EndActivity(*target);
    return ERROR_INTERNET_ASYNC_THREAD_FAILED;
}

DWORD NowOrLater(const HandleRef& target, const std::function<bool()>& ready,
                 const std::function<DWORD()>& now, std::function<Result()> later) {
    Handle::WorkState& state = target->Work();
    bool busy = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        busy = state.busy;
        state.busy = true;
    }
    if (busy) return Begin(target, std::move(later));
    // This thread has the handle's turn.
    struct Turn {
        const HandleRef& target;
        bool kept = false;
        ~Turn() {
            if (!kept) Next(target);
        }
    } turn{target};
    if (ready()) return now();
    std::function<void()> task = Task(target, std::move(later));
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        ++state.activities;
    }
    turn.kept = true;
    bool posted = false;
    try {
        posted = Workers::Post(std::move(task));
    } catch (const std::bad_alloc&) {}
    if (posted) return ERROR_IO_PENDING;
    Next(target);
    EndActivity(*target);
    return ERROR_INTERNET_ASYNC_THREAD_FAILED;
}

}  // namespace Corvane::Backend::Async
