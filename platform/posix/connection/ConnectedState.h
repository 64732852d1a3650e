// How the machine is connected, as InternetGetConnectedState reports it: a
// snapshot of the system (interfaces, default routes, proxy, network
// manager, offline mode) and the pure computation of the flags from it, so
// that what each situation reports can be checked without that situation.
#pragma once

#include <Platform/WinInet.h>

#include <istream>
#include <string>
#include <vector>

namespace Corvane::Backend::ConnectedState {

/// A network interface as the connected state sees it.
struct Interface {
    std::string name;
    bool up = false;            ///< IFF_UP and IFF_RUNNING
    bool loopback = false;      ///< IFF_LOOPBACK
    bool pointToPoint = false;  ///< IFF_POINTOPOINT
    /// It holds an address beyond its link: IPv4 outside 169.254/16, IPv6
    /// neither link-local nor loopback.
    bool routableAddress = false;
};

/// What the system looks like at one moment.
struct Snapshot {
    std::vector<Interface> interfaces;
    /// The interfaces that hold a default route, the preferred first (IPv4
    /// by metric, then IPv6 by metric); one may appear more than once.
    std::vector<std::string> defaultRoutes;
    bool proxy = false;              ///< the process has a proxy configured
    bool managerReachable = false;   ///< a network manager that can dial answers
    bool managerConfigured = false;  ///< it holds a connection profile
    bool offline = false;            ///< the process is in offline mode
};

/// What InternetGetConnectedState(Ex) reports.
struct State {
    DWORD flags = 0;             ///< INTERNET_CONNECTION_* and INTERNET_RAS_INSTALLED
    bool connected = false;      ///< the function's result
    std::string connectionName;  ///< the interface of the default route in use; empty without one
};

/// The state of `snapshot`. The connection is the first default route
/// through an interface that is up, not loopback and holds a routable
/// address: MODEM when that interface is point-to-point (or named as a
/// dial-up or mobile link: ppp*, wwan*, wwp*), LAN otherwise. The result is
/// TRUE exactly when such a connection exists and the process is not
/// offline; the OFFLINE flag then stands beside LAN or MODEM.
State Evaluate(const Snapshot& snapshot);

/// The interfaces holding a usable default route (up, not rejecting), in
/// the order of Snapshot::defaultRoutes, from the text of /proc/net/route
/// (`ipv4`, header line first) and /proc/net/ipv6_route (`ipv6`). IPv6
/// routes for one source prefix only are not defaults; the IPv6 file does
/// not say which table a route is in, so a default of any table counts.
std::vector<std::string> DefaultRoutes(std::istream& ipv4, std::istream& ipv6);

/// The interfaces and default routes of this machine now (getifaddrs and
/// the two route files); nothing else is asked, the rest stays false.
Snapshot ReadNetwork();

/// ReadNetwork(), the proxy the environment gives a preconfigured session,
/// the network manager and the process's offline mode.
Snapshot Read();

/// Evaluate(Read()).
State Current();

/// Whether the machine has a connection (LAN or MODEM), from ReadNetwork()
/// only: the network manager is not asked.
bool HasConnection();

}  // namespace Corvane::Backend::ConnectedState
