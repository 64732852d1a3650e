// What InternetGetConnectedState reports for each kind of system: which
// default route counts, LAN or MODEM, and the flags that stand beside them.
#include "posix/connection/ConnectedState.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace Corvane::Backend::ConnectedState;

namespace {

const Interface kLo{"lo", true, true, false, true};
const Interface kEth0{"eth0", true, false, false, true};
const Interface kEth0Down{"eth0", false, false, false, true};
const Interface kEth0LinkLocal{"eth0", true, false, false, false};
const Interface kWlan0{"wlan0", true, false, false, true};
const Interface kPpp0{"ppp0", true, false, true, true};
const Interface kWwan0{"wwan0", true, false, false, true};

TEST(ConnectedState, FlagsResultAndNameForEachSystem) {
    struct Row {
        const char* what;
        Snapshot snapshot;
        DWORD flags;
        bool connected;
        const char* name;
    } const rows[] = {
        {"only loopback", {{kLo}, {}}, 0, false, ""},
        {"a default route through lo", {{kLo}, {"lo"}}, 0, false, ""},
        {"eth0 with the default route", {{kLo, kEth0}, {"eth0"}}, INTERNET_CONNECTION_LAN, true, "eth0"},
        {"ppp0 with the default route", {{kLo, kPpp0}, {"ppp0"}}, INTERNET_CONNECTION_MODEM, true, "ppp0"},
        {"a mobile link without the point-to-point flag",
         {{kWwan0}, {"wwan0"}},
         INTERNET_CONNECTION_MODEM,
         true,
         "wwan0"},
        {"eth0 up without a default route", {{kLo, kEth0}, {}}, 0, false, ""},
        {"the default route's interface is down", {{kEth0Down}, {"eth0"}}, 0, false, ""},
        {"only a link-local address", {{kEth0LinkLocal}, {"eth0"}}, 0, false, ""},
        {"a route through an interface that is gone", {{kLo}, {"eth1"}}, 0, false, ""},
        {"the first usable route wins",
         {{kEth0Down, kWlan0, kPpp0}, {"eth0", "wlan0", "ppp0"}},
         INTERNET_CONNECTION_LAN,
         true,
         "wlan0"},
        {"offline with a LAN",
         {{kEth0}, {"eth0"}, false, false, false, true},
         INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_OFFLINE,
         false,
         "eth0"},
        {"offline without a connection",
         {{kLo}, {}, false, false, false, true},
         INTERNET_CONNECTION_OFFLINE,
         false,
         ""},
        {"a proxy in the environment, no route", {{kLo}, {}, true}, INTERNET_CONNECTION_PROXY, false, ""},
        {"a proxy and a LAN",
         {{kEth0}, {"eth0"}, true},
         INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY,
         true,
         "eth0"},
        {"a network manager with profiles",
         {{kEth0}, {"eth0"}, false, true, true},
         INTERNET_CONNECTION_LAN | INTERNET_RAS_INSTALLED | INTERNET_CONNECTION_CONFIGURED,
         true,
         "eth0"},
        {"a network manager alone", {{kLo}, {}, false, true, false}, INTERNET_RAS_INSTALLED, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const State state = Evaluate(row.snapshot);
        EXPECT_EQ(state.flags, row.flags);
        EXPECT_EQ(state.connected, row.connected);
        EXPECT_EQ(state.connectionName, row.name);
    }
}

// The route files as the kernel writes them: which lines are usable
// defaults, and their order (IPv4 before IPv6, each by metric).
TEST(ConnectedState, DefaultRoutesFromTheRouteFiles) {
    std::istringstream ipv4(
        "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\tMTU\tWindow\tIRTT\n"
        "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"  // second by metric
        "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"   // first by metric
        "eth1\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n"     // reject route
        "eth2\t00000000\t00000000\t0000\t0\t0\t0\t00000000\t0\t0\t0\n"     // not up
        "eth3\t00000000\t010200C0\t0003\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");   // 0.0.0.0/24
    const std::string zero(32, '0');
    std::istringstream ipv6(
        "fd" + zero.substr(2) + " 40 " + zero + " 00 " + zero + " 00000100 1 0 00000001 eth0\n" +  // a prefix
        zero + " 00 " + zero + " 00 " + zero + " ffffffff 1 0 00200200 lo\n" +  // the kernel's null entry
        zero + " 00 fd" + zero.substr(2) + " 40 " + zero +
        " 00000001 1 0 00000003 tun0\n" +  // from one prefix
        zero + " 00 " + zero + " 00 fe80" + zero.substr(4) + " 00000400 1 0 00000003 eth1\n" + zero + " 00 " +
        zero + " 00 fe80" + zero.substr(4) + " 00000200 1 0 00000003 eth0\n");
    EXPECT_EQ(DefaultRoutes(ipv4, ipv6), (std::vector<std::string>{"eth0", "wlan0", "eth0", "eth1"}));
}

}  // namespace
