// The HTTP component's connection against the mocked platform: its settings,
// InternetConnectW beneath the default or an assigned session, the session's
// list of users exactly while the component is open, failures on the way,
// and the request and security flag tables.
#include "HttpMock.h"

using namespace HttpUnit;
using testing::_;
using testing::InSequence;
using testing::IsNull;
using testing::NotNull;
using testing::Return;

namespace {

DWORD_PTR ContextOf(TINetHandle& Component) { return reinterpret_cast<DWORD_PTR>(&Component); }

class ConnectionTest : public HttpMockTest {};

TEST_F(ConnectionTest, NewComponentIsClosedWithEmptyRequestSettings)
{
    TINetHttp Http(nullptr);
    EXPECT_FALSE(Http.Active());
    EXPECT_EQ(Http.Handle(), nullptr);
    EXPECT_EQ(Http.HttpHandle(), nullptr);
    EXPECT_EQ(Http.Verb(), veNone);
    EXPECT_TRUE(Http.Flags().Empty());
    EXPECT_TRUE(Http.SecurityFlags().Empty());
    EXPECT_EQ(Http.Version(), u"");
    EXPECT_EQ(Http.Referer(), u"");
    EXPECT_EQ(Http.Session(), nullptr);
    EXPECT_EQ(U8(Http.ServerName()), "localhost");
    EXPECT_EQ(Http.Port(), 80);
    EXPECT_EQ(U8(Http.About()).rfind("Version 4.4", 0), 0u);
}

TEST_F(ConnectionTest, UrlAndItsPartsAreOneValue)
{
    TINetHttp Http(nullptr);
    Http.SetUrl(u"http://ann:pw@example.com:8080/docs/a.txt?x=1#top");
    EXPECT_EQ(U8(Http.Scheme()), "http");
    EXPECT_EQ(U8(Http.ServerName()), "example.com");
    EXPECT_EQ(Http.Port(), 8080);
    EXPECT_EQ(U8(Http.UserName()), "ann");
    EXPECT_EQ(U8(Http.Password()), "pw");
    EXPECT_EQ(U8(Http.UrlPath()), "/docs/a.txt");
    EXPECT_EQ(U8(Http.ExtraInfo()), "?x=1#top");

    Http.SetPort(9090);
    EXPECT_EQ(U8(Http.Url()), "http://ann:pw@example.com:9090/docs/a.txt?x=1#top");
    Http.SetServerName(u"other.test");
    Http.SetUserName(u"");
    Http.SetPassword(u"");
    EXPECT_EQ(U8(Http.Url()), "http://other.test:9090/docs/a.txt?x=1#top");
}

TEST_F(ConnectionTest, ConnectionSettingsAreRefusedWhileOpen)
{
    TINetSession Other(nullptr);
    TINetHttp Http(nullptr);
    Http.SetUrl(u"http://example.com/a?b");
    const UnicodeString Url = Http.Url();
    Http.Open();

    const std::vector<std::function<void()>> Setters = {
        [&] { Http.SetUrl(u"http://other.test/"); },  [&] { Http.SetScheme(u"https"); },
        [&] { Http.SetServerName(u"other.test"); },    [&] { Http.SetPort(81); },
        [&] { Http.SetUserName(u"u"); },               [&] { Http.SetPassword(u"p"); },
        [&] { Http.SetUrlPath(u"/other"); },           [&] { Http.SetExtraInfo(u"?other"); },
        [&] { Http.SetSession(&Other); },
    };
    for (const auto& Setter : Setters)
        EXPECT_EQ(RaisedMessage(Setter), kOpenMessage);
    EXPECT_EQ(Http.Url(), Url);
    EXPECT_EQ(Http.Port(), 80);
    EXPECT_EQ(Http.Session(), nullptr);

    // Request settings apply to the next request and may change at any time.
    Http.SetFlags({flReload});
    Http.SetVerb(vePost);
    Http.SetVersion(u"HTTP/1.0");
    Http.SetReferer(u"http://ref/");
    EXPECT_EQ(Http.Verb(), vePost);

    // The state error goes through OnError, which may turn it into an abort.
    Http.SetOnError([](TObject*, EINetError&, TINetAction& Action) { Action = iaAbort; });
    EXPECT_THROW(Http.SetUrl(u"http://x/"), Framework::EAbort);
}

TEST_F(ConnectionTest, OpenConnectsBeneathTheDefaultSessionWithoutListingIt)
{
    TINetHttp Http(nullptr);
    Http.SetUrl(u"http://example.com:8081/");
    EXPECT_CALL(api, InternetSetStatusCallback(_, _)).Times(testing::AnyNumber());
    {
        InSequence Order;
        EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(Return(kSession));
        EXPECT_CALL(api, InternetSetStatusCallback(kSession, NotNull()));
        EXPECT_CALL(api, InternetConnectW(kSession, WStrEq(u"example.com"), INTERNET_PORT{8081}, WStrEq(u""),
                                          WStrEq(u""), DWORD{INTERNET_SERVICE_HTTP}, 0u, ContextOf(Http)))
            .WillOnce(Return(kConnection));
        EXPECT_CALL(api, InternetSetStatusCallback(kConnection, NotNull()));
    }
    Http.Open();
    EXPECT_TRUE(Http.Active());
    EXPECT_EQ(Http.Handle(), kConnection);
    EXPECT_EQ(Http.Session(), nullptr);

    // Not in the default session's list: closing that session leaves it open.
    GetDefaultSession()->Close();
    EXPECT_TRUE(Http.Active());
    EXPECT_EQ(Log, std::vector<std::string>{Closed(kSession)});
}

TEST_F(ConnectionTest, OpeningBeneathAClosedSessionOpensItInBetween)
{
    std::vector<std::string> Events;
    TINetSession S(nullptr);
    TINetHttp Http(nullptr);
    Http.SetSession(&S);
    auto Record = [&](const char* What) { return [&Events, What](TObject*) { Events.push_back(What); }; };
    Http.SetBeforeOpen(Record("http before"));
    Http.SetAfterOpen(Record("http after"));
    S.SetBeforeOpen(Record("session before"));
    S.SetAfterOpen(Record("session after"));
    Http.Open();
    EXPECT_EQ(Events, (std::vector<std::string>{"http before", "session before", "session after", "http after"}));
}

// The order in which a session closes its users shows its list: a component
// that closed and opened again stands behind those opened in between.
class SessionListTest : public ConnectionTest {
protected:
    SessionListTest()
    {
        for (TINetHttp* Http : {&A, &B}) {
            Http->SetSession(&S);
            Http->SetBeforeClose([this, Http](TObject*) { Log.push_back(Http == &A ? "A" : "B"); });
        }
    }

