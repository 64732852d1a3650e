// The C entry points common to every kind of handle: closing, the status
// callback, option access with the options every handle answers, and the
// data operations each kind answers through its operations table.
#include "posix/async/Async.h"
#include "posix/connection/OfflineMode.h"
#include "posix/errors/LastError.h"
#include "posix/errors/Barrier.h"
#include "posix/handles/Handle.h"
#include "posix/handles/Options.h"

#include <memory>
#include <new>

using namespace Corvane::Backend;

namespace {

// The version the backend reports for INTERNET_OPTION_VERSION.
constexpr INTERNET_VERSION_INFO kVersion{1, 2};

// Whether `handle`'s reads could answer `wanted` bytes at once.
bool Ready(Handle& handle, DWORD wanted) {
    return handle.Ops().ready && handle.Ops().ready(handle, wanted);
}

// Options that need no handle (InternetQueryOptionW with a null handle).
DWORD QueryGlobalOption(DWORD option, void* buffer, DWORD* size) {
    if (option == INTERNET_OPTION_VERSION) return QueryValue(buffer, size, kVersion);
    if (option == INTERNET_OPTION_MAX_CONNS_PER_SERVER)
        return QueryValue(buffer, size, MaxConnectionsPerServer());
    if (option == INTERNET_OPTION_CONNECTED_STATE) return OfflineMode::QueryOption(buffer, size);
    return kOptionNotHandled;
}

// Options set for the whole process (InternetSetOptionW with a null handle).
DWORD SetGlobalOption(DWORD option, const void* buffer, DWORD size) {
    if (option == INTERNET_OPTION_VERSION) return ERROR_INTERNET_OPTION_NOT_SETTABLE;
    if (option == INTERNET_OPTION_MAX_CONNS_PER_SERVER) {
        DWORD count = 0;
        const DWORD error = SetValue(buffer, size, count);
        return error == ERROR_SUCCESS ? SetMaxConnectionsPerServer(count) : error;
    }
    if (option == INTERNET_OPTION_CONNECTED_STATE) return OfflineMode::SetOption(buffer, size);
    return kOptionNotHandled;
}

// Options every handle answers, whatever its kind.
DWORD QueryCommonOption(const Handle& handle, DWORD option, void* buffer, DWORD* size) {
    switch (option) {
    case INTERNET_OPTION_HANDLE_TYPE:
        return QueryValue(buffer, size, handle.Ops().handleType);
    case INTERNET_OPTION_CONTEXT_VALUE:
        return QueryValue(buffer, size, handle.Context());
    case INTERNET_OPTION_PARENT_HANDLE: {
        const HINTERNET parent = handle.Parent() ? handle.Parent()->Value() : nullptr;
        return QueryValue(buffer, size, parent);
    }
    case INTERNET_OPTION_CALLBACK:
        return QueryValue(buffer, size, handle.StatusCallback());
    default:
        return QueryGlobalOption(option, buffer, size);
    }
}

DWORD SetCommonOption(Handle& handle, DWORD option, const void* buffer, DWORD size) {
    switch (option) {
    case INTERNET_OPTION_CONTEXT_VALUE: {
        DWORD_PTR context = 0;
        const DWORD error = SetValue(buffer, size, context);
        if (error == ERROR_SUCCESS) handle.SetContext(context);
        return error;
    }
    case INTERNET_OPTION_HANDLE_TYPE:
    case INTERNET_OPTION_PARENT_HANDLE:
    case INTERNET_OPTION_CALLBACK:
    case INTERNET_OPTION_VERSION:
        return ERROR_INTERNET_OPTION_NOT_SETTABLE;
    default:
        return kOptionNotHandled;
    }
}

// The error for an option nobody answered: a real option that does not apply
// to this handle, or an option that does not exist.
DWORD Unanswered(DWORD option) {
    return IsKnownOption(option) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INTERNET_INVALID_OPTION;
}

}  // namespace

BOOL WINAPI InternetCloseHandle(HINTERNET hInternet) {
    return Corvane::Backend::Guarded<BOOL>(
        FALSE,
        [&]() -> BOOL {
            if (!hInternet) return Fail(ERROR_INVALID_HANDLE);
            DWORD error = ERROR_INVALID_HANDLE;
            DWORD completed = ERROR_SUCCESS;
            // The handle closes whatever completing it meets, memory running out included.
            try {
                if (const HandleRef handle = HandleTable::Find(hInternet, &error);
                    handle && handle->Ops().complete)
                    completed = handle->Ops().complete(*handle);
            } catch (const std::bad_alloc&) {
                completed = ERROR_NOT_ENOUGH_MEMORY;
            } catch (...) {
                completed = ERROR_INTERNET_INTERNAL_ERROR;
            }
            const DWORD closed = HandleTable::Close(hInternet);
            return Outcome(closed != ERROR_SUCCESS ? closed : completed);
        },
        Corvane::Backend::Entry::NeverFails);
}

