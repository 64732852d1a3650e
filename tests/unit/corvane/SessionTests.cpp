// The session component against the mocked platform: InternetOpenW's
// arguments, settings guarded while open, the users closed before the
// session, Session references across owners, and the default session.
#include "TestHelpers.h"

#include <atomic>
#include <thread>

using namespace Corvane;
using namespace CorvaneTest;
using testing::_;
using testing::DoAll;
using testing::InSequence;
using testing::IsNull;
using testing::Return;

namespace {

const HINTERNET kSession = FakeHandle(1);

// A component that connects through a session the way the HTTP and FTP
// components do, with a scripted handle instead of a connection.
class TTestUser : public TINetHandle {
public:
    TTestUser(TComponent* owner, HINTERNET handle) : TINetHandle(owner), FNextHandle(handle) {}
    ~TTestUser() override { CloseOnDestroy(); }

    TCustomINetSession* Session() const { return FSession; }
    void SetSession(TCustomINetSession* value) { SetSessionReference(FSession, value); }

    using TINetHandle::Active;
    using TINetHandle::SetAfterClose;
    using TINetHandle::SetBeforeClose;
    using TINetHandle::SetOnError;

    /// False imitates a user whose FreeHandle never leaves the session.
    bool LeavesOnClose = true;

protected:
    HINTERNET CreateInternalHandle() override {
        TCustomINetSession* target = FSession != nullptr ? FSession : GetDefaultSession();
        static_cast<TINetHandle*>(target)->Open();
        return FNextHandle;
    }
    void CreateHandle() override {
        TINetHandle::CreateHandle();
        EnterSession(FSession);
    }
    void FreeHandle() override {
        TINetHandle::FreeHandle();
        if (LeavesOnClose) LeaveSession(FSession);
    }
    void Notification(TComponent* component, Framework::TOperation operation) override {
        TINetHandle::Notification(component, operation);
        SessionNotification(FSession, component, operation);
    }

private:
    HINTERNET FNextHandle;
    TCustomINetSession* FSession = nullptr;
};

class SessionTest : public testing::Test {
protected:
    SessionTest() {
        ON_CALL(api, InternetOpenW(_, _, _, _, _)).WillByDefault(Return(kSession));
        ON_CALL(api, InternetCloseHandle(_)).WillByDefault([this](HINTERNET h) {
            Log.push_back("close " + std::to_string(reinterpret_cast<std::uintptr_t>(h)));
            return TRUE;
        });
    }

