// The connected state from the system's interfaces and routes.
#include "posix/connection/ConnectedState.h"

#include "posix/connection/NetworkManager.h"
#include "posix/connection/OfflineMode.h"
#include "posix/session/Session.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <utility>

namespace Corvane::Backend::ConnectedState {

namespace {

// Names the system gives dial-up and mobile broadband links, which are
// modems whatever flags their driver sets.
bool IsModemName(std::string_view name) {
    for (const std::string_view prefix : {"ppp", "wwan", "wwp"})
        if (name.substr(0, prefix.size()) == prefix) return true;
    return false;
}

// The interfaces of getifaddrs, one entry per name with its addresses folded in.
std::vector<Interface> ReadInterfaces() {
    std::vector<Interface> interfaces;
    ifaddrs* first = nullptr;
    if (getifaddrs(&first) != 0) return interfaces;
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(first, &freeifaddrs);
    for (const ifaddrs* entry = first; entry; entry = entry->ifa_next) {
        if (!entry->ifa_name) continue;
        auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                  [&](const Interface& i) { return i.name == entry->ifa_name; });
        if (found == interfaces.end()) {
            Interface added;
            added.name = entry->ifa_name;
            interfaces.push_back(std::move(added));
            found = std::prev(interfaces.end());
        }
        const unsigned flags = entry->ifa_flags;
        found->up = (flags & IFF_UP) && (flags & IFF_RUNNING);
        found->loopback = (flags & IFF_LOOPBACK) != 0;
        found->pointToPoint = (flags & IFF_POINTOPOINT) != 0;
        const sockaddr* address = entry->ifa_addr;
        if (!address) continue;
        if (address->sa_family == AF_INET) {
            // 169.254/16 is the link's own, as fe80::/10 is for IPv6.
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
            if ((ntohl(v4->sin_addr.s_addr) & 0xFFFF0000u) != 0xA9FE0000u) found->routableAddress = true;
        } else if (address->sa_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
            if (!IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr) && !IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr))
                found->routableAddress = true;
        }
    }
    return interfaces;
}

// A default route of one table: its interface and metric.
using Route = std::pair<std::string, unsigned long>;

// A hexadecimal field of the route tables (0 for anything else: the file
// is the kernel's, but a parse never throws).
unsigned long Hex(const std::string& field) {
    return std::strtoul(field.c_str(), nullptr, 16);
}

bool Usable(unsigned long flags) {
    return (flags & RTF_UP) && !(flags & RTF_REJECT);
}

// /proc/net/route: "Iface Destination Gateway Flags RefCnt Use Metric Mask ...",
// after a header line; addresses and flags in hexadecimal, the metric in
// decimal.
std::vector<Route> Ipv4DefaultRoutes(std::istream& file) {
    std::vector<Route> routes;
    std::string line;
    std::getline(file, line);
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refCount, use, metric, mask;
        if (!(fields >> name >> destination >> gateway >> flags >> refCount >> use >> metric >> mask))
            continue;
        if (Hex(destination) != 0 || Hex(mask) != 0) continue;
        if (!Usable(Hex(flags))) continue;
        routes.emplace_back(name, std::strtoul(metric.c_str(), nullptr, 10));
    }
    return routes;
}

// /proc/net/ipv6_route: "dest destlen src srclen nexthop metric refcnt use
// flags iface", no header; numbers in hexadecimal. The file lists the
// routes of every table, without saying which: a source-specific default
// (srclen not 0) is policy routing's, for traffic from one prefix only,
// and is skipped; a plain ::/0 kept in a table other than the main one
// (where rules send some traffic) cannot be told apart and counts.
std::vector<Route> Ipv6DefaultRoutes(std::istream& file) {
    std::vector<Route> routes;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string destination, length, source, sourceLength, nextHop, metric, refCount, use, flags, name;
        if (!(fields >> destination >> length >> source >> sourceLength >> nextHop >> metric >> refCount >>
              use >> flags >> name))
            continue;
        if (Hex(length) != 0 || Hex(sourceLength) != 0 || !Usable(Hex(flags))) continue;
        routes.emplace_back(name, Hex(metric));
    }
    return routes;
}

void AppendByMetric(std::vector<std::string>& out, std::vector<Route> routes) {
    std::stable_sort(routes.begin(), routes.end(),
                     [](const Route& a, const Route& b) { return a.second < b.second; });
    for (Route& route : routes) out.push_back(std::move(route.first));
}

}  // namespace

std::vector<std::string> DefaultRoutes(std::istream& ipv4, std::istream& ipv6) {
    std::vector<std::string> names;
    AppendByMetric(names, Ipv4DefaultRoutes(ipv4));
    AppendByMetric(names, Ipv6DefaultRoutes(ipv6));
    return names;
}

State Evaluate(const Snapshot& snapshot) {
    State state;
    for (const std::string& name : snapshot.defaultRoutes) {
        const auto found = std::find_if(snapshot.interfaces.begin(), snapshot.interfaces.end(),
                                        [&](const Interface& i) { return i.name == name; });
        if (found == snapshot.interfaces.end() || !found->up || found->loopback || !found->routableAddress)
            continue;
        state.flags |=
            found->pointToPoint || IsModemName(name) ? INTERNET_CONNECTION_MODEM : INTERNET_CONNECTION_LAN;
        state.connectionName = name;
        break;
    }
    const bool connection = state.flags != 0;
    if (snapshot.proxy) state.flags |= INTERNET_CONNECTION_PROXY;
    if (snapshot.managerConfigured) state.flags |= INTERNET_CONNECTION_CONFIGURED;
    if (snapshot.managerReachable) state.flags |= INTERNET_RAS_INSTALLED;
    if (snapshot.offline) state.flags |= INTERNET_CONNECTION_OFFLINE;
    state.connected = connection && !snapshot.offline;
    return state;
}

Snapshot ReadNetwork() {
    Snapshot snapshot;
    snapshot.interfaces = ReadInterfaces();
    std::ifstream ipv4("/proc/net/route");
    std::ifstream ipv6("/proc/net/ipv6_route");
    snapshot.defaultRoutes = DefaultRoutes(ipv4, ipv6);
    return snapshot;
}

Snapshot Read() {
    Snapshot snapshot = ReadNetwork();
    snapshot.proxy = !ProxyFromEnvironment().proxy.empty();
    const NetworkManager::Presence manager = NetworkManager::Query();
    snapshot.managerReachable = manager.reachable;
    snapshot.managerConfigured = manager.configured;
    snapshot.offline = OfflineMode::Process();
    return snapshot;
}

State Current() {
    return Evaluate(Read());
}

bool HasConnection() {
    return (Evaluate(ReadNetwork()).flags & (INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_MODEM)) != 0;
}

}  // namespace Corvane::Backend::ConnectedState
