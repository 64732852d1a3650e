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

DWORD_PTR ContextOf(TINetHandle& component) {
    return reinterpret_cast<DWORD_PTR>(&component);
}

class ConnectionTest : public HttpMockTest {};

TEST_F(ConnectionTest, NewComponentIsClosedWithEmptyRequestSettings) {
    TINetHttp http(nullptr);
    EXPECT_FALSE(http.Active());
    EXPECT_EQ(http.Handle(), nullptr);
    EXPECT_EQ(http.HttpHandle(), nullptr);
    EXPECT_EQ(http.Verb(), veNone);
    EXPECT_TRUE(http.Flags().Empty());
    EXPECT_TRUE(http.SecurityFlags().Empty());
    EXPECT_EQ(http.Version(), u"");
    EXPECT_EQ(http.Referer(), u"");
    EXPECT_EQ(http.Session(), nullptr);
    EXPECT_EQ(U8(http.ServerName()), "localhost");
    EXPECT_EQ(http.Port(), 80);
    EXPECT_EQ(U8(http.About()).rfind("Version 4.4", 0), 0u);
}

TEST_F(ConnectionTest, UrlAndItsPartsAreOneValue) {
    TINetHttp http(nullptr);
    http.SetUrl(u"http://ann:pw@example.com:8080/docs/a.txt?x=1#top");
    EXPECT_EQ(U8(http.Scheme()), "http");
    EXPECT_EQ(U8(http.ServerName()), "example.com");
    EXPECT_EQ(http.Port(), 8080);
    EXPECT_EQ(U8(http.UserName()), "ann");
    EXPECT_EQ(U8(http.Password()), "pw");
    EXPECT_EQ(U8(http.UrlPath()), "/docs/a.txt");
    EXPECT_EQ(U8(http.ExtraInfo()), "?x=1#top");

    http.SetPort(9090);
    EXPECT_EQ(U8(http.Url()), "http://ann:pw@example.com:9090/docs/a.txt?x=1#top");
    http.SetServerName(u"other.test");
    http.SetUserName(u"");
    http.SetPassword(u"");
    EXPECT_EQ(U8(http.Url()), "http://other.test:9090/docs/a.txt?x=1#top");
}

TEST_F(ConnectionTest, ConnectionSettingsAreRefusedWhileOpen) {
    TINetSession other(nullptr);
    TINetHttp http(nullptr);
    http.SetUrl(u"http://example.com/a?b");
    const UnicodeString url = http.Url();
    http.Open();

    const std::vector<std::function<void()>> setters = {
        [&] { http.SetUrl(u"http://other.test/"); },
        [&] { http.SetScheme(u"https"); },
        [&] { http.SetServerName(u"other.test"); },
        [&] { http.SetPort(81); },
        [&] { http.SetUserName(u"u"); },
        [&] { http.SetPassword(u"p"); },
        [&] { http.SetUrlPath(u"/other"); },
        [&] { http.SetExtraInfo(u"?other"); },
        [&] { http.SetSession(&other); },
    };
    for (const auto& setter : setters) EXPECT_EQ(RaisedMessage(setter), kOpenMessage);
    EXPECT_EQ(http.Url(), url);
    EXPECT_EQ(http.Port(), 80);
    EXPECT_EQ(http.Session(), nullptr);

    // Request settings apply to the next request and may change at any time.
    http.SetFlags({flReload});
    http.SetVerb(vePost);
    http.SetVersion(u"HTTP/1.0");
    http.SetReferer(u"http://ref/");
    EXPECT_EQ(http.Verb(), vePost);

    // The state error goes through OnError, which may turn it into an abort.
    http.SetOnError([](TObject*, EINetError&, TINetAction& action) { action = iaAbort; });
    EXPECT_THROW(http.SetUrl(u"http://x/"), Framework::EAbort);
}

