#include "posix/async/Async.h"

#include "posix/async/Workers.h"
#include "posix/errors/Barrier.h"
#include "posix/session/Session.h"

#include <new>

namespace Corvane::Backend::Async {

bool IsAsync(const Handle& handle) {
    const Handle* root = &handle;
    while (root->Parent()) root = root->Parent().get();
    return &root->Ops() == &Session::Ops &&
           (static_cast<const Session*>(root)->Flags() & INTERNET_FLAG_ASYNC);
}

DWORD Begin(const HandleRef& target, std::function<Result()> work) {
    if (!target->BeginOperation()) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    target->AddActivity();
    bool posted = false;
    try {
        posted = Workers::Post([target, work = std::move(work)]() noexcept {
            const Handle::ActivityScope scope(*target);
            Result result{0, ERROR_INTERNET_INTERNAL_ERROR};
            try {
                const FaultInjection::EntryScope entry;
                result = work();
            } catch (const std::bad_alloc&) {
                result = {0, ERROR_NOT_ENOUGH_MEMORY};
            } catch (...) {}
            // The callback may start the next operation on the handle.
            target->EndOperation();
            if (!target->IsClosed()) {
                INTERNET_ASYNC_RESULT completion{result.value, result.error};
                ::SetLastError(result.error);
                target->Notify(INTERNET_STATUS_REQUEST_COMPLETE, &completion, sizeof(completion));
            }
            if (result.closeTarget) HandleTable::Close(target->Value());
            target->EndActivity();
        });
    } catch (const std::bad_alloc&) {
        target->EndOperation();
        target->EndActivity();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (posted) return ERROR_IO_PENDING;
    target->EndOperation();
    target->EndActivity();
    return ERROR_INTERNET_ASYNC_THREAD_FAILED;
}

}  // namespace Corvane::Backend::Async