// Replaces the handle's callback and returns the previous one (null if it
// had none); INTERNET_INVALID_STATUS_CALLBACK with ERROR_INVALID_HANDLE for a
// null, closed or unknown handle. Handles created later beneath this one
// start with the callback it has then.
INTERNET_STATUS_CALLBACK WINAPI InternetSetStatusCallbackW(HINTERNET hInternet,
                                                           INTERNET_STATUS_CALLBACK lpfnInternetCallback) {
    return Corvane::Backend::Guarded<INTERNET_STATUS_CALLBACK>(
        INTERNET_INVALID_STATUS_CALLBACK,
        [&]() -> INTERNET_STATUS_CALLBACK {
            DWORD error = ERROR_INVALID_HANDLE;
            const HandleRef handle = hInternet ? HandleTable::Find(hInternet, &error) : nullptr;
            if (!handle) return FailWith(error, INTERNET_INVALID_STATUS_CALLBACK);
            return handle->ExchangeStatusCallback(lpfnInternetCallback);
        },
        // Fails only for a handle that is not there: the components take a
        // callback away before closing and rely on that as on the close.
        Corvane::Backend::Entry::NeverFails);
}

INTERNET_STATUS_CALLBACK WINAPI InternetSetStatusCallback(HINTERNET hInternet,
                                                          INTERNET_STATUS_CALLBACK lpfnInternetCallback) {
    // The wide entry point has the exception barrier.
    return InternetSetStatusCallbackW(hInternet, lpfnInternetCallback);
}

// The common options first, then the handle's kind; an option neither
// answers fails with ERROR_INTERNET_INCORRECT_HANDLE_TYPE or
// ERROR_INTERNET_INVALID_OPTION. See posix/handles/Options.h for sizes.
BOOL WINAPI InternetQueryOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                 LPDWORD lpdwBufferLength) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpdwBufferLength) return Fail(ERROR_INVALID_PARAMETER);
        DWORD error;
        if (!hInternet) {
            error = QueryGlobalOption(dwOption, lpBuffer, lpdwBufferLength);
        } else {
            const HandleRef handle = HandleTable::Find(hInternet, &error);
            if (!handle) return Fail(error);
            error = QueryCommonOption(*handle, dwOption, lpBuffer, lpdwBufferLength);
            if (error == kOptionNotHandled && handle->Ops().queryOption)
                error = handle->Ops().queryOption(*handle, dwOption, lpBuffer, lpdwBufferLength);
        }
        if (error == kOptionNotHandled) error = Unanswered(dwOption);
        return Outcome(error);
    });
}

BOOL WINAPI InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        DWORD error;
        if (!hInternet) {
            error = SetGlobalOption(dwOption, lpBuffer, dwBufferLength);
        } else {
            const HandleRef handle = HandleTable::Find(hInternet, &error);
            if (!handle) return Fail(error);
            error = SetCommonOption(*handle, dwOption, lpBuffer, dwBufferLength);
            if (error == kOptionNotHandled && handle->Ops().setOption)
                error = handle->Ops().setOption(*handle, dwOption, lpBuffer, dwBufferLength);
        }
        if (error == kOptionNotHandled) error = Unanswered(dwOption);
        return Outcome(error);
    });
}

