// The handle table: registration, lookup and closing of Internet handles.
#include "posix/handles/Handle.h"

#include "posix/errors/FaultInjection.h"

#include <mutex>
#include <unordered_map>

namespace Corvane::Backend {

namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, HandleRef> open;
    // Values start well above small integers and grow by 4, like handle
    // values elsewhere; a 64-bit counter does not wrap in practice, so a
    // value is never given out twice.
    std::uintptr_t next = 0x1000;
};

Table& TheTable() {
    static Table* table = new Table;  // never destroyed: handles may outlive static destruction
    return *table;
}

std::uintptr_t Key(HINTERNET value) {
    return reinterpret_cast<std::uintptr_t>(value);
}

}  // namespace

namespace {
// The handle whose asynchronous work this thread is doing, if any.
thread_local const Handle* tActivity = nullptr;
}  // namespace

Handle::Handle(const HandleOps& ops, HandleRef parent, DWORD_PTR context)
    : FOps(ops), FParent(std::move(parent)), FContext(context) {}

Handle::~Handle() = default;

// As on the platform, a handle whose context value is 0 makes no status
// callbacks: the application did not ask to hear about it.
void Handle::Notify(DWORD status, LPVOID information, DWORD length) const {
    if (Context() == 0 || FClosingReported.load(std::memory_order_acquire)) return;
    if (INTERNET_STATUS_CALLBACK callback = StatusCallback()) {
        // The callback is the application's code, not the backend's.
        const FaultInjection::OutsideScope outside;
        callback(Value(), Context(), status, information, length);
    }
}

void Handle::WaitForActivities() {
    std::unique_lock<std::mutex> lock(FWork.mutex);
    const int own = IsCurrentActivity() ? 1 : 0;
    FWork.changed.wait(lock, [&] { return FWork.activities <= own; });
}

bool Handle::IsCurrentActivity() const {
    return tActivity == this;
}

Handle::ActivityScope::ActivityScope(const Handle& handle) : FPrevious(tActivity) {
    tActivity = &handle;
}

Handle::ActivityScope::~ActivityScope() {
    tActivity = FPrevious;
}

HINTERNET HandleTable::Register(const HandleRef& handle, DWORD* error) {
    Table& table = TheTable();
    HINTERNET value;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        if (const HandleRef& parent = handle->FParent) {
            if (parent->IsClosed()) {
                *error = ERROR_INVALID_HANDLE;
                return nullptr;
            }
            parent->FChildren.push_back(handle);
            handle->FCallback.store(parent->StatusCallback(), std::memory_order_release);
        }
        value = reinterpret_cast<HINTERNET>(table.next);
        table.next += 4;
        handle->FValue.store(value, std::memory_order_release);
        table.open.emplace(Key(value), handle);
    }
    if (handle->StatusCallback() && handle->Context() != 0) {
        INTERNET_ASYNC_RESULT result{reinterpret_cast<DWORD_PTR>(value), ERROR_SUCCESS};
        handle->Notify(INTERNET_STATUS_HANDLE_CREATED, &result, sizeof(result));
    }
    return value;
}

HandleRef HandleTable::Find(HINTERNET value, DWORD* error) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.open.find(Key(value));
    if (it == table.open.end()) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return it->second;
}

// Takes the whole subtree out of the table under the lock (so no new child
// can be registered beneath it and every later lookup fails), then, with the
// lock released, lets each handle, deepest first, release its resources and
// report that it is closing.
DWORD HandleTable::Close(HINTERNET value) {
    Table& table = TheTable();
    // The handles to close, deepest first, linked through FNextClosing:
    // closing allocates nothing, so it cannot fail half-way for want of
    // memory (a caller that forgets its handle once closed would otherwise
    // leave it open for good).
    HandleRef first;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        const auto it = table.open.find(Key(value));
        if (it == table.open.end()) return ERROR_INVALID_HANDLE;
        const HandleRef root = it->second;
        // Marks a handle and everything open beneath it closed, takes them
        // out of the table and appends them, children before their parent,
        // to the list. (A generic lambda calling itself: std::function
        // would allocate.)
        Handle* last = nullptr;
        const auto collect = [&](const auto& self, const HandleRef& handle) -> void {
            handle->FClosed.store(true, std::memory_order_release);
            for (const std::weak_ptr<Handle>& weak : handle->FChildren)
                if (HandleRef child = weak.lock(); child && !child->IsClosed()) self(self, child);
            handle->FChildren.clear();
            table.open.erase(Key(handle->Value()));
            if (last)
                last->FNextClosing = handle;
            else
                first = handle;
            last = handle.get();
        };
        collect(collect, root);

        if (const HandleRef& parent = root->FParent) {
            auto& siblings = parent->FChildren;
            std::erase_if(siblings, [&](const std::weak_ptr<Handle>& weak) {
                const HandleRef sibling = weak.lock();
                return !sibling || sibling == root;
            });
        }
    }
    while (first) {
        const HandleRef handle = std::move(first);
        first = std::move(handle->FNextClosing);
        // A kind's close that fails (memory, in practice) still leaves the
        // handle closed; the others close all the same.
        try {
            if (handle->FOps.close) handle->FOps.close(*handle);
        } catch (...) {}
        // An operation a worker thread runs for the handle was cancelled by
        // the close; it ends before the handle's last notification.
        handle->WaitForActivities();
        HINTERNET closed = handle->Value();
        handle->Notify(INTERNET_STATUS_HANDLE_CLOSING, &closed, sizeof(closed));
        handle->FClosingReported.store(true, std::memory_order_release);
    }
    return ERROR_SUCCESS;
}

std::size_t HandleTable::OpenCount() {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.open.size();
}

}  // namespace Corvane::Backend
