/// \file
/// The session component (the root Internet handle, opened with
/// InternetOpenW) and the process-wide default session.
#pragma once

#include <cstdint>

#include <Framework/Classes.h>
#include <Framework/Set.h>

#include "Corvane/EnumList.h"
#include "Corvane/Handle.h"
#include "Corvane/CorvaneExport.h"

namespace Corvane {

/// TAccessType's list (see Corvane/EnumList.h): each element with the
/// access type InternetOpenW receives for it.
#define CORVANE_ACCESS_TYPES(X)                                                   \
    X(atDirect, INTERNET_OPEN_TYPE_DIRECT)                                        \
    X(atPreconfig, INTERNET_OPEN_TYPE_PRECONFIG) /* the default */                \
    X(atPreconfigWithNoAutoProxy, INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) \
    X(atProxy, INTERNET_OPEN_TYPE_PROXY) /* through ProxyName */

/// How the library reaches the network.
enum TAccessType : std::uint8_t { CORVANE_ACCESS_TYPES(CORVANE_ENUM_ELEMENT) };

/// TSessionFlag's list: each element with the InternetOpenW flag it sets.
#define CORVANE_SESSION_FLAGS(X)        \
    X(flOffline, INTERNET_FLAG_OFFLINE) \
    X(flAsync, INTERNET_FLAG_ASYNC) /* status callbacks arrive on library threads */

/// Session options.
enum TSessionFlag : std::uint8_t { CORVANE_SESSION_FLAGS(CORVANE_ENUM_ELEMENT) };
/// A set of TSessionFlag elements.
using TSessionFlags = Framework::TSet<TSessionFlag>;

/// A session: holds the settings of InternetOpenW and the list of the
/// components open on it through their Session property, which it closes,
/// oldest first, before it closes its own handle. Settings change only while
/// the session is closed and apply at the next open.
///
/// Protocol for a component that connects through a session (HTTP, FTP),
/// built on TINetHandle's protected helpers:
///  1. Its Session setter calls SetSessionReference(FSession, Value)
///     (CheckInactive, then the reference is stored and the component asks the
///     session for a free notification); its Notification override calls
///     SessionNotification(FSession, AComponent, Operation). The reference
///     therefore never outlives the session, whatever the two owners are.
///  2. Its CreateInternalHandle connects below FSession, or GetDefaultSession()
///     when none is assigned, after calling that session's Open, with
///     Context() as the context value of every call that takes one.
///  3. Its CreateHandle override calls the inherited one, then
///     EnterSession(FSession).
///  4. Its FreeHandle override releases its own sub-handles, calls the
///     inherited one, then LeaveSession(FSession).
/// Components using the default session are never entered in its list. A
/// user destroyed while still listed (its release failed before it could
/// leave) is dropped from the list when the session hears of its destruction.
class CORVANE_EXPORT TCustomINetSession : public TINetHandle {
public:
    /// A closed session: agent "Corvane", atPreconfig, no flags, no proxy.
    explicit TCustomINetSession(TComponent* owner);
    /// Closes the session, and so first every registered user.
    ~TCustomINetSession() override;

protected:
    /// How the session reaches the network (atPreconfig by default).
    TAccessType AccessType() const { return FAccessType; }
    /// Raises "Can't perform this operation on an open session" when open,
    /// and refuses a value no element stands for (SINetInvalidValue).
    void SetAccessType(TAccessType value);
    /// The user agent the session's requests send ("Corvane" by default).
    UnicodeString Agent() const { return FAgent; }
    /// Sets Agent; raises on an open session, as every setter here does.
    void SetAgent(const UnicodeString& value);
    /// Session options: flOffline, flAsync (operations complete later,
    /// reported through OnCallback on library threads).
    TSessionFlags Flags() const { return FFlags; }
    /// Sets Flags; raises on an open session.
    void SetFlags(TSessionFlags value);
    /// The hosts reached without the proxy, as the platform's list
    /// ("<local>;*.example.com"); used with atProxy.
    UnicodeString ProxyBypass() const { return FProxyBypass; }
    /// Sets ProxyBypass; raises on an open session.
    void SetProxyBypass(const UnicodeString& value);
    /// The proxy list, as the platform takes it ("http=host:port" or
    /// "host:port"); used with atProxy.
    UnicodeString ProxyName() const { return FProxyName; }
    /// Sets ProxyName; raises on an open session.
    void SetProxyName(const UnicodeString& value);

    /// Closes every registered user, oldest first, then the session handle.
    /// An entry still listed after its Close is dropped, so the loop ends.
    void FreeHandle() override;
    /// InternetOpenW(agent, access type, proxy or null, bypass or null, flags).
    HINTERNET CreateInternalHandle() override;
    /// Drops a listed user that is being destroyed; a user that only changes
    /// owner stays listed.
    void Notification(TComponent* component, Framework::TOperation operation) override;

private:
    friend class TINetHandle;

    UnicodeString FAgent = u"Corvane";
    TAccessType FAccessType = atPreconfig;
    TSessionFlags FFlags;
    UnicodeString FProxyBypass;
    UnicodeString FProxyName;
    /// The users open on this session; the session does not own them.
    Framework::TList FSessionUses;
};

/// The session component: publishes TCustomINetSession's properties.
class CORVANE_EXPORT TINetSession : public TCustomINetSession {
public:
    using TCustomINetSession::TCustomINetSession;

    using TCustomINetSession::About;
    using TCustomINetSession::AccessType;
    using TCustomINetSession::Active;
    using TCustomINetSession::AfterClose;
    using TCustomINetSession::AfterOpen;
    using TCustomINetSession::Agent;
    using TCustomINetSession::BeforeClose;
    using TCustomINetSession::BeforeOpen;
    using TCustomINetSession::Flags;
    using TCustomINetSession::OnCallback;
    using TCustomINetSession::OnError;
    using TCustomINetSession::ProxyBypass;
    using TCustomINetSession::ProxyName;
    using TCustomINetSession::SetAbout;
    using TCustomINetSession::SetAccessType;
    using TCustomINetSession::SetActive;
    using TCustomINetSession::SetAfterClose;
    using TCustomINetSession::SetAfterOpen;
    using TCustomINetSession::SetAgent;
    using TCustomINetSession::SetBeforeClose;
    using TCustomINetSession::SetBeforeOpen;
    using TCustomINetSession::SetFlags;
    using TCustomINetSession::SetOnCallback;
    using TCustomINetSession::SetOnError;
    using TCustomINetSession::SetProxyBypass;
    using TCustomINetSession::SetProxyName;
};

/// The process-wide default session, created closed on the first call (safe
/// when threads race for it) and never null until the program ends. HTTP and
/// FTP components without an assigned session connect through it. An exit
/// handler frees it, and so closes it, when the program ends; it runs before
/// the destructors of the framework's and the platform's static objects, and
/// GetDefaultSession returns null once it has run.
CORVANE_EXPORT TINetSession* GetDefaultSession();

/// The runtime unit's finalization: frees the default session, closing it
/// when open. The exit handler runs it (GetDefaultSession returns null from
/// then on); so does a design-time package's finalization when a designer
/// unloads it (the next GetDefaultSession makes a new one). Running it again
/// does nothing. Components still connected through the freed session are
/// closed with it.
CORVANE_EXPORT void Finalization();

}  // namespace Corvane