    static std::string Closed(HINTERNET h) {
        return "close " + std::to_string(reinterpret_cast<std::uintptr_t>(h));
    }

    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    std::vector<std::string> Log;
};

TEST_F(SessionTest, NewSessionHasTheDefaultSettings) {
    TINetSession s(nullptr);
    EXPECT_EQ(s.AccessType(), atPreconfig);
    EXPECT_EQ(U8(s.Agent()), "Corvane");
    EXPECT_TRUE(s.Flags().Empty());
    EXPECT_EQ(s.ProxyName(), u"");
    EXPECT_EQ(s.ProxyBypass(), u"");
    EXPECT_FALSE(s.Active());
    EXPECT_EQ(s.Handle(), nullptr);
    // About is fixed: assigning it changes nothing.
    const UnicodeString about = s.About();
    EXPECT_EQ(U8(about).rfind("Version 4.4", 0), 0u);
    s.SetAbout(u"changed");
    EXPECT_EQ(s.About(), about);
}

TEST_F(SessionTest, OpenPassesEveryAccessTypeAndFlagCombination) {
    const DWORD accessValues[] = {INTERNET_OPEN_TYPE_DIRECT, INTERNET_OPEN_TYPE_PRECONFIG,
                                  INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, INTERNET_OPEN_TYPE_PROXY};
    const TSessionFlags flagSets[] = {{}, {flOffline}, {flAsync}, {flOffline, flAsync}};
    const DWORD flagValues[] = {0, INTERNET_FLAG_OFFLINE, INTERNET_FLAG_ASYNC,
                                INTERNET_FLAG_OFFLINE | INTERNET_FLAG_ASYNC};
    for (int access = atDirect; access <= atProxy; ++access)
        for (int f = 0; f < 4; ++f) {
            TINetSession s(nullptr);
            s.SetAccessType(static_cast<TAccessType>(access));
            s.SetFlags(flagSets[f]);
            EXPECT_CALL(api, InternetOpenW(WStrEq(u"Corvane"), accessValues[access], IsNull(), IsNull(),
                                           flagValues[f]))
                .WillOnce(Return(kSession));
            s.Open();
            s.Close();
            testing::Mock::VerifyAndClearExpectations(&api);
        }
}

TEST_F(SessionTest, EmptyAgentIsAnEmptyStringAndProxiesAreTheirTexts) {
    TINetSession s(nullptr);
    s.SetAgent(u"");
    EXPECT_CALL(api, InternetOpenW(WStrEq(u""), _, IsNull(), IsNull(), _)).WillOnce(Return(kSession));
    s.Open();
    s.Close();

    s.SetAgent(u"Probe/2");
    s.SetAccessType(atProxy);
    s.SetProxyName(u"http=proxy:3128");
    s.SetProxyBypass(u"<local>");
    EXPECT_CALL(api, InternetOpenW(WStrEq(u"Probe/2"), DWORD{INTERNET_OPEN_TYPE_PROXY},
                                   WStrEq(u"http=proxy:3128"), WStrEq(u"<local>"), 0u))
        .WillOnce(Return(kSession));
    s.Open();
}

TEST_F(SessionTest, SettingsChangeOnlyWhileClosed) {
    {
        testing::StrictMock<MockInternetApi> strict;
        ScopedInternetApi useStrict(strict);
        TINetSession s(nullptr);
        s.SetAgent(u"Closed/1");  // no platform call at all
        EXPECT_EQ(s.Agent(), u"Closed/1");
        // A value no element stands for (only a cast makes one) is refused.
        EXPECT_EQ(RaisedMessage([&] { s.SetAccessType(static_cast<TAccessType>(atProxy + 1)); }),
                  "Invalid value 4 for TAccessType");
        EXPECT_EQ(s.AccessType(), atPreconfig);
    }

    TINetSession s(nullptr);
    s.Open();
    const std::vector<std::function<void()>> setters = {
        [&] { s.SetAgent(u"Other"); },       [&] { s.SetAccessType(atDirect); },
        [&] { s.SetFlags({flAsync}); },      [&] { s.SetProxyName(u"proxy"); },
        [&] { s.SetProxyBypass(u"local"); },
    };
    for (const auto& setter : setters)
        EXPECT_EQ(RaisedMessage(setter), "Can't perform this operation on an open session");
    EXPECT_EQ(s.Agent(), u"Corvane");
    EXPECT_EQ(s.AccessType(), atPreconfig);
    EXPECT_TRUE(s.Flags().Empty());
    EXPECT_EQ(s.ProxyName(), u"");
    EXPECT_EQ(s.ProxyBypass(), u"");

    // OnError sees the state error like any other.
    s.SetOnError([](TObject*, EINetError&, TINetAction& action) { action = iaAbort; });
    EXPECT_THROW(s.SetAgent(u"Other"), Framework::EAbort);
}

TEST_F(SessionTest, ClosingClosesTheUsersOldestFirst) {
    TINetSession s(nullptr);
    TTestUser a(nullptr, FakeHandle(2));
    TTestUser b(nullptr, FakeHandle(3));
    a.SetSession(&s);
    b.SetSession(&s);
    a.SetAfterClose([&](TObject*) { Log.push_back("A closed"); });
    b.SetAfterClose([&](TObject*) { Log.push_back("B closed"); });

    a.Open();  // opens the session as well
    b.Open();
    EXPECT_TRUE(s.Active());
    s.Close();
    EXPECT_FALSE(a.Active());
    EXPECT_FALSE(b.Active());
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(2)), "A closed", Closed(FakeHandle(3)),
                                             "B closed", Closed(kSession)}));

    // The list is empty now: another round touches only a reopened user.
    Log.clear();
    b.Open();
    s.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(3)), "B closed", Closed(kSession)}));
}

TEST_F(SessionTest, AUserRefusingToCloseStopsTheSessionClose) {
    TINetSession s(nullptr);
    TTestUser a(nullptr, FakeHandle(2));
    TTestUser b(nullptr, FakeHandle(3));
    TTestUser c(nullptr, FakeHandle(4));
    bool sessionAfterClose = false;
    s.SetAfterClose([&](TObject*) { sessionAfterClose = true; });
    for (TTestUser* u : {&a, &b, &c}) {
        u->SetSession(&s);
        u->Open();
    }
    b.SetBeforeClose([](TObject*) { throw Framework::Exception(u"busy"); });
    EXPECT_THROW(s.Close(), Framework::Exception);
    EXPECT_FALSE(a.Active());
    EXPECT_TRUE(b.Active());
    EXPECT_TRUE(c.Active());
    EXPECT_TRUE(s.Active());
    EXPECT_FALSE(sessionAfterClose);

    // Once B agrees, the same users are still listed and close in order.
    b.SetBeforeClose(nullptr);
    Log.clear();
    s.Close();
    EXPECT_EQ(Log,
              (std::vector<std::string>{Closed(FakeHandle(3)), Closed(FakeHandle(4)), Closed(kSession)}));
    EXPECT_TRUE(sessionAfterClose);
}

