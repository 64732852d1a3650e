// The connection component against the mocked platform: the dialing flags
// and the reported state as tables, which call each operation makes and
// what it raises, the zone crossing's cancel, and the form file.
#include "TestHelpers.h"

#include <Framework/FormFiles.h>

#include <string>

using namespace Corvane;
using namespace CorvaneTest;
using testing::_;
using testing::Return;

namespace {

constexpr DWORD kCannotFindPhonebookEntry = 623;
constexpr DWORD kNotConnected = 2250;

// Every element of Flags with its bit, and the same word going to both
// dialing calls whatever AutoDial says.
struct FlagCase {
    TConnectionFlags Flags;
    DWORD Word;
};

const FlagCase kFlagCases[] = {
    {{}, 0},
    {{cfAutoDialFailSecurityCheck}, 0x4},
    {{cfAutoDialForceOnline}, 0x1},
    {{cfAutoDialForceUnattended}, 0x2},
    {{cfAutoDialOverrideNetPresent}, 0x8},
    {{cfDialForcePrompt}, 0x2000},
    {{cfDialUnattended}, 0x8000},
    {{cfDialShowOffline}, 0x4000},
    {{cfDialUnattended, cfDialShowOffline}, 0xC000},
    {{cfAutoDialForceOnline, cfAutoDialForceUnattended}, 0x3},
    {{cfAutoDialFailSecurityCheck, cfAutoDialForceOnline, cfAutoDialForceUnattended,
      cfAutoDialOverrideNetPresent, cfDialForcePrompt, cfDialUnattended, cfDialShowOffline},
     0xE00F},
};

TEST(ConnectionTest, EveryFlagGoesToWhicheverDialingCallRuns) {
    testing::StrictMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    TINetConnection connection(nullptr);
    for (const FlagCase& c : kFlagCases) {
        SCOPED_TRACE(c.Word);
        connection.SetFlags(c.Flags);
        connection.SetAutoDial(true);
        EXPECT_CALL(api, InternetAutodial(c.Word, nullptr)).WillOnce(Return(TRUE));
        connection.Dial();
        connection.SetAutoDial(false);
        EXPECT_CALL(api, InternetDialW(nullptr, WStrEq(u""), c.Word, _, 0u)).WillOnce(Return(ERROR_SUCCESS));
        connection.Dial();
    }
}

// What the platform reports, and how Connected and State read it: the
// result alone decides Connected, the flags alone State.
struct StateCase {
    BOOL Result;
    DWORD Reported;
    TConnectionState State;
};

const StateCase kStateCases[] = {
    {TRUE, 0x12, {csLan, csRasInstalled}},
    {TRUE, 0x60, {csConfigured, csOffline}},
    {TRUE, 0x08, {}},  // MODEM_BUSY has no element
    {FALSE, 0x20, {csOffline}},
    {FALSE, 0x10, {csRasInstalled}},
    {FALSE, 0, {}},
    {TRUE, 0xFFFFFFFF, {csConfigured, csLan, csModem, csOffline, csProxy, csRasInstalled}},
};

TEST(ConnectionTest, ConnectedAndStateAskTheSystemAtEveryRead) {
    testing::StrictMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    TINetConnection connection(nullptr);
    for (const StateCase& c : kStateCases) {
        SCOPED_TRACE(c.Reported);
        EXPECT_CALL(api, InternetGetConnectedState(_, 0u)).Times(4).WillRepeatedly([&](LPDWORD flags, DWORD) {
            *flags = c.Reported;
            if (!c.Result) api.SetMockLastError(ERROR_INTERNET_DISCONNECTED);
            return c.Result;
        });
        for (int read = 0; read < 2; ++read) {
            EXPECT_EQ(connection.Connected(), c.Result != FALSE);
            EXPECT_EQ(connection.State().ToMask(), c.State.ToMask());
        }
        testing::Mock::VerifyAndClearExpectations(&api);
    }
}

TEST(ConnectionTest, DialAndHangUpFollowAutoDialAtTheTimeTheyRun) {
    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    TINetConnection connection(nullptr);
    EXPECT_FALSE(connection.AutoDial());
    EXPECT_TRUE(connection.ConnectionName().empty());
    EXPECT_EQ(connection.Flags().ToMask(), 0u);
    EXPECT_EQ(connection.Connection(), 0u);

    // Before any dial, a named hang-up passes connection 0, and its error is raised.
    EXPECT_CALL(api, InternetHangUp(0u, 0u)).WillOnce(Return(kNotConnected));
    EXPECT_EQ(RaisedMessage([&] { connection.HangUp(); }).rfind("Error 2250: ", 0), 0u);

    // An unknown name raises and leaves Connection alone; a known one sets it.
    connection.SetConnectionName(u"Nowhere");
    EXPECT_CALL(api, InternetDialW(nullptr, WStrEq(u"Nowhere"), 0u, _, 0u))
        .WillOnce([](HWND, LPWSTR, DWORD, DWORD_PTR* id, DWORD) {
            *id = 99;  // written anyway: a failed dial must not keep it
            return kCannotFindPhonebookEntry;
        });
    EXPECT_EQ(RaisedMessage([&] { connection.Dial(); }).rfind("Error 623: ", 0), 0u);
    EXPECT_EQ(connection.Connection(), 0u);
    connection.SetConnectionName(u"Office VPN");
    EXPECT_CALL(api, InternetDialW(nullptr, WStrEq(u"Office VPN"), 0u, _, 0u))
        .WillOnce([](HWND, LPWSTR, DWORD, DWORD_PTR* id, DWORD) {
            *id = 0x2A;
            return DWORD{ERROR_SUCCESS};
        });
    connection.Dial();
    EXPECT_EQ(connection.Connection(), 0x2Au);

    // Switched to AutoDial after a named dial: the hang-up is autodial's;
    // switched back, the named connection's, which Connection keeps.
    connection.SetAutoDial(true);
    EXPECT_CALL(api, InternetAutodialHangup(0u)).WillOnce(Return(TRUE));
    connection.HangUp();
    connection.SetAutoDial(false);
    EXPECT_CALL(api, InternetHangUp(0x2Au, 0u)).Times(2).WillRepeatedly(Return(DWORD{ERROR_SUCCESS}));
    connection.HangUp();
    connection.HangUp();
    EXPECT_EQ(connection.Connection(), 0x2Au);

    // Autodial's failures are raised too.
    connection.SetAutoDial(true);
    EXPECT_CALL(api, InternetAutodial(_, _)).WillOnce(api.Fail(ERROR_INTERNET_DISCONNECTED));
    EXPECT_EQ(RaisedMessage([&] { connection.Dial(); }).rfind("Error 12163: ", 0), 0u);
    EXPECT_EQ(connection.Connection(), 0x2Au);
}

TEST(ConnectionTest, TheQuietCallsReportThroughTheirValueTheOthersRaise) {
    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    TINetConnection connection(nullptr);

    // The attempt: AttemptConnect answers, Connect raises.
    EXPECT_CALL(api, InternetAttemptConnect(0u))
        .WillOnce(Return(DWORD{ERROR_SUCCESS}))
        .WillOnce(Return(kNotConnected))
        .WillOnce(Return(DWORD{ERROR_SUCCESS}))
        .WillOnce(Return(kNotConnected));
    EXPECT_TRUE(connection.AttemptConnect());
    EXPECT_EQ(RaisedMessage([&] { EXPECT_FALSE(connection.AttemptConnect()); }), "<nothing raised>");
    EXPECT_EQ(RaisedMessage([&] { connection.Connect(); }), "<nothing raised>");
    EXPECT_EQ(RaisedMessage([&] { connection.Connect(); }).rfind("Error 2250: ", 0), 0u);

    // CheckConnection passes the force flag and never raises.
    EXPECT_CALL(api, InternetCheckConnectionW(WStrEq(u"http://h:1/"), FLAG_ICC_FORCE_CONNECTION, 0u))
        .WillOnce(Return(TRUE));
    EXPECT_CALL(api, InternetCheckConnectionW(WStrEq(u""), 0u, 0u)).WillOnce(api.Fail(kNotConnected));
    EXPECT_TRUE(connection.CheckConnection(u"http://h:1/", true));
    EXPECT_EQ(RaisedMessage([&] { EXPECT_FALSE(connection.CheckConnection(u"", false)); }),
              "<nothing raised>");

    // GoOnline goes through Check.
    EXPECT_CALL(api, InternetGoOnlineW(WStrEq(u"http://h/"), nullptr, 0u))
        .WillOnce(Return(TRUE))
        .WillOnce(api.Fail(ERROR_INTERNET_DISCONNECTED));
    connection.GoOnline(u"http://h/");
    EXPECT_EQ(RaisedMessage([&] { connection.GoOnline(u"http://h/"); }).rfind("Error 12163: ", 0), 0u);

    // The zone crossing: 8-bit texts byte for byte, no window, no posting;
    // success is true, a cancel false, anything else raises.
    const AnsiString previous = "http://h/caf\xe9";  // a byte that is no UTF-8
    const AnsiString next = "";
    std::vector<std::string> seen;
    const std::vector<DWORD> answers{ERROR_SUCCESS, ERROR_CANCELLED, kNotConnected};
    EXPECT_CALL(api, InternetConfirmZoneCrossingA(nullptr, _, _, FALSE))
        .Times(3)
        .WillRepeatedly([&](HWND, LPSTR from, LPSTR to, BOOL) {
            seen.push_back(std::string(from) + "|" + to);
            return answers[seen.size() - 1];
        });
    EXPECT_TRUE(connection.ConfirmZoneCrossing(previous, next));
    EXPECT_EQ(RaisedMessage([&] { EXPECT_FALSE(connection.ConfirmZoneCrossing(previous, next)); }),
              "<nothing raised>");
    EXPECT_EQ(RaisedMessage([&] { connection.ConfirmZoneCrossing(previous, next); }).rfind("Error 2250: ", 0),
              0u);
    EXPECT_EQ(seen, std::vector<std::string>(3, "http://h/caf\xe9|"));
}

TEST(ConnectionTest, FormFileStoresFlagsAlwaysAndNeverTheSystemsState) {
    testing::StrictMock<MockInternetApi> api;  // neither writing nor reading asks the system
    ScopedInternetApi use{api};
    TComponent root(nullptr);
    root.SetName(u"Form1");
    auto* plain = new TINetConnection(&root);
    plain->SetName(u"Plain");
    plain->SetAbout(u"other");
    EXPECT_EQ(U8(plain->About()).rfind("Version 4.4", 0), 0u);
    auto* full = new TINetConnection(&root);
    full->SetName(u"Full");
    full->SetAutoDial(true);
    full->SetConnectionName(u"Office 'VPN'");
    full->SetFlags({cfAutoDialForceOnline, cfDialShowOffline});

    const std::string form =
        "object Form1: TComponent\n"
        "  object Plain: TINetConnection\n"
        "    Flags = []\n"
        "  end\n"
        "  object Full: TINetConnection\n"
        "    AutoDial = True\n"
        "    ConnectionName = 'Office ''VPN'''\n"
        "    Flags = [cfAutoDialForceOnline, cfDialShowOffline]\n"
        "  end\n"
        "end\n";
    EXPECT_EQ(U8(Framework::ComponentToText(&root)), form);

    TComponent copy(nullptr);
    Framework::TextToComponent(Framework::Utf8ToUtf16(form), &copy);
    auto* back = dynamic_cast<TINetConnection*>(copy.FindComponent(u"Full"));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->AutoDial());
    EXPECT_EQ(U8(back->ConnectionName()), "Office 'VPN'");
    EXPECT_EQ(back->Flags().ToMask(), full->Flags().ToMask());
    EXPECT_EQ(back->Connection(), 0u);
}

}  // namespace
