/// \file
/// The abstract base of the components that own one Internet handle: the
/// open/close life cycle with its events, deferred activation from form files,
/// status notifications, option access and the state checks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <Framework/Classes.h>
#include <Framework/ResourceStrings.h>
#include <Platform/WinInet.h>

#include "Corvane/Errors.h"
#include "Corvane/CorvaneExport.h"

namespace Corvane {

class TCustomINetSession;

/// One status notification of the Internet library: Status is an
/// INTERNET_STATUS_... code, Information and InformationLength its data,
/// passed through unchanged.
using TINetCallbackEvent =
    std::function<void(TObject* sender, Integer status, void* information, Integer informationLength)>;

/// "Can't perform this operation on a closed session": raised by CheckActive
/// whatever the component's class.
inline constexpr Framework::TResourceString SINetClosedSession{
    "Corvane.SINetClosedSession", u"Can't perform this operation on a closed session"};
/// "Can't perform this operation on an open session": raised by CheckInactive.
inline constexpr Framework::TResourceString SINetOpenSession{
    "Corvane.SINetOpenSession", u"Can't perform this operation on an open session"};

/// Base of the session, HTTP and FTP components. Active means exactly that
/// Handle() is not null.
///
/// Descendants implement CreateInternalHandle with their one platform call. A
/// descendant that overrides FreeHandle or Callback must call CloseOnDestroy()
/// first in its own destructor: C++ dispatches virtual calls made from this
/// class's destructor to this class's FreeHandle only, and only after
/// CloseOnDestroy do status callbacks pass the component by.
///
/// Destroying a component waits for the OnCallback handlers other threads
/// are running on it (a handler that destroys its own component does not
/// wait for itself), so a handler must not wait for the thread that destroys
/// its component.
class CORVANE_EXPORT TINetHandle : public TComponent {
public:
    /// A closed component owned by Owner.
    explicit TINetHandle(TComponent* owner);
    /// Closes the component (firing BeforeClose and AfterClose when open).
    ~TINetHandle() override;

    TINetHandle(const TINetHandle&) = delete;
    TINetHandle& operator=(const TINetHandle&) = delete;

    /// The component's handle; null while closed.
    HINTERNET Handle() const { return FHandle; }

    /// Opens the component: BeforeOpen, CreateHandle, AfterOpen. Does nothing
    /// when already open. An exception from BeforeOpen or CreateHandle ends
    /// it; AfterOpen then does not fire.
    void Open();
    /// Closes the component: BeforeClose, FreeHandle, AfterClose. Does nothing
    /// when closed. The handle is released even when its close fails (which
    /// raises, and AfterClose does not fire).
    void Close();

    /// A text option of the component's handle (empty when the option has no
    /// text). Raises on a closed component and when the query fails.
    UnicodeString GetInternetOption(Cardinal option);
    /// Sets a text option; the empty string is passed as a null buffer.
    void SetInternetOption(Cardinal option, const UnicodeString& data);
    /// Raw form: fills the caller's buffer Data of Size bytes; Size is updated
    /// with the size the library reports.
    void GetInternetOption(Cardinal option, void* data, Cardinal& size);
    /// Raw form: passes the caller's buffer Data of Size bytes.
    void SetInternetOption(Cardinal option, void* data, Cardinal size);
    /// A 32-bit option; 0 when the query fails without a recorded error.
    Cardinal GetInternetOptionDWord(Cardinal option);
    /// Sets a 32-bit option.
    void SetInternetOptionDWord(Cardinal option, Cardinal data);

    /// Makes `call`, a platform call on `handle` whose results land in memory
    /// the component holds only for the call's length (a count, a fresh
    /// buffer), and returns its result. Beneath an asynchronous session a
    /// call answered with ERROR_IO_PENDING is waited for, so that the
    /// platform never writes into memory that is gone: the component's
    /// earlier pending calls on the handle complete first, then this call's
    /// REQUEST_COMPLETE (which reaches OnCallback first) ends the wait, and
    /// the call's outcome is the completion's (false with its dwError as the
    /// last error; `result` receives its dwResult). A close of the handle
    /// meanwhile ends the wait with ERROR_INTERNET_OPERATION_CANCELLED once
    /// the platform has let go of it. A null `handle` stands for a call whose
    /// completion comes on a handle it makes (an FTP connection).
    bool Synchronously(HINTERNET handle, const std::function<bool()>& call, DWORD_PTR* result = nullptr);
    /// Makes `call` on `handle` without waiting, counting it while it is
    /// pending, so that Synchronously knows its completion from theirs.
    bool Track(HINTERNET handle, const std::function<bool()>& call);
    /// Ends the waits on `handle` (on every handle when null); call once
    /// the handle was closed.
    void CancelWaits(HINTERNET handle);

protected:
    /// True while the component holds its handle.
    bool Active() const { return FHandle != nullptr; }
    /// Opens or closes. While the component's properties are read from a
    /// form file, true is only remembered and applied by Loaded.
    void SetActive(bool value);

    /// A fixed text beginning "Version 4.4"; assigning it does nothing.
    UnicodeString About() const;
    /// Does nothing: About is fixed.
    void SetAbout(const UnicodeString& value);