TEST_F(SessionTest, CloseLoopNeverHangsOnAUserThatStaysListed) {
    TINetSession s(nullptr);
    TTestUser stuck(nullptr, FakeHandle(2));
    TTestUser other(nullptr, FakeHandle(3));
    stuck.LeavesOnClose = false;
    for (TTestUser* u : {&stuck, &other}) {
        u->SetSession(&s);
        u->Open();
    }
    s.Close();
    EXPECT_FALSE(other.Active());
    EXPECT_FALSE(s.Active());
    EXPECT_EQ(Log,
              (std::vector<std::string>{Closed(FakeHandle(2)), Closed(FakeHandle(3)), Closed(kSession)}));
}

TEST_F(SessionTest, UserWhoseReleaseFailedIsDroppedLater) {
    TINetSession s(nullptr);
    auto* failing = new TTestUser(nullptr, FakeHandle(2));
    TTestUser other(nullptr, FakeHandle(3));
    for (TTestUser* u : {failing, &other}) {
        u->SetSession(&s);
        u->Open();
    }
    // The failing release clears the handle but skips the user's leaving.
    EXPECT_CALL(api, InternetCloseHandle(_)).Times(testing::AnyNumber());
    EXPECT_CALL(api, InternetCloseHandle(FakeHandle(2))).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_THROW(s.Close(), EINetError);
    EXPECT_FALSE(failing->Active());
    EXPECT_TRUE(other.Active());

    // Freed while still listed: the session forgets it, so its next close
    // touches only live users (AddressSanitizer would report the rest).
    delete failing;
    Log.clear();
    s.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(3)), Closed(kSession)}));
}

TEST_F(SessionTest, SessionReferenceNeverDanglesAcrossOwners) {
    auto* sessionOwner = new Framework::TComponent(nullptr);
    Framework::TComponent userOwner(nullptr);
    auto* s = new TINetSession(sessionOwner);
    auto* idle = new TTestUser(&userOwner, FakeHandle(2));
    auto* open = new TTestUser(&userOwner, FakeHandle(3));
    idle->SetSession(s);
    open->SetSession(s);
    open->Open();
    open->SetAfterClose([&](TObject*) { Log.push_back("user closed"); });

    delete sessionOwner;  // frees the session, which closes its user first
    EXPECT_EQ(idle->Session(), nullptr);
    EXPECT_EQ(open->Session(), nullptr);
    EXPECT_FALSE(open->Active());
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(3)), "user closed", Closed(kSession)}));
}

TEST_F(SessionTest, ReassigningTheSessionMovesTheReference) {
    auto* first = new TINetSession(nullptr);
    TINetSession second(nullptr);
    TTestUser u(nullptr, FakeHandle(2));
    u.SetSession(first);
    u.SetSession(&second);
    delete first;  // no longer referenced: nothing changes
    EXPECT_EQ(u.Session(), &second);

    u.Open();
    EXPECT_EQ(RaisedMessage([&] { u.SetSession(nullptr); }),
              "Can't perform this operation on an open session");
    EXPECT_EQ(u.Session(), &second);
}

TEST_F(SessionTest, DefaultSessionIsCreatedOnceUnderRacingThreads) {
    std::atomic<bool> go{false};
    std::vector<TINetSession*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] {
            while (!go.load()) {}
            seen[i] = GetDefaultSession();
        });
    go = true;
    for (auto& t : threads) t.join();
    TINetSession* defaultSession = GetDefaultSession();
    ASSERT_NE(defaultSession, nullptr);
    for (TINetSession* s : seen) EXPECT_EQ(s, defaultSession);
    EXPECT_EQ(defaultSession->Owner(), nullptr);
    EXPECT_FALSE(defaultSession->Active());
    EXPECT_EQ(U8(defaultSession->Agent()), "Corvane");
}

TEST_F(SessionTest, UsersOfTheDefaultSessionAreNotListed) {
    TTestUser u(nullptr, FakeHandle(2));
    u.Open();  // opens the default session through the mock
    TINetSession* defaultSession = GetDefaultSession();
    EXPECT_TRUE(defaultSession->Active());
    defaultSession->Close();
    EXPECT_TRUE(u.Active());
    EXPECT_EQ(Log, std::vector<std::string>{Closed(kSession)});
}

}  // namespace
