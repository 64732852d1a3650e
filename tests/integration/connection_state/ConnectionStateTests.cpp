// The connection functions of the portable backend on this machine: the
// connected state compared with what `ip` reports, real TCP checks against a
// loopback server and a closed port, offline mode end to end through the
// HTTP component, and the zone-crossing policy with and without a handler.
#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>
#include <Platform/ZoneCrossing.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "TestServers.h"

using namespace Corvane;

namespace {

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

// The part of `ip -j addr`'s output that describes the interface `name`
// (empty when there is none).
std::string LinkOf(const std::string& addresses, const std::string& name) {
    const std::size_t at = addresses.find("\"ifname\":\"" + name + "\"");
    if (at == std::string::npos) return {};
    return addresses.substr(at, addresses.find("\"ifindex\":", at) - at);
}

// The interface InternetGetConnectedState should name, from `ip -j`: the
// first default route (IPv4, then IPv6, each in the kernel's order) through
// an interface that is up with an IPv4 address beyond 169.254/16 or a
// global IPv6 address; whether that interface is point-to-point.
std::string ExpectedConnection(bool* pointToPoint) {
    const std::string routes = Output("ip -j route show default; ip -j -6 route show default");
    const std::string addresses = Output("ip -j addr");
    for (std::size_t at = 0; (at = routes.find("\"dev\":\"", at)) != std::string::npos;) {
        at += 7;
        const std::string name = routes.substr(at, routes.find('"', at) - at);
        const std::string link = LinkOf(addresses, name);
        const std::string inet = "\"family\":\"inet\",\"local\":\"";
        bool ipv4 = false;
        for (std::size_t v4 = link.find(inet); v4 != std::string::npos; v4 = link.find(inet, v4 + 1))
            ipv4 |= link.compare(v4 + inet.size(), 8, "169.254.") != 0;
        if (name == "lo" || link.find("\"LOWER_UP\"") == std::string::npos ||
            (!ipv4 && link.find("\"scope\":\"global\"") == std::string::npos))
            continue;
        *pointToPoint = link.find("\"POINTOPOINT\"") != std::string::npos;
        return name;
    }
    return {};
}

TEST(ConnectedState, MatchesTheKernelsRoutesAndInterfaces) {
    bool pointToPoint = false;
    const std::string expected = ExpectedConnection(&pointToPoint);
    SCOPED_TRACE("expected connection: '" + expected + "'");

    // No proxy from the environment, in either case.
    for (std::string variable : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy"}) {
        ::unsetenv(variable.c_str());
        for (char& c : variable) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ::unsetenv(variable.c_str());
    }
    DWORD flags = 0xFFFFFFFF;
    char16_t name[64] = u"unchanged";
    const BOOL connected = InternetGetConnectedStateExW(&flags, name, 64, 0);
    EXPECT_EQ(connected != FALSE, !expected.empty());
    EXPECT_EQ(Framework::Utf16ToUtf8(name), expected);
    const DWORD kind = expected.empty() ? 0
                       : pointToPoint   ? DWORD{INTERNET_CONNECTION_MODEM}
                                        : DWORD{INTERNET_CONNECTION_LAN};
    EXPECT_EQ(flags & (INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_MODEM), kind);
    EXPECT_EQ(flags & (INTERNET_CONNECTION_OFFLINE | INTERNET_CONNECTION_PROXY), 0u);
    if (!connected) {
        EXPECT_EQ(::GetLastError(), DWORD{ERROR_NOT_CONNECTED});
    }

    // A short buffer gets what fits and the terminator.
    char16_t two[2] = {u'x', u'x'};
    InternetGetConnectedStateExW(&flags, two, 2, 0);
    EXPECT_EQ(std::u16string(two), Framework::Utf8ToUtf16(expected.substr(0, 1)));

    // The proxy a preconfigured session would take shows as PROXY.
    ::setenv("http_proxy", "http://127.0.0.1:3128", 1);
    EXPECT_EQ(InternetGetConnectedState(&flags, 0), connected);
    EXPECT_TRUE(flags & INTERNET_CONNECTION_PROXY);
    ::unsetenv("http_proxy");
}

void SetProcessOffline(bool offline) {
    INTERNET_CONNECTED_INFO info{
        offline ? DWORD{INTERNET_STATE_DISCONNECTED_BY_USER} : DWORD{INTERNET_STATE_CONNECTED}, 0};
    ASSERT_TRUE(InternetSetOptionW(nullptr, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof(info)));
}

TEST(CheckConnection, ConnectsForRealAndRefusesWhatIsNoUrl) {
    const std::u16string open = Framework::Utf8ToUtf16(TestServers::Setting("CORVANE_HTTP_URL"));
    const std::u16string closed =
        Framework::Utf8ToUtf16("http://127.0.0.1:" + std::to_string(TestServers::ClosedPort()) + "/x");
    struct Row {
        const char16_t* url;
        DWORD flags;
        DWORD error;  // 0: TRUE
    } const rows[] = {
        {open.c_str(), FLAG_ICC_FORCE_CONNECTION, 0},
        {closed.c_str(), FLAG_ICC_FORCE_CONNECTION, ERROR_NOT_CONNECTED},
        {u"http://[::1", FLAG_ICC_FORCE_CONNECTION, ERROR_INTERNET_INVALID_URL},
        {u"no url at all", 0, ERROR_INTERNET_INVALID_URL},
        {u"mailto:someone", FLAG_ICC_FORCE_CONNECTION, ERROR_INTERNET_INVALID_URL},
        {nullptr, FLAG_ICC_FORCE_CONNECTION, ERROR_NOT_CONNECTED},
        {open.c_str(), 0x80, ERROR_INVALID_PARAMETER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url ? Framework::Utf16ToUtf8(row.url) : "(null)");
        ::SetLastError(0);
        EXPECT_EQ(InternetCheckConnectionW(row.url, row.flags, 0), row.error == 0);
        if (row.error) {
            EXPECT_EQ(::GetLastError(), row.error);
        }
    }
    // Without the flag nothing is contacted: a closed port reads as
    // reachable exactly when the machine has a connection.
    bool pointToPoint = false;
    EXPECT_EQ(InternetCheckConnectionW(closed.c_str(), 0, 0) != FALSE,
              !ExpectedConnection(&pointToPoint).empty());

    // Offline, nothing is reachable.
    SetProcessOffline(true);
    EXPECT_FALSE(InternetCheckConnectionW(open.c_str(), FLAG_ICC_FORCE_CONNECTION, 0));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_NOT_CONNECTED});
    SetProcessOffline(false);
}