    TINetSession S{nullptr};
    TINetHttp A{nullptr};
    TINetHttp B{nullptr};
};

TEST_F(SessionListTest, ComponentIsListedExactlyWhileOpen)
{
    A.Open();
    B.Open();
    A.Close();
    A.Close();  // closed already: nothing
    A.Open();
    Log.clear();
    S.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{"B", Closed(kConnection), "A", Closed(kConnection), Closed(kSession)}));
}

TEST_F(SessionListTest, ClosingTheSessionClosesItsComponentsWithTheirRequests)
{
    bool AfterClose = false;
    A.SetAfterClose([&](TObject*) { AfterClose = true; });
    A.Open();
    A.OpenRequest(u"GET", u"/");
    Log.clear();
    S.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{"A", Closed(kRequest), Closed(kConnection), Closed(kSession)}));
    EXPECT_TRUE(AfterClose);
    EXPECT_FALSE(A.Active());
    EXPECT_EQ(A.HttpHandle(), nullptr);

    // Closed with the session, A reopens it when it opens again.
    A.Open();
    EXPECT_TRUE(S.Active());
}

TEST_F(SessionListTest, OpeningThatFailsIsNeverListed)
{
    EXPECT_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _))
        .WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED))
        .WillOnce(Return(nullptr))  // no handle and no error recorded: nothing raised
        .WillRepeatedly(Return(kConnection));
    bool AfterOpen = false;
    A.SetAfterOpen([&](TObject*) { AfterOpen = true; });
    EXPECT_EQ(RaisedMessage([&] { A.Open(); }).rfind("Error 12007: ", 0), 0u);
    EXPECT_FALSE(A.Active());
    EXPECT_FALSE(AfterOpen);
    EXPECT_TRUE(S.Active());  // opened on the way, and stays open

    A.Open();
    EXPECT_FALSE(A.Active());
    EXPECT_TRUE(AfterOpen);
}