TEST_F(ConnectionTest, OpenConnectsBeneathTheDefaultSessionWithoutListingIt) {
    TINetHttp http(nullptr);
    http.SetUrl(u"http://example.com:8081/");
    EXPECT_CALL(api, InternetSetStatusCallback(_, _)).Times(testing::AnyNumber());
    {
        InSequence order;
        EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(Return(kSession));
        EXPECT_CALL(api, InternetSetStatusCallback(kSession, NotNull()));
        EXPECT_CALL(api, InternetConnectW(kSession, WStrEq(u"example.com"), INTERNET_PORT{8081}, WStrEq(u""),
                                          WStrEq(u""), DWORD{INTERNET_SERVICE_HTTP}, 0u, ContextOf(http)))
            .WillOnce(Return(kConnection));
        EXPECT_CALL(api, InternetSetStatusCallback(kConnection, NotNull()));
    }
    http.Open();
    EXPECT_TRUE(http.Active());
    EXPECT_EQ(http.Handle(), kConnection);
    EXPECT_EQ(http.Session(), nullptr);

    // Not in the default session's list: closing that session leaves it open.
    GetDefaultSession()->Close();
    EXPECT_TRUE(http.Active());
    EXPECT_EQ(Log, std::vector<std::string>{Closed(kSession)});
}

TEST_F(ConnectionTest, OpeningBeneathAClosedSessionOpensItInBetween) {
    std::vector<std::string> events;
    TINetSession s(nullptr);
    TINetHttp http(nullptr);
    http.SetSession(&s);
    auto record = [&](const char* what) { return [&events, what](TObject*) { events.push_back(what); }; };
    http.SetBeforeOpen(record("http before"));
    http.SetAfterOpen(record("http after"));
    s.SetBeforeOpen(record("session before"));
    s.SetAfterOpen(record("session after"));
    http.Open();
    EXPECT_EQ(events,
              (std::vector<std::string>{"http before", "session before", "session after", "http after"}));
}

// The order in which a session closes its users shows its list: a component
// that closed and opened again stands behind those opened in between.
class SessionListTest : public ConnectionTest {
protected:
    SessionListTest() {
        for (TINetHttp* http : {&A, &B}) {
            http->SetSession(&S);
            http->SetBeforeClose([this, http](TObject*) { Log.push_back(http == &A ? "A" : "B"); });
        }
    }

    TINetSession S{nullptr};
    TINetHttp A{nullptr};
    TINetHttp B{nullptr};
};

TEST_F(SessionListTest, ComponentIsListedExactlyWhileOpen) {
    A.Open();
    B.Open();
    A.Close();
    A.Close();  // closed already: nothing
    A.Open();
    Log.clear();
    S.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{"B", Closed(kConnection), "A", Closed(kConnection),
                                             Closed(kSession)}));
}

TEST_F(SessionListTest, ClosingTheSessionClosesItsComponentsWithTheirRequests) {
    bool afterClose = false;
    A.SetAfterClose([&](TObject*) { afterClose = true; });
    A.Open();
    A.OpenRequest(u"GET", u"/");
    Log.clear();
    S.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{"A", Closed(kRequest), Closed(kConnection), Closed(kSession)}));
    EXPECT_TRUE(afterClose);
    EXPECT_FALSE(A.Active());
    EXPECT_EQ(A.HttpHandle(), nullptr);

    // Closed with the session, A reopens it when it opens again.
    A.Open();
    EXPECT_TRUE(S.Active());
}

TEST_F(SessionListTest, OpeningThatFailsIsNeverListed) {
    EXPECT_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _))
        .WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED))
        .WillOnce(Return(nullptr))  // no handle and no error recorded: nothing raised
        .WillRepeatedly(Return(kConnection));
    bool afterOpen = false;
    A.SetAfterOpen([&](TObject*) { afterOpen = true; });
    EXPECT_EQ(RaisedMessage([&] { A.Open(); }).rfind("Error 12007: ", 0), 0u);
    EXPECT_FALSE(A.Active());
    EXPECT_FALSE(afterOpen);
    EXPECT_TRUE(S.Active());  // opened on the way, and stays open

    A.Open();
    EXPECT_FALSE(A.Active());
    EXPECT_TRUE(afterOpen);
}