    /// Fires after the handle was released by Close.
    TNotifyEvent AfterClose() const { return FAfterClose; }
    /// Assigns AfterClose (an empty function removes the handler).
    void SetAfterClose(TNotifyEvent value) { FAfterClose = std::move(value); }
    /// Fires once Open has created the handle.
    TNotifyEvent AfterOpen() const { return FAfterOpen; }
    /// Assigns AfterOpen.
    void SetAfterOpen(TNotifyEvent value) { FAfterOpen = std::move(value); }
    /// Fires before Close releases the handle; an exception from it keeps
    /// the component open.
    TNotifyEvent BeforeClose() const { return FBeforeClose; }
    /// Assigns BeforeClose.
    void SetBeforeClose(TNotifyEvent value) { FBeforeClose = std::move(value); }
    /// Fires before Open creates the handle; an exception from it keeps the
    /// component closed.
    TNotifyEvent BeforeOpen() const { return FBeforeOpen; }
    /// Assigns BeforeOpen.
    void SetBeforeOpen(TNotifyEvent value) { FBeforeOpen = std::move(value); }
    /// Status notifications; may run on a library thread for an asynchronous
    /// session. An exception from the handler goes to the application object.
    TINetCallbackEvent OnCallback() const { return FOnCallback; }
    /// Assigns OnCallback; assign it while the component is closed when the
    /// session is asynchronous, since a library thread may be calling it.
    void SetOnCallback(TINetCallbackEvent value) { FOnCallback = std::move(value); }
    /// Offered every state error before it is raised (see RaiseError).
    TINetErrorEvent OnError() const { return FOnError; }
    /// Assigns OnError.
    void SetOnError(TINetErrorEvent value) { FOnError = std::move(value); }

    /// Raises "Can't perform this operation on a closed session" through
    /// RaiseError when the component is closed.
    void CheckActive();
    /// Raises "Can't perform this operation on an open session" through
    /// RaiseError when the component is open.
    void CheckInactive();
    /// Raises EINetError with Message after offering it to OnError, which may
    /// change its message or turn it into the silent abort (iaAbort).
    [[noreturn]] void RaiseError(const UnicodeString& message);

    /// Releases what is still held, creates the handle through
    /// CreateInternalHandle (with the last error reset to 0 first), checks it
    /// and registers StatusCallback on it.
    virtual void CreateHandle();
    /// Unregisters the status callback and closes the handle. The handle is
    /// null afterwards even when its close failed and Check raised.
    virtual void FreeHandle();
    /// Makes the descendant's one platform call; returns the new handle or
    /// null with the reason in the thread's last error.
    virtual HINTERNET CreateInternalHandle() = 0;
    /// Delivers one status notification to OnCallback; exceptions from the
    /// handler go to the application object's HandleException, with this
    /// component as Sender (the exception reaches OnException as E), and
    /// never return to the library.
    virtual void Callback(Cardinal status, void* information, Cardinal informationLength);

    /// Opens a component stored active once loading ends. In the designer a
    /// failure is shown and swallowed; otherwise it propagates.
    void Loaded() override;

    /// The context value for every platform call that takes one: this
    /// component as a TINetHandle*, which is what StatusCallback expects.
    DWORD_PTR Context() const { return reinterpret_cast<DWORD_PTR>(this); }

    /// For destructors of descendants: closes the component without letting
    /// an exception escape (it is shown through the application object), and
    /// releases the handle quietly should a BeforeClose handler have refused.
    void CloseOnDestroy() noexcept;

    // The session-user protocol, for components that connect through a
    // session (see Session.h). A null session makes each of them do nothing.

    /// Stores ASession in Field after CheckInactive, moving the free
    /// notification from the old session to the new one, so the reference is
    /// cleared when the session is destroyed whatever its owner.
    void SetSessionReference(TCustomINetSession*& field, TCustomINetSession* session);
    /// Call from Notification: clears Field when AComponent is that session
    /// being removed.
    static void SessionNotification(TCustomINetSession*& field, TComponent* component,
                                    Framework::TOperation operation);
    /// Enters this component in ASession's list of users (after opening).
    void EnterSession(TCustomINetSession* session);
    /// Removes this component from ASession's list of users (after closing).
    void LeaveSession(TCustomINetSession* session);

private:
    friend void CALLBACK StatusCallback(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD);

    HINTERNET FHandle = nullptr;
    bool FStreamedActive = false;
    TNotifyEvent FAfterClose;
    TNotifyEvent FAfterOpen;
    TNotifyEvent FBeforeClose;
    TNotifyEvent FBeforeOpen;
    TINetCallbackEvent FOnCallback;
    TINetErrorEvent FOnError;
    // The completions Synchronously waits for (Handle.cpp).
    struct TCompletions;
    std::unique_ptr<TCompletions> FCompletions;
};

/// Closes Handle (when not null), clears it whatever the outcome, and returns
/// whether the close succeeded; a null handle gives true with no platform
/// call. Callers pass the result to Check.
CORVANE_EXPORT bool CloseInternetHandle(HINTERNET& handle);

/// The status callback the components register on their handles. The context
/// value is the TINetHandle* of the component that opened the handle (see
/// TINetHandle::Context); a notification whose context is 0 names no
/// component and is dropped. Nothing the component's Callback raises returns
/// into the library.
CORVANE_EXPORT void CALLBACK StatusCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwInternetStatus,
                                            LPVOID lpvStatusInformation, DWORD dwStatusInformationLength);

}  // namespace Corvane