// Every way of ending up closed leaves the list. A stale entry would show
// once the component drops its Session (ending the link through which the
// session hears of its destruction) and is freed: the session's next close
// would touch freed memory, which AddressSanitizer reports.
TEST_F(ConnectionTest, EveryWayToClosedLeavesTheSessionsList)
{
    TINetSession S(nullptr);
    const std::vector<std::pair<std::string, std::function<void(TINetHttp&)>>> Routes = {
        {"closed", [](TINetHttp& H) {
             H.Open();
             H.Close();
         }},
        {"closing the connection failed", [this](TINetHttp& H) {
             H.Open();
             EXPECT_CALL(api, InternetCloseHandle(kConnection)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
             EXPECT_THROW(H.Close(), EINetError);
         }},
        {"connected without a handle or an error", [this](TINetHttp& H) {
             EXPECT_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _)).WillOnce(Return(nullptr));
             H.Open();
         }},
        {"connection refused", [this](TINetHttp& H) {
             EXPECT_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _))
                 .WillOnce(api.Fail(ERROR_INTERNET_CANNOT_CONNECT));
             EXPECT_THROW(H.Open(), EINetError);
         }},
        {"closed with a request open", [](TINetHttp& H) {
             H.Open();
             H.OpenRequest(u"GET", u"/");
             H.Close();
         }},
    };
    for (const auto& [Name, Route] : Routes) {
        SCOPED_TRACE(Name);
        auto* Http = new TINetHttp(nullptr);
        Http->SetSession(&S);
        Route(*Http);
        testing::Mock::VerifyAndClearExpectations(&api);
        EXPECT_FALSE(Http->Active());
        Http->SetSession(nullptr);
        delete Http;
        Log.clear();
        S.Close();
        EXPECT_EQ(Log, std::vector<std::string>{Closed(kSession)});
    }
}

TEST_F(SessionListTest, SessionThatCannotOpenLeavesTheComponentClosed)
{
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_INTERNAL_ERROR));
    EXPECT_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _)).Times(0);
    EXPECT_THROW(A.Open(), EINetError);
    EXPECT_FALSE(A.Active());
    EXPECT_FALSE(S.Active());
}

TEST_F(ConnectionTest, RemovalNoticeClearsSessionAndClosesNothing)
{
    TComponent Form(nullptr);
    auto* S = new TINetSession(&Form);
    auto* Http = new TINetHttp(&Form);
    TINetHttp Other(nullptr);
    Http->SetSession(S);
    Other.SetSession(S);
    Http->Open();
    Log.clear();

    // Taken from the form: its siblings hear of the removal.
    Form.RemoveComponent(S);
    EXPECT_EQ(Http->Session(), nullptr);
    EXPECT_TRUE(Http->Active());
    EXPECT_TRUE(Log.empty());

    Http->Close();
    Http->SetSession(S);
    Other.Open();
    Http->Open();
    std::vector<std::string> Order;
    Http->SetBeforeClose([&](TObject*) { Order.push_back("Http"); });
    Other.SetBeforeClose([&](TObject*) { Order.push_back("Other"); });
    S->Close();
    EXPECT_EQ(Order, (std::vector<std::string>{"Other", "Http"}));
    delete S;
}

// Changing owner is no close: a user moved to another form or released
// from its owner stays open on its session, which closes it first.
TEST_F(ConnectionTest, UserChangingOwnerStaysInTheSessionsList)
{
    TComponent Form(nullptr);
    TComponent OtherForm(nullptr);
    auto* S = new TINetSession(&Form);
    auto* Moved = new TINetHttp(&Form);
    auto* Released = new TINetHttp(&Form);
    for (TINetHttp* Http : {Moved, Released}) {
        Http->SetSession(S);
        Http->Open();
        Http->SetAfterClose([this, Http, Moved](TObject*) { Log.push_back(Http == Moved ? "Moved" : "Released"); });
    }
    OtherForm.InsertComponent(Moved);
    Form.RemoveComponent(Released);
    Log.clear();
    S->Close();
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(kConnection), "Moved", Closed(kConnection), "Released",
                                             Closed(kSession)}));
    EXPECT_FALSE(Moved->Active());
    EXPECT_FALSE(Released->Active());
    delete Released;
}

TEST_F(ConnectionTest, DestroyingClosesTheRequestThenTheConnection)
{
    auto* Http = new TINetHttp(nullptr);
    Http->Open();
    Http->OpenRequest(u"", u"");
    int Closes = 0;
    Http->SetAfterClose([&](TObject*) { ++Closes; });
    Log.clear();
    delete Http;
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(kRequest), Closed(kConnection)}));
    EXPECT_EQ(Closes, 1);
}

