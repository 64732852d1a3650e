// The system's network manager, reached over the D-Bus system bus: what the
// connected state reads of it, and the dialing the dial-up functions do
// through it. Every function opens its own bus connection, so any thread
// may call them; none throws.
#pragma once

#include "posix/handles/Handle.h"

#include <string>

namespace Corvane::Backend::NetworkManager {

/// What the connected state reports of the network manager.
struct Presence {
    bool reachable = false;   ///< a network manager that can activate connections answers on the bus
    bool configured = false;  ///< it holds at least one connection profile
};

/// Asks the network manager; a bus or a manager that does not answer
/// reads as absent.
Presence Query();

/// Activates the connection profile named `name` (its id); on success
/// `*connection` is a non-zero number that identifies the active
/// connection for HangUp. Returns ERROR_SUCCESS or the dial-up error code.
DWORD Dial(const std::u16string& name, DWORD flags, DWORD_PTR* connection);

/// Deactivates the active connection that Dial numbered `connection`.
DWORD HangUp(DWORD_PTR connection);

/// Brings up the system's preferred connection (the autodial of the
/// platform); ERROR_SUCCESS or the error code.
DWORD AutoDial(DWORD flags);

/// Takes down what AutoDial brought up.
DWORD AutoDialHangUp();

}  // namespace Corvane::Backend::NetworkManager