std::string RaisedMessage(TINetHttp& http) {
    try {
        http.Open();
        http.OpenRequest(u"GET", Framework::Utf8ToUtf16(TestServers::Setting("CORVANE_SMALL_PATH")));
        http.SendRequest(u"", TBytes{});
        return "status " + std::to_string(http.QueryInfoValue(heStatusCode));
    } catch (const EINetError& e) {
        return Framework::Utf16ToUtf8(e.Message());
    }
}

TEST(OfflineMode, RequestsFailOfflineAndRunAgainOnline) {
    TINetSession session(nullptr);
    TINetHttp http(nullptr);
    http.SetSession(&session);
    http.SetUrl(Framework::Utf8ToUtf16(TestServers::Setting("CORVANE_HTTP_URL")));
    ASSERT_EQ(RaisedMessage(http), "status 200");
    http.CloseRequest();

    SetProcessOffline(true);
    DWORD state = 0;
    DWORD size = sizeof(INTERNET_CONNECTED_INFO);
    ASSERT_TRUE(InternetQueryOptionW(nullptr, INTERNET_OPTION_CONNECTED_STATE, &state, &size));
    EXPECT_EQ(state, DWORD{INTERNET_STATE_DISCONNECTED_BY_USER});
    EXPECT_EQ(size, sizeof(DWORD));
    DWORD flags = 0;
    EXPECT_FALSE(InternetGetConnectedState(&flags, 0));
    EXPECT_TRUE(flags & INTERNET_CONNECTION_OFFLINE);
    const std::string offline = RaisedMessage(http);
    EXPECT_EQ(offline.rfind("Error 12163: ", 0), 0u) << offline;
    http.CloseRequest();
    // FTP fails before it looks for the server.
    const HINTERNET raw = InternetOpenW(u"t", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    EXPECT_EQ(InternetConnectW(raw, u"127.0.0.1", 21, nullptr, nullptr, INTERNET_SERVICE_FTP, 0, 0), nullptr);
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INTERNET_OFFLINE});

    // Going online needs a connection; without one the process stays offline.
    const bool hasConnection = flags & (INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_MODEM);
    EXPECT_EQ(InternetGoOnlineW(u"not a url", nullptr, 0), FALSE);
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INTERNET_INVALID_URL});
    EXPECT_EQ(InternetAttemptConnect(0), hasConnection ? DWORD{ERROR_SUCCESS} : DWORD{ERROR_NOT_CONNECTED});
    if (hasConnection) {
        SetProcessOffline(true);
        EXPECT_TRUE(InternetGoOnlineW(u"", nullptr, 0));
    } else {
        EXPECT_FALSE(InternetGoOnlineW(nullptr, nullptr, 0));
        EXPECT_EQ(::GetLastError(), DWORD{ERROR_NOT_CONNECTED});
        SetProcessOffline(false);
    }
    ASSERT_TRUE(InternetQueryOptionW(nullptr, INTERNET_OPTION_CONNECTED_STATE, &state, &size));
    EXPECT_EQ(state, DWORD{INTERNET_STATE_CONNECTED});
    EXPECT_EQ(RaisedMessage(http), "status 200");
    http.CloseRequest();
    http.Close();

    // A session opened offline stays so while the process is online; the
    // option is the process's, not a handle's.
    TINetSession offlineSession(nullptr);
    offlineSession.SetFlags({flOffline});
    http.SetSession(&offlineSession);
    EXPECT_EQ(RaisedMessage(http).rfind("Error 12163: ", 0), 0u);
    INTERNET_CONNECTED_INFO info{INTERNET_STATE_DISCONNECTED_BY_USER, 0};
    EXPECT_FALSE(InternetSetOptionW(raw, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof(info)));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INTERNET_INCORRECT_HANDLE_TYPE});
    info = {0x40, 0};
    EXPECT_FALSE(InternetSetOptionW(nullptr, INTERNET_OPTION_CONNECTED_STATE, &info, sizeof(info)));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    InternetCloseHandle(raw);
}

