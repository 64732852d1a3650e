// The connection component against the platform: what it reads agrees with
// the platform's own answer, a check connects for real, dialing a
// connection that does not exist fails, and the attempt and the zone
// crossing answer.
#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>
#include <Platform/InternetApi.h>

#include <gtest/gtest.h>

#include <string>

#include "PlatformDifferences.h"
#include "TestServers.h"
#include "TestText.h"

using namespace Corvane;

namespace {

// The state's bits in the platform's own words, to compare with what the
// platform reports.
DWORD StateWord(TConnectionState state) {
    constexpr std::pair<TConnectionStateValue, DWORD> kBits[] = {
        {csConfigured, INTERNET_CONNECTION_CONFIGURED}, {csLan, INTERNET_CONNECTION_LAN},
        {csModem, INTERNET_CONNECTION_MODEM},           {csOffline, INTERNET_CONNECTION_OFFLINE},
        {csProxy, INTERNET_CONNECTION_PROXY},           {csRasInstalled, INTERNET_RAS_INSTALLED}};
    DWORD word = 0;
    for (const auto& [element, bit] : kBits)
        if (state.Contains(element)) word |= bit;
    return word;
}

TEST(ConnectionComponent, ReadsChecksDialsAndConfirmsOnThePlatform) {
    TINetConnection connection(nullptr);

    // Connected and State, read twice, agree with each other and with the
    // platform's answer (only the bits the component knows).
    DWORD reported = 0;
    const bool connected = Platform().InternetGetConnectedState(&reported, 0) != FALSE;
    constexpr DWORD kKnown = 0x40 | 0x02 | 0x01 | 0x20 | 0x04 | 0x10;
    for (int read = 0; read < 2; ++read) {
        EXPECT_EQ(connection.Connected(), connected);
        EXPECT_EQ(StateWord(connection.State()), reported & kKnown);
    }
    // Connected means a connection exists and the process is not offline.
    if (connected) {
        EXPECT_FALSE(connection.State().Contains(csOffline));
    }

    // A forced check connects for real: a listening port answers, a closed
    // one does not; neither raises.
    const std::string open = TestServers::Setting("CORVANE_HTTP_URL");
    const std::string closed = "http://127.0.0.1:" + std::to_string(TestServers::ClosedPort()) + "/";
    EXPECT_EQ(Raised([&] { EXPECT_TRUE(connection.CheckConnection(Framework::Utf8ToUtf16(open), true)); }),
              "<nothing raised>");
    EXPECT_EQ(Raised([&] { EXPECT_FALSE(connection.CheckConnection(Framework::Utf8ToUtf16(closed), true)); }),
              "<nothing raised>");

    // A connection that does not exist cannot be dialed, and Connection
    // stays 0.
    connection.SetConnectionName(u"Corvane test: no such connection");
    const std::string dial = Raised([&] { connection.Dial(); });
    if (const char* reason = PlatformDifferences::Reason("wine-dial-stub")) {
        EXPECT_EQ(dial, "<nothing raised>") << reason;
    } else {
        EXPECT_EQ(dial.rfind("Error ", 0), 0u) << dial;
    }
    EXPECT_EQ(connection.Connection(), 0u);

    // The attempt: AttemptConnect's answer and Connect's raising agree.
    const bool attempted = connection.AttemptConnect();
    EXPECT_EQ(Raised([&] { connection.Connect(); }) == "<nothing raised>", attempted);

    // Two plain http URLs cross no zone that needs asking.
    EXPECT_EQ(
        Raised([&] {
            EXPECT_TRUE(connection.ConfirmZoneCrossing("http://a.corvane.test/", "http://b.corvane.test/"));
        }),
        "<nothing raised>");
}

}  // namespace
