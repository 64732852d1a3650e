// The system's network manager, reached over the D-Bus system bus: what the
// connected state reads of it, and the dialing the dial-up functions do
// through it. Every function opens its own bus connection, so any thread
// may call them; none throws, and none starts a manager that is not
// running. Query gives up after a second; the others after the backend's
// default connect timeout (SetBudget), and at once when there is no bus.
#pragma once

#include "posix/handles/Handle.h"

#include <chrono>
#include <string>

namespace Corvane::Backend::NetworkManager {

/// The dial-up error codes of the platform these functions answer. The
/// text of a D-Bus error is not kept: an error code is all the C API can
/// carry.
inline constexpr DWORD kErrorInvalidConnection =
    87;  ///< ERROR_INVALID_PARAMETER: HangUp of a number Dial never gave
inline constexpr DWORD kErrorUnknownEntry =
    623;  ///< ERROR_CANNOT_FIND_PHONEBOOK_ENTRY: no profile of that name
inline constexpr DWORD kErrorDisconnected =
    628;  ///< ERROR_DISCONNECTION: an activation that failed or timed out
inline constexpr DWORD kErrorActivationRefused =
    633;  ///< ERROR_PORT_NOT_AVAILABLE: the manager refused to activate
inline constexpr DWORD kErrorNeedsInteraction =
    703;                                       ///< ERROR_INTERACTIVE_MODE: secrets wanted, caller unattended
inline constexpr DWORD kErrorNoManager = 711;  ///< ERROR_RASMAN_CANNOT_INITIALIZE: no network manager answers
inline constexpr DWORD kErrorTimedOut =
    638;  ///< ERROR_REQUEST_TIMEOUT: the manager did not answer a call in time
inline constexpr DWORD kErrorAccessDenied = 5;  ///< ERROR_ACCESS_DENIED: the manager denies this caller

/// What the connected state reports of the network manager.
struct Presence {
    bool reachable = false;   ///< a network manager that can activate connections answers on the bus
    bool configured = false;  ///< it holds at least one connection profile
};

/// Asks the network manager; a bus or a manager that does not answer
/// within a second reads as absent. An answer is reused for a second (per
/// bus address), as the connected state asks on every read.
Presence Query();

/// Activates the connection profile named `name` (its id); on success
/// `*connection` is a non-zero number that identifies the active
/// connection for HangUp. Returns ERROR_SUCCESS or the dial-up error code.
/// The unattended flags (INTERNET_DIAL_UNATTENDED and
/// INTERNET_AUTODIAL_FORCE_UNATTENDED, here and in AutoDial) withdraw an
/// activation that waits for secrets.
DWORD Dial(const std::u16string& name, DWORD flags, DWORD_PTR* connection);

/// Deactivates the active connection that Dial numbered `connection`.
DWORD HangUp(DWORD_PTR connection);

/// Brings up the system's preferred connection (the autodial of the
/// platform); ERROR_SUCCESS or the error code.
DWORD AutoDial(DWORD flags);

/// Takes down what AutoDial brought up: the connection it activated and,
/// if it enabled networking, networking. Nothing brought up: success.
DWORD AutoDialHangUp();

/// Sets the time Dial, HangUp, AutoDial and AutoDialHangUp may take (a dial
/// still running then is withdrawn); zero restores the default, the
/// connect timeout's. For tests that make an activation run out of time.
void SetBudget(std::chrono::milliseconds budget);

}  // namespace Corvane::Backend::NetworkManager