struct Asked {
    std::string from, to;
    bool post = false;
    int count = 0;
};

DWORD Refuse(const char* from, const char* to, bool post, void* context) {
    auto* asked = static_cast<Asked*>(context);
    asked->from = from;
    asked->to = to;
    asked->post = post;
    ++asked->count;
    return ERROR_CANCELLED;
}

TEST(ZoneCrossing, SameZoneAllowedCrossingsGoToTheHandler) {
    char http[] = "http://127.0.0.1/a";
    char https[] = "https://127.0.0.1/b";
    char ftp[] = "ftp://127.0.0.1/c";
    char bad[] = "no url";
    struct Row {
        char* from;
        char* to;
        DWORD withoutHandler;
        DWORD withHandler;
    } const rows[] = {
        {http, https, ERROR_SUCCESS, ERROR_CANCELLED},
        {https, http, ERROR_SUCCESS, ERROR_CANCELLED},
        {https, https, ERROR_SUCCESS, ERROR_SUCCESS},
        {http, ftp, ERROR_SUCCESS, ERROR_SUCCESS},
        {bad, https, ERROR_INTERNET_INVALID_URL, ERROR_INTERNET_INVALID_URL},
        {http, nullptr, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
    };
    Asked asked;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.from) + " -> " + (row.to ? row.to : "(null)"));
        ASSERT_EQ(ZoneCrossing::SetHandler(nullptr, nullptr), DWORD{ERROR_SUCCESS});
        EXPECT_EQ(InternetConfirmZoneCrossingA(nullptr, row.from, row.to, FALSE), row.withoutHandler);
        ZoneCrossing::SetHandler(&Refuse, &asked);
        const int before = asked.count;
        EXPECT_EQ(InternetConfirmZoneCrossing(nullptr, row.from, row.to, TRUE), row.withHandler);
        EXPECT_EQ(asked.count - before, row.withHandler == ERROR_CANCELLED ? 1 : 0);
    }
    EXPECT_EQ(asked.from, https);
    EXPECT_EQ(asked.to, http);
    EXPECT_TRUE(asked.post);
    ZoneCrossing::SetHandler(nullptr, nullptr);
}

// Whether SlowHandler has started, and whether SetHandler has replaced it:
// a handler must never still run once SetHandler has returned.
std::atomic<bool> Running{false};
std::atomic<bool> Replaced{false};

DWORD SlowHandler(const char*, const char*, bool, void*) {
    Running = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(Replaced.load()) << "SetHandler returned while the old handler ran";
    // A handler may change the handler itself without waiting for itself.
    EXPECT_EQ(ZoneCrossing::SetHandler(nullptr, nullptr), DWORD{ERROR_SUCCESS});
    return ERROR_SUCCESS;
}

TEST(ZoneCrossing, SetHandlerWaitsForTheRunningHandler) {
    char http[] = "http://127.0.0.1/a";
    char https[] = "https://127.0.0.1/b";
    ZoneCrossing::SetHandler(&SlowHandler, nullptr);
    std::thread crossing([&] { EXPECT_EQ(InternetConfirmZoneCrossingA(nullptr, http, https, FALSE), 0u); });
    while (!Running) std::this_thread::yield();
    ZoneCrossing::SetHandler(nullptr, nullptr);
    Replaced = true;
    crossing.join();
}

}  // namespace