TEST_F(ConnectionTest, EveryRequestFlagSetsExactlyItsBit)
{
    const DWORD Bits[] = {0x00010000, 0x00000400, 0x00001000, 0x00002000, 0x00008000, 0x00004000,
                          0x00400000, 0x00000010, 0x00040000, 0x00200000, 0x04000000, 0x00080000,
                          0x00000200, 0x00000100, 0x80000000, 0x00000800, 0x00800000};
    TINetHttp Http(nullptr);
    Http.Open();

    EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, 0u, _)).WillOnce(Return(kRequest));
    Http.OpenRequest(u"", u"");

    THttpFlags All;
    DWORD AllBits = 0;
    for (int Flag = flCacheIfNetFail; Flag <= flSecure; ++Flag) {
        Http.SetFlags({static_cast<THttpFlag>(Flag)});
        EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, Bits[Flag], _)).WillOnce(Return(kRequest));
        Http.OpenRequest(u"", u"");
        All.Include(static_cast<THttpFlag>(Flag));
        AllBits |= Bits[Flag];
    }
    Http.SetFlags(All);
    EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, AllBits, _)).WillOnce(Return(kRequest));
    Http.OpenRequest(u"", u"");
}

TEST_F(ConnectionTest, SecurityFlagsAreStoredWithoutARequestAndAppliedToAnOpenOne)
{
    const TSecurityFlags All{sfUnknownBit,        sf40Bit,           sf56Bit,
                             sf128Bit,            sfSecureTransfers, sfIgnoreInvalidCN,
                             sfIgnoreInvalidDate, sfIgnoreRedirectToHttp, sfIgnoreRedirectToHttps,
                             sfIgnoreRevocation,  sfIgnoreUnknownCA, sfIgnoreWrongUsage};
    TINetHttp Http(nullptr);
    // Closed, no request: the stored set, no platform call, no state error.
    EXPECT_CALL(api, InternetQueryOptionW(_, _, _, _)).Times(0);
    EXPECT_CALL(api, InternetSetOptionW(_, _, _, _)).Times(0);
    Http.SetSecurityFlags({sfIgnoreUnknownCA});
    EXPECT_EQ(Http.SecurityFlags(), TSecurityFlags{sfIgnoreUnknownCA});
    testing::Mock::VerifyAndClearExpectations(&api);

    Http.Open();
    Http.SetSecurityFlags({});
    Http.OpenRequest(u"", u"");

    // Reading asks the request; bits outside the table are dropped.
    EXPECT_CALL(api, InternetQueryOptionW(kRequest, DWORD{INTERNET_OPTION_SECURITY_FLAGS}, NotNull(), NotNull()))
        .WillOnce([](HINTERNET, DWORD, LPVOID Buffer, LPDWORD Size) {
            EXPECT_EQ(*Size, 4u);
            const DWORD Word = 0x00000001 | 0x20000000 | 0x00000002 | 0x00000004;
            std::memcpy(Buffer, &Word, sizeof(Word));
            return TRUE;
        })
        .WillOnce([](HINTERNET, DWORD, LPVOID Buffer, LPDWORD) {
            const DWORD Word = 0xFFFFFFFF;
            std::memcpy(Buffer, &Word, sizeof(Word));
            return TRUE;
        })
        .WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_EQ(Http.SecurityFlags(), (TSecurityFlags{sfSecureTransfers, sf128Bit}));
    EXPECT_EQ(Http.SecurityFlags(), All);
    EXPECT_THROW(Http.SecurityFlags(), EINetError);

    // Setting stores and applies at once.
    EXPECT_CALL(api, InternetSetOptionW(kRequest, DWORD{INTERNET_OPTION_SECURITY_FLAGS}, NotNull(), 4u))
        .WillOnce([](HINTERNET, DWORD, LPVOID Buffer, DWORD) {
            EXPECT_EQ(*static_cast<DWORD*>(Buffer), 0xF000F381u);
            return TRUE;
        })
        .WillOnce([](HINTERNET, DWORD, LPVOID Buffer, DWORD) {
            EXPECT_EQ(*static_cast<DWORD*>(Buffer), 0x00000001u);
            return TRUE;
        });
    Http.SetSecurityFlags(All);
    Http.SetSecurityFlags({sfSecureTransfers});

    // Once the request is closed the stored set is what reads back.
    Http.CloseRequest();
    EXPECT_EQ(Http.SecurityFlags(), TSecurityFlags{sfSecureTransfers});
}

}  // namespace
