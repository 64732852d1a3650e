/// \file
/// The connection component: how the machine is connected to the Internet,
/// and dial-up. It owns no Internet handle and keeps no state of the system:
/// every read of Connected and State asks the platform, and every operation
/// is one call of the platform's connection functions, whose failure is
/// raised straight to the caller (there is no OnError).
#pragma once

#include <cstdint>

#include <Framework/Classes.h>
#include <Framework/Set.h>

#include "Corvane/EnumList.h"
#include "Corvane/Errors.h"
#include "Corvane/CorvaneExport.h"

namespace Corvane {

/// TConnectionFlag's list (see Corvane/EnumList.h): each element with the
/// dialing flag it sets.
#define CORVANE_CONNECTION_FLAGS(X)                                         \
    X(cfAutoDialFailSecurityCheck, INTERNET_AUTODIAL_FAILIFSECURITYCHECK)   \
    X(cfAutoDialForceOnline, INTERNET_AUTODIAL_FORCE_ONLINE)                \
    X(cfAutoDialForceUnattended, INTERNET_AUTODIAL_FORCE_UNATTENDED)        \
    X(cfAutoDialOverrideNetPresent, INTERNET_AUTODIAL_OVERRIDE_NET_PRESENT) \
    X(cfDialForcePrompt, INTERNET_DIAL_FORCE_PROMPT)                        \
    X(cfDialUnattended, INTERNET_DIAL_UNATTENDED)                           \
    X(cfDialShowOffline, INTERNET_DIAL_SHOW_OFFLINE)

/// Dialing flags. The whole set goes to whichever dialing call runs.
enum TConnectionFlag : std::uint8_t { CORVANE_CONNECTION_FLAGS(CORVANE_ENUM_ELEMENT) };
/// A set of TConnectionFlag elements.
using TConnectionFlags = Framework::TSet<TConnectionFlag>;

/// TConnectionStateValue's list: each element with the connected-state flag
/// that reports it.
#define CORVANE_CONNECTION_STATES(X)                \
    X(csConfigured, INTERNET_CONNECTION_CONFIGURED) \
    X(csLan, INTERNET_CONNECTION_LAN)               \
    X(csModem, INTERNET_CONNECTION_MODEM)           \
    X(csOffline, INTERNET_CONNECTION_OFFLINE)       \
    X(csProxy, INTERNET_CONNECTION_PROXY)           \
    X(csRasInstalled, INTERNET_RAS_INSTALLED)

/// What the system reports of its connection.
enum TConnectionStateValue : std::uint8_t { CORVANE_CONNECTION_STATES(CORVANE_ENUM_ELEMENT) };
/// A set of TConnectionStateValue elements.
using TConnectionState = Framework::TSet<TConnectionStateValue>;

/// All behaviour of the connection component. A new component has AutoDial
/// false, an empty ConnectionName, empty Flags and Connection 0; destroying
/// it does not hang up. The writable properties store their value without
/// any check and take effect at the next call that reads them.
class CORVANE_EXPORT TCustomINetConnection : public TComponent {
public:
    /// A component with the initial values above, owned by Owner.
    using TComponent::TComponent;

    /// Dials: with AutoDial, the system's automatic dialing (a false result
    /// raises through Check); otherwise the named connection ConnectionName
    /// (an empty name is passed as an empty text), whose error code is
    /// raised through CheckSuccess and whose identifier becomes Connection
    /// on success. Flags go to either call whole.
    void Dial();
    /// Hangs up what AutoDial says at the time of the call: the automatic
    /// dialing's connection, or Connection (0 before any named Dial), which
    /// keeps its value afterwards. Failures raise.
    void HangUp();
    /// Whether the platform's connection attempt answers success; never raises.
    bool AttemptConnect();
    /// The same attempt; a non-zero answer raises.
    void Connect();
    /// Whether Url can be reached; with ForceConnection the platform really
    /// connects. Never raises.
    bool CheckConnection(const UnicodeString& url, bool forceConnection);
    /// Asks the system to go online for Url; a refusal raises.
    void GoOnline(const UnicodeString& url);
    /// Asks whether going from PreviousUrl to NextUrl (8-bit texts, handed to
    /// the platform as they are) may cross security zones. True when
    /// allowed; false when the user cancels (ERROR_CANCELLED), with nothing
    /// raised; any other answer raises.
    bool ConfirmZoneCrossing(const AnsiString& previousUrl, const AnsiString& nextUrl);

    /// The identifier of the connection the last successful named Dial made
    /// (0 before any).
    Cardinal Connection() const { return FConnection; }

protected:
    /// A fixed text beginning "Version 4.4"; assigning it does nothing.
    UnicodeString About() const;
    /// Does nothing: About is fixed.
    void SetAbout(const UnicodeString& value);

    /// Whether Dial and HangUp use the system's automatic dialing instead
    /// of the named connection.
    bool AutoDial() const { return FAutoDial; }
    /// Sets AutoDial.
    void SetAutoDial(bool value) { FAutoDial = value; }
    /// The connection profile a named Dial brings up.
    UnicodeString ConnectionName() const { return FConnectionName; }
    /// Sets ConnectionName.
    void SetConnectionName(const UnicodeString& value) { FConnectionName = value; }
    /// The flags Dial passes to the platform.
    TConnectionFlags Flags() const { return FFlags; }
    /// Sets Flags.
    void SetFlags(TConnectionFlags value) { FFlags = value; }

    /// Whether the system reports a connection; asked at every read, never
    /// raises.
    bool GetConnected() const;
    /// The kinds of connection the system reports (its result not consulted;
    /// bits no element stands for are dropped); asked at every read, never
    /// raises.
    TConnectionState GetConnectionState() const;
    /// The platform's dialing flags of Flags: the OR of every element's value.
    Cardinal GetFlags() const;

private:
    bool FAutoDial = false;
    Cardinal FConnection = 0;
    UnicodeString FConnectionName;
    TConnectionFlags FFlags;
};

/// The connection component: publishes About, AutoDial, Connected,
/// ConnectionName, Flags and State, in this order. Connection stays public
/// and unpublished.
class CORVANE_EXPORT TINetConnection : public TCustomINetConnection {
public:
    using TCustomINetConnection::TCustomINetConnection;

    using TCustomINetConnection::About;
    using TCustomINetConnection::AutoDial;
    using TCustomINetConnection::ConnectionName;
    using TCustomINetConnection::Flags;
    using TCustomINetConnection::SetAbout;
    using TCustomINetConnection::SetAutoDial;
    using TCustomINetConnection::SetConnectionName;
    using TCustomINetConnection::SetFlags;

    /// Connected: whether the system reports a connection, asked at every read.
    bool Connected() const { return GetConnected(); }
    /// State: the kinds of connection the system reports, asked at every read.
    TConnectionState State() const { return GetConnectionState(); }
};

}  // namespace Corvane