// Every way of ending up closed leaves the list. A stale entry would show
// once the component drops its Session (ending the link through which the
// session hears of its destruction) and is freed: the session's next close
// would touch freed memory, which AddressSanitizer reports.
TEST_F(ConnectionTest, EveryWayToClosedLeavesTheSessionsList) {
    TINetSession s(nullptr);
    const std::vector<std::pair<std::string, std::function<void(TINetHttp&)>>> routes = {
        {"closed",
         [](TINetHttp& h) {
             h.Open();
             h.Close();
         }},
        {"closing the connection failed",
         [this](TINetHttp& h) {
             h.Open();
             EXPECT_CALL(api, InternetCloseHandle(kConnection)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
             EXPECT_THROW(h.Close(), EINetError);
         }},
        {"connected without a handle or an error",
         [this](TINetHttp& h) {
             EXPECT_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _)).WillOnce(Return(nullptr));
             h.Open();
         }},
        {"connection refused",
         [this](TINetHttp& h) {
             EXPECT_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _))
                 .WillOnce(api.Fail(ERROR_INTERNET_CANNOT_CONNECT));
             EXPECT_THROW(h.Open(), EINetError);
         }},
        {"closed with a request open",
         [](TINetHttp& h) {
             h.Open();
             h.OpenRequest(u"GET", u"/");
             h.Close();
         }},
    };
    for (const auto& [Name, Route] : routes) {
        SCOPED_TRACE(Name);
        auto* http = new TINetHttp(nullptr);
        http->SetSession(&s);
        Route(*http);
        testing::Mock::VerifyAndClearExpectations(&api);
        EXPECT_FALSE(http->Active());
        http->SetSession(nullptr);
        delete http;
        Log.clear();
        s.Close();
        EXPECT_EQ(Log, std::vector<std::string>{Closed(kSession)});
    }
}

TEST_F(SessionListTest, SessionThatCannotOpenLeavesTheComponentClosed) {
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_INTERNAL_ERROR));
    EXPECT_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _)).Times(0);
    EXPECT_THROW(A.Open(), EINetError);
    EXPECT_FALSE(A.Active());
    EXPECT_FALSE(S.Active());
}

TEST_F(ConnectionTest, RemovalNoticeClearsSessionAndClosesNothing) {
    TComponent form(nullptr);
    auto* s = new TINetSession(&form);
    auto* http = new TINetHttp(&form);
    TINetHttp other(nullptr);
    http->SetSession(s);
    other.SetSession(s);
    http->Open();
    Log.clear();

    // Taken from the form: its siblings hear of the removal.
    form.RemoveComponent(s);
    EXPECT_EQ(http->Session(), nullptr);
    EXPECT_TRUE(http->Active());
    EXPECT_TRUE(Log.empty());

    http->Close();
    http->SetSession(s);
    other.Open();
    http->Open();
    std::vector<std::string> order;
    http->SetBeforeClose([&](TObject*) { order.push_back("Http"); });
    other.SetBeforeClose([&](TObject*) { order.push_back("Other"); });
    s->Close();
    EXPECT_EQ(order, (std::vector<std::string>{"Other", "Http"}));
    delete s;
}

// Changing owner is no close: a user moved to another form or released
// from its owner stays open on its session, which closes it first.
TEST_F(ConnectionTest, UserChangingOwnerStaysInTheSessionsList) {
    TComponent form(nullptr);
    TComponent otherForm(nullptr);
    auto* s = new TINetSession(&form);
    auto* moved = new TINetHttp(&form);
    auto* released = new TINetHttp(&form);
    for (TINetHttp* http : {moved, released}) {
        http->SetSession(s);
        http->Open();
        http->SetAfterClose(
            [this, http, moved](TObject*) { Log.push_back(http == moved ? "Moved" : "Released"); });
    }
    otherForm.InsertComponent(moved);
    form.RemoveComponent(released);
    Log.clear();
    s->Close();
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(kConnection), "Moved", Closed(kConnection), "Released",
                                             Closed(kSession)}));
    EXPECT_FALSE(moved->Active());
    EXPECT_FALSE(released->Active());
    delete released;
}

TEST_F(ConnectionTest, DestroyingClosesTheRequestThenTheConnection) {
    auto* http = new TINetHttp(nullptr);
    http->Open();
    http->OpenRequest(u"", u"");
    int closes = 0;
    http->SetAfterClose([&](TObject*) { ++closes; });
    Log.clear();
    delete http;
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(kRequest), Closed(kConnection)}));
    EXPECT_EQ(closes, 1);
}

