#include <cstdio>
#include <string>

#include "Framework/Forms.h"
#include "FrameworkConsts.h"

namespace Framework {

TApplication::TExceptionEvent TApplication::OnException() const {
    std::lock_guard guard(FLock);
    return FOnException;
}

void TApplication::SetOnException(TExceptionEvent handler) {
    std::lock_guard guard(FLock);
    FOnException = std::move(handler);
}

// Rethrows the exception in flight to learn its kind: EAbort is dropped,
// framework exceptions are shown as they are, others wrapped in an Exception.
void TApplication::HandleException(TObject* sender) noexcept {
    const std::exception_ptr current = std::current_exception();
    if (!current) return;
    try {
        try {
            std::rethrow_exception(current);
        } catch (EAbort&) {
        } catch (Exception& e) {
            Show(sender, e);
        } catch (const std::exception& e) {
            Exception wrapped(Utf8ToUtf16(e.what()));
            Show(sender, wrapped);
        } catch (...) {
            Exception wrapped(LoadResString(Consts::SUnknownException));
            Show(sender, wrapped);
        }
    } catch (...) {
        // Building the wrapper failed (out of memory); nothing sensible is left to show.
    }
}

// Calls the handler outside the lock; a failing handler's own exception is
// shown by the default display so that HandleException never raises.
void TApplication::Show(TObject* sender, Exception& e) noexcept {
    TExceptionEvent handler;
    try {
        handler = OnException();
    } catch (...) {}
    if (!handler) {
        ShowException(e);
        return;
    }
    try {
        handler(sender, e);
    } catch (EAbort&) {
    } catch (Exception& failure) {
        ShowException(failure);
    } catch (const std::exception& failure) {
        try {
            ShowException(Exception(Utf8ToUtf16(failure.what())));
        } catch (...) {}
    } catch (...) {
        try {
            ShowException(Exception(LoadResString(Consts::SUnknownException)));
        } catch (...) {}
    }
}

// One message per line on standard error, serialised across threads.
void TApplication::ShowException(const Exception& e) noexcept {
    static std::mutex outputLock;
    std::lock_guard guard(outputLock);
    std::fputs(e.what(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

TApplication& Application() {
    static TApplication* instance = new TApplication;
    return *instance;
}

}  // namespace Framework
