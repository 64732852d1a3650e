// Internet handles of the portable backend: typed, reference-counted objects
// kept in one process-wide table.
//
// Every HINTERNET the backend gives out names a Handle. The value is opaque:
// an ever-increasing number, never reused, never null. The table holds one
// reference to each open handle; every call that works on a handle takes a
// reference of its own (HandleTable::Find), so the object stays alive while
// the call uses it even if another thread closes the handle meanwhile.
//
// Kinds. A handle's kind is the constant HandleOps table it was created
// with; the backend never switches on a type. To add a kind (the connection,
// request, FTP file, find and command handles to come):
//   1. derive a class from Handle that holds the kind's state, guarding
//      whatever can change after creation with a mutex of its own;
//   2. define one `const HandleOps` for it with designated initialisers:
//      its INTERNET_HANDLE_TYPE_ value and the operations it supports (left
//      out, that is null, for the ones it does not:
//      read, write and find-next then fail with
//      ERROR_INTERNET_INCORRECT_HANDLE_TYPE, and an option the kind does not
//      answer falls through to the common ones); inside an operation,
//      static_cast the Handle& to the derived class, which the table
//      guarantees;
//   3. create it with std::make_shared, giving the parent handle and the
//      caller's context value, and hand it to HandleTable::Register, which
//      gives it its value, links it under its parent, lets it inherit the
//      parent's status callback and reports INTERNET_STATUS_HANDLE_CREATED;
//   4. look handles up with HandleTable::FindAs<Derived>(value, ops, error),
//      which answers ERROR_INVALID_HANDLE for a closed or unknown value and
//      ERROR_INTERNET_INCORRECT_HANDLE_TYPE for another kind.
// Closing a handle closes its children first, deepest first; each kind's
// `close` runs once, on the closing thread, possibly while another thread is
// still inside an operation on it (that operation sees IsClosed()).
#pragma once

#include <Platform/WinInet.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Corvane::Backend {

class Handle;
using HandleRef = std::shared_ptr<Handle>;

/// What an option operation returns for an option its kind does not answer.
inline constexpr DWORD kOptionNotHandled = 0xFFFFFFFFu;

/// The operations of one kind of handle. Each returns ERROR_SUCCESS or the
/// error code the C entry point reports; option operations may return
/// kOptionNotHandled.
struct HandleOps {
    /// The INTERNET_HANDLE_TYPE_ value of INTERNET_OPTION_HANDLE_TYPE.
    DWORD handleType = 0;
    /// A short name for diagnostics ("session", "request", ...).
    const char* name = "";
    /// InternetQueryOptionW: `buffer` may be null, `size` is never null.
    DWORD (*queryOption)(Handle& handle, DWORD option, void* buffer, DWORD* size) = nullptr;
    /// InternetSetOptionW.
    DWORD (*setOption)(Handle& handle, DWORD option, const void* buffer, DWORD size) = nullptr;
    /// InternetReadFile.
    DWORD (*read)(Handle& handle, void* buffer, DWORD toRead, DWORD* read) = nullptr;
    /// InternetWriteFile.
    DWORD (*write)(Handle& handle, const void* buffer, DWORD toWrite, DWORD* written) = nullptr;
    /// InternetFindNextFileW.
    DWORD (*findNext)(Handle& handle, void* findData) = nullptr;
    /// Releases what the kind holds (connections, transfers); called once when
    /// the handle closes, after its children closed and before
    /// INTERNET_STATUS_HANDLE_CLOSING is reported.
    void (*close)(Handle& handle) = nullptr;
    /// InternetQueryDataAvailable: the bytes that can be read at once,
    /// waiting for at least one unless the data has ended (0).
    DWORD (*queryDataAvailable)(Handle& handle, DWORD* available) = nullptr;
    /// Whether a read of `wanted` bytes would answer now, without waiting on
    /// the network (that much is buffered, the data ends within it, or the
    /// call would fail at once). Beneath an asynchronous session a read that
    /// would wait goes to a worker thread; null: every read may wait.
    bool (*ready)(Handle& handle, DWORD wanted) = nullptr;
    /// Completes what the handle still owes before InternetCloseHandle closes
    /// it (an upload's final reply); its error is InternetCloseHandle's
    /// result, and the handle closes all the same. Only for the handle the
    /// caller closes, not for those closed beneath it.
    DWORD (*complete)(Handle& handle) = nullptr;
};

/// The part every handle has: its kind, value, parent, context value and
/// status callback.
class Handle : public std::enable_shared_from_this<Handle> {
public:
    Handle(const HandleOps& ops, HandleRef parent, DWORD_PTR context);
    virtual ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    const HandleOps& Ops() const { return FOps; }
    /// The handle's value; null until HandleTable::Register.
    HINTERNET Value() const { return FValue.load(std::memory_order_acquire); }
    /// The handle this one was created beneath (null for a session).
    const HandleRef& Parent() const { return FParent; }