// Reading, writing, finding the next file and querying available data go to
// the handle's kind; a kind without the operation fails with
// ERROR_INTERNET_INCORRECT_HANDLE_TYPE.
BOOL WINAPI InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                             LPDWORD lpdwNumberOfBytesRead) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpdwNumberOfBytesRead || (!lpBuffer && dwNumberOfBytesToRead))
            return Fail(ERROR_INVALID_PARAMETER);
        *lpdwNumberOfBytesRead = 0;
        DWORD error = ERROR_INVALID_HANDLE;
        const HandleRef handle = hFile ? HandleTable::Find(hFile, &error) : nullptr;
        if (!handle) return Fail(error);
        if (!handle->Ops().read) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        const auto read = handle->Ops().read;
        if (!Async::IsAsync(*handle))
            return Outcome(read(*handle, lpBuffer, dwNumberOfBytesToRead, lpdwNumberOfBytesRead));
        // A read answers at once when what is buffered, or arrives without
        // waiting, covers it (or the data ends within it). Otherwise it fills
        // the rest of the buffer on a worker thread, as the platform's
        // pending reads fill the whole buffer, and writes the count before
        // the completion is reported: the caller keeps the buffer and the
        // count until then.
        // What the read took at once, shared with the rest's work.
        const auto taken = std::make_shared<DWORD>(0);
        DWORD takenError = ERROR_SUCCESS;
        const auto readNow = handle->Ops().readNow;
        return Outcome(Async::NowOrLater(
            handle,
            [&] {
                char* into = static_cast<char*>(lpBuffer);
                while (readNow && *taken < dwNumberOfBytesToRead) {
                    DWORD got = 0;
                    takenError = readNow(*handle, into + *taken, dwNumberOfBytesToRead - *taken, &got);
                    if (takenError != ERROR_SUCCESS) return true;
                    if (got == 0) break;
                    *taken += got;
                }
                return *taken == dwNumberOfBytesToRead || Ready(*handle, dwNumberOfBytesToRead - *taken);
            },
            [&] {
                DWORD got = 0;
                DWORD error = takenError;
                if (error == ERROR_SUCCESS && *taken < dwNumberOfBytesToRead)
                    error = read(*handle, static_cast<char*>(lpBuffer) + *taken,
                                 dwNumberOfBytesToRead - *taken, &got);
                *lpdwNumberOfBytesRead = *taken + got;
                return *taken > 0 ? ERROR_SUCCESS : error;
            },
            [handle, read, lpBuffer, dwNumberOfBytesToRead, lpdwNumberOfBytesRead, taken] {
                char* into = static_cast<char*>(lpBuffer);
                DWORD filled = *taken;
                DWORD error = ERROR_SUCCESS;
                while (filled < dwNumberOfBytesToRead) {
                    DWORD got = 0;
                    error = read(*handle, into + filled, dwNumberOfBytesToRead - filled, &got);
                    if (error != ERROR_SUCCESS || got == 0) break;
                    filled += got;
                }
                // What arrived before a failure is delivered; the failure
                // comes again with the next read.
                if (filled > 0) error = ERROR_SUCCESS;
                *lpdwNumberOfBytesRead = filled;
                return Async::Result{error == ERROR_SUCCESS, error};
            }));
    });
}

BOOL WINAPI InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                              LPDWORD lpdwNumberOfBytesWritten) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpdwNumberOfBytesWritten || (!lpBuffer && dwNumberOfBytesToWrite))
            return Fail(ERROR_INVALID_PARAMETER);
        *lpdwNumberOfBytesWritten = 0;
        DWORD error = ERROR_INVALID_HANDLE;
        const HandleRef handle = hFile ? HandleTable::Find(hFile, &error) : nullptr;
        if (!handle) return Fail(error);
        if (!handle->Ops().write) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        if (Async::IsAsync(*handle)) {
            return Fail(Async::Begin(handle, [handle, lpBuffer, dwNumberOfBytesToWrite,
                                              lpdwNumberOfBytesWritten] {
                DWORD written = 0;
                const DWORD error = handle->Ops().write(*handle, lpBuffer, dwNumberOfBytesToWrite, &written);
                *lpdwNumberOfBytesWritten = written;
                return Async::Result{error == ERROR_SUCCESS, error};
            }));
        }
        return Outcome(
            handle->Ops().write(*handle, lpBuffer, dwNumberOfBytesToWrite, lpdwNumberOfBytesWritten));
    });
}

BOOL WINAPI InternetFindNextFileW(HINTERNET hFind, LPVOID lpvFindData) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpvFindData) return Fail(ERROR_INVALID_PARAMETER);
        DWORD error = ERROR_INVALID_HANDLE;
        const HandleRef handle = hFind ? HandleTable::Find(hFind, &error) : nullptr;
        if (!handle) return Fail(error);
        if (!handle->Ops().findNext) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return Outcome(handle->Ops().findNext(*handle, lpvFindData));
    });
}

BOOL WINAPI InternetQueryDataAvailable(HINTERNET hFile, LPDWORD lpdwNumberOfBytesAvailable, DWORD /*dwFlags*/,
                                       DWORD_PTR /*dwContext*/) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpdwNumberOfBytesAvailable) return Fail(ERROR_INVALID_PARAMETER);
        DWORD error = ERROR_INVALID_HANDLE;
        const HandleRef handle = hFile ? HandleTable::Find(hFile, &error) : nullptr;
        if (!handle) return Fail(error);
        if (!handle->Ops().queryDataAvailable) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        const auto query = handle->Ops().queryDataAvailable;
        DWORD available = 0;
        if (Async::IsAsync(*handle)) {
            // As on the platform, a pending query's count is written to the
            // caller's variable and is also the completion's dwError (its
            // dwResult is TRUE).
            error = Async::NowOrLater(
                handle, [&] { return Ready(*handle, 1); }, [&] { return query(*handle, &available); },
                [handle, query, lpdwNumberOfBytesAvailable] {
                    DWORD count = 0;
                    const DWORD failed = query(*handle, &count);
                    if (failed != ERROR_SUCCESS) return Async::Result{0, failed};
                    *lpdwNumberOfBytesAvailable = count;
                    return Async::Result{TRUE, count};
                });
        } else {
            error = query(*handle, &available);
        }
        if (error != ERROR_SUCCESS) return Fail(error);
        *lpdwNumberOfBytesAvailable = available;
        return TRUE;
    });
}