TEST_F(ConnectionTest, EveryRequestFlagSetsExactlyItsBit) {
    const DWORD bits[] = {0x00010000, 0x00000400, 0x00001000, 0x00002000, 0x00008000, 0x00004000,
                          0x00400000, 0x00000010, 0x00040000, 0x00200000, 0x04000000, 0x00080000,
                          0x00000200, 0x00000100, 0x80000000, 0x00000800, 0x00800000};
    TINetHttp http(nullptr);
    http.Open();

    EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, 0u, _)).WillOnce(Return(kRequest));
    http.OpenRequest(u"", u"");

    THttpFlags all;
    DWORD allBits = 0;
    for (int flag = flCacheIfNetFail; flag <= flSecure; ++flag) {
        http.SetFlags({static_cast<THttpFlag>(flag)});
        EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, bits[flag], _)).WillOnce(Return(kRequest));
        http.OpenRequest(u"", u"");
        all.Include(static_cast<THttpFlag>(flag));
        allBits |= bits[flag];
    }
    http.SetFlags(all);
    EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, allBits, _)).WillOnce(Return(kRequest));
    http.OpenRequest(u"", u"");
}

TEST_F(ConnectionTest, SecurityFlagsAreStoredWithoutARequestAndAppliedToAnOpenOne) {
    const TSecurityFlags all{sfUnknownBit,
                             sf40Bit,
                             sf56Bit,
                             sf128Bit,
                             sfSecureTransfers,
                             sfIgnoreInvalidCN,
                             sfIgnoreInvalidDate,
                             sfIgnoreRedirectToHttp,
                             sfIgnoreRedirectToHttps,
                             sfIgnoreRevocation,
                             sfIgnoreUnknownCA,
                             sfIgnoreWrongUsage};
    TINetHttp http(nullptr);
    // Closed, no request: the stored set, no platform call, no state error.
    EXPECT_CALL(api, InternetQueryOptionW(_, _, _, _)).Times(0);
    EXPECT_CALL(api, InternetSetOptionW(_, _, _, _)).Times(0);
    http.SetSecurityFlags({sfIgnoreUnknownCA});
    EXPECT_EQ(http.SecurityFlags(), TSecurityFlags{sfIgnoreUnknownCA});
    testing::Mock::VerifyAndClearExpectations(&api);

    http.Open();
    http.SetSecurityFlags({});
    http.OpenRequest(u"", u"");

    // Reading asks the request; bits outside the table are dropped.
    EXPECT_CALL(api,
                InternetQueryOptionW(kRequest, DWORD{INTERNET_OPTION_SECURITY_FLAGS}, NotNull(), NotNull()))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, LPDWORD size) {
            EXPECT_EQ(*size, 4u);
            const DWORD word = 0x00000001 | 0x20000000 | 0x00000002 | 0x00000004;
            std::memcpy(buffer, &word, sizeof(word));
            return TRUE;
        })
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, LPDWORD) {
            const DWORD word = 0xFFFFFFFF;
            std::memcpy(buffer, &word, sizeof(word));
            return TRUE;
        })
        .WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_EQ(http.SecurityFlags(), (TSecurityFlags{sfSecureTransfers, sf128Bit}));
    EXPECT_EQ(http.SecurityFlags(), all);
    EXPECT_THROW(http.SecurityFlags(), EINetError);

    // Setting stores and applies at once.
    EXPECT_CALL(api, InternetSetOptionW(kRequest, DWORD{INTERNET_OPTION_SECURITY_FLAGS}, NotNull(), 4u))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, DWORD) {
            EXPECT_EQ(*static_cast<DWORD*>(buffer), 0xF000F381u);
            return TRUE;
        })
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, DWORD) {
            EXPECT_EQ(*static_cast<DWORD*>(buffer), 0x00000001u);
            return TRUE;
        });
    http.SetSecurityFlags(all);
    http.SetSecurityFlags({sfSecureTransfers});

    // Once the request is closed the stored set is what reads back.
    http.CloseRequest();
    EXPECT_EQ(http.SecurityFlags(), TSecurityFlags{sfSecureTransfers});
}

}  // namespace