    DWORD_PTR Context() const { return FContext.load(std::memory_order_acquire); }
    void SetContext(DWORD_PTR context) { FContext.store(context, std::memory_order_release); }

    INTERNET_STATUS_CALLBACK StatusCallback() const { return FCallback.load(std::memory_order_acquire); }
    /// Installs a callback (null removes it) and returns the previous one.
    INTERNET_STATUS_CALLBACK ExchangeStatusCallback(INTERNET_STATUS_CALLBACK callback) {
        return FCallback.exchange(callback, std::memory_order_acq_rel);
    }

    /// True once InternetCloseHandle (on it or an ancestor) has begun.
    bool IsClosed() const { return FClosed.load(std::memory_order_acquire); }

    /// Reports a status to the handle's callback, if it has one, with the
    /// handle's value and context value. Call it with no lock held: the
    /// callback may call back into the API. Nothing is reported once the
    /// handle's INTERNET_STATUS_HANDLE_CLOSING was.
    void Notify(DWORD status, LPVOID information, DWORD length) const;

    /// The asynchronous work for the handle (posix/async/Async.h, which
    /// alone changes it): operations run one at a time per handle, in the
    /// order they were started. HandleTable::Close waits for the work queued
    /// or running for a handle before it reports HANDLE_CLOSING: from then on
    /// no callback runs for the handle and the caller's buffers are no
    /// longer touched.
    struct WorkState {
        std::mutex mutex;
        std::condition_variable changed;
        /// An operation runs, or its completion is being delivered.
        bool busy = false;
        /// Operations started meanwhile, in call order.
        std::deque<std::function<void()>> queued;
        /// Operations queued or running.
        int activities = 0;
    };
    WorkState& Work() { return FWork; }

    /// Set on a worker thread while it runs the handle's work: a close from
    /// within it (a callback closing its own handle) does not wait for
    /// itself.
    class ActivityScope {
    public:
        explicit ActivityScope(const Handle& handle);
        ~ActivityScope();
        ActivityScope(const ActivityScope&) = delete;
        ActivityScope& operator=(const ActivityScope&) = delete;

    private:
        const Handle* FPrevious;
    };
    /// Whether this thread runs the handle's work.
    bool IsCurrentActivity() const;

private:
    friend class HandleTable;
    // Waits until no library thread but this one works for the handle.
    void WaitForActivities();

    const HandleOps& FOps;
    const HandleRef FParent;
    std::atomic<HINTERNET> FValue{nullptr};
    std::atomic<DWORD_PTR> FContext;
    std::atomic<INTERNET_STATUS_CALLBACK> FCallback{nullptr};
    std::atomic<bool> FClosed{false};
    std::atomic<bool> FClosingReported{false};
    WorkState FWork;
    // Guarded by the table's mutex.
    std::vector<std::weak_ptr<Handle>> FChildren;
    // The next handle to close, while HandleTable::Close runs.
    HandleRef FNextClosing;
};

/// The process-wide table of open handles.
class HandleTable {
public:
    /// Enters a new handle: gives it a fresh value, links it beneath its
    /// parent and copies the parent's status callback. Then, outside the
    /// table's lock, reports INTERNET_STATUS_HANDLE_CREATED (data: an
    /// INTERNET_ASYNC_RESULT whose dwResult is the new handle) when the
    /// handle has a callback. Fails with ERROR_INVALID_HANDLE (returning null)
    /// when the parent was closed meanwhile.
    static HINTERNET Register(const HandleRef& handle, DWORD* error);

    /// The open handle of that value, or null with ERROR_INVALID_HANDLE.
    static HandleRef Find(HINTERNET value, DWORD* error);

    /// The open handle of that value if it is of the kind `ops`; null with
    /// ERROR_INVALID_HANDLE or ERROR_INTERNET_INCORRECT_HANDLE_TYPE.
    template <typename T>
    static std::shared_ptr<T> FindAs(HINTERNET value, const HandleOps& ops, DWORD* error) {
        HandleRef handle = Find(value, error);
        if (!handle) return nullptr;
        if (&handle->Ops() != &ops) {
            *error = ERROR_INTERNET_INCORRECT_HANDLE_TYPE;
            return nullptr;
        }
        return std::static_pointer_cast<T>(handle);
    }

    /// Closes a handle and everything beneath it, deepest first: each leaves
    /// the table, runs its kind's close and reports
    /// INTERNET_STATUS_HANDLE_CLOSING (data: the HINTERNET value) when it has
    /// a callback. Returns ERROR_SUCCESS or ERROR_INVALID_HANDLE.
    static DWORD Close(HINTERNET value);

    /// How many handles are open (for leak checks in tests).
    static std::size_t OpenCount();
};

}  // namespace Corvane::Backend
