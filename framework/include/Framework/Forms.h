/// \file
/// The application object: the one place where exceptions that nobody else
/// handles are shown.
#pragma once

#include <functional>
#include <mutex>

#include "Framework/Classes.h"
#include "Framework/SysUtils.h"
#include "Framework/FrameworkExport.h"

namespace Framework {

/// The application object (see Application()).
///
/// Thread safety: every member may be called from any thread. The handler is
/// copied under a lock and called after the lock is released, so a handler
/// may itself call HandleException, SetOnException or ShowException without
/// deadlocking; handlers running on several threads at once must make their
/// own arrangements for shared data. Default output to standard error is
/// serialised, one message at a time.
class CORVANE_FRAMEWORK_EXPORT TApplication : public TObject {
public:
    /// Shows an exception; Sender is the object that caught it (may be null).
    using TExceptionEvent = std::function<void(TObject* sender, Exception& e)>;

    /// The handler HandleException passes exceptions to; empty: they are
    /// shown on standard error.
    TExceptionEvent OnException() const;
    /// Assigns OnException (an empty function restores the default).
    void SetOnException(TExceptionEvent handler);

    /// Shows the exception currently being handled. Call it inside a catch
    /// block. EAbort is ignored. A Framework::Exception goes to OnException
    /// (with Sender), or to ShowException when no handler is assigned. Any
    /// other std::exception is wrapped in an Exception carrying its what()
    /// text, and anything else in an Exception saying it is unknown. Never
    /// raises: an exception escaping the OnException handler is itself shown
    /// with ShowException (unless it is EAbort). Outside a catch block it does
    /// nothing.
    void HandleException(TObject* sender) noexcept;

    /// The default display: writes the message in UTF-8, followed by a line
    /// break, to standard error.
    void ShowException(const Exception& e) noexcept;

private:
    void Show(TObject* sender, Exception& e) noexcept;

    mutable std::mutex FLock;
    TExceptionEvent FOnException;
};

/// The process's application object. It lives until the process ends.
CORVANE_FRAMEWORK_EXPORT TApplication& Application();

}  // namespace Framework
