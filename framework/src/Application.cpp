#include <cstdio>
#include <string>

#include "Framework/Forms.h"
#include "FrameworkConsts.h"

namespace Framework {

TApplication::TExceptionEvent TApplication::OnException() const {
    std::lock_guard Guard(FLock);
    return FOnException;
}

void TApplication::SetOnException(TExceptionEvent Handler) {
    std::lock_guard Guard(FLock);
    FOnException = std::move(Handler);
}

// Rethrows the exception in flight to learn its kind: EAbort is dropped,
// framework exceptions are shown as they are, others wrapped in an Exception.
void TApplication::HandleException(TObject* Sender) noexcept {
    const std::exception_ptr Current = std::current_exception();
    if (!Current) return;
    try {
        try {
            std::rethrow_exception(Current);
        } catch (EAbort&) {
        } catch (Exception& E) {
            Show(Sender, E);
        } catch (const std::exception& E) {
            Exception Wrapped(Utf8ToUtf16(E.what()));
            Show(Sender, Wrapped);
        } catch (...) {
            Exception Wrapped(LoadResString(Consts::SUnknownException));
            Show(Sender, Wrapped);
        }
    } catch (...) {
        // Building the wrapper failed (out of memory); nothing sensible is left to show.
    }
}

// Calls the handler outside the lock; a failing handler's own exception is
// shown by the default display so that HandleException never raises.
void TApplication::Show(TObject* Sender, Exception& E) noexcept {
    TExceptionEvent Handler;
    try {
        Handler = OnException();
    } catch (...) {
    }
    if (!Handler) {
        ShowException(E);
        return;
    }
    try {
        Handler(Sender, E);
    } catch (EAbort&) {
    } catch (Exception& Failure) {
        ShowException(Failure);
    } catch (const std::exception& Failure) {
        try {
            ShowException(Exception(Utf8ToUtf16(Failure.what())));
        } catch (...) {
        }
    } catch (...) {
        try {
            ShowException(Exception(LoadResString(Consts::SUnknownException)));
        } catch (...) {
        }
    }
}

// One message per line on standard error, serialised across threads.
void TApplication::ShowException(const Exception& E) noexcept {
    static std::mutex OutputLock;
    std::lock_guard Guard(OutputLock);
    std::fputs(E.what(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

TApplication& Application() {
    static TApplication* Instance = new TApplication;
    return *Instance;
}

}  // namespace Framework
