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
    TTestUser(TComponent* AOwner, HINTERNET AHandle) : TINetHandle(AOwner), FNextHandle(AHandle) {}
    ~TTestUser() override { CloseOnDestroy(); }

    TCustomINetSession* Session() const { return FSession; }
    void SetSession(TCustomINetSession* Value) { SetSessionReference(FSession, Value); }

    using TINetHandle::Active;
    using TINetHandle::SetAfterClose;
    using TINetHandle::SetBeforeClose;
    using TINetHandle::SetOnError;

    /// False imitates a user whose FreeHandle never leaves the session.
    bool LeavesOnClose = true;

protected:
    HINTERNET CreateInternalHandle() override
    {
        TCustomINetSession* Target = FSession != nullptr ? FSession : GetDefaultSession();
        static_cast<TINetHandle*>(Target)->Open();
        return FNextHandle;
    }
    void CreateHandle() override
    {
        TINetHandle::CreateHandle();
        EnterSession(FSession);
    }
    void FreeHandle() override
    {
        TINetHandle::FreeHandle();
        if (LeavesOnClose)
            LeaveSession(FSession);
    }
    void Notification(TComponent* AComponent, Framework::TOperation Operation) override
    {
        TINetHandle::Notification(AComponent, Operation);
        SessionNotification(FSession, AComponent, Operation);
    }

private:
    HINTERNET FNextHandle;
    TCustomINetSession* FSession = nullptr;
};

class SessionTest : public testing::Test {
protected:
    SessionTest()
    {
        ON_CALL(api, InternetOpenW(_, _, _, _, _)).WillByDefault(Return(kSession));
        ON_CALL(api, InternetCloseHandle(_)).WillByDefault([this](HINTERNET H) {
            Log.push_back("close " + std::to_string(reinterpret_cast<std::uintptr_t>(H)));
            return TRUE;
        });
    }

    static std::string Closed(HINTERNET H) { return "close " + std::to_string(reinterpret_cast<std::uintptr_t>(H)); }

    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    std::vector<std::string> Log;
};

TEST_F(SessionTest, NewSessionHasTheDefaultSettings)
{
    TINetSession S(nullptr);
    EXPECT_EQ(S.AccessType(), atPreconfig);
    EXPECT_EQ(U8(S.Agent()), "Corvane");
    EXPECT_TRUE(S.Flags().Empty());
    EXPECT_EQ(S.ProxyName(), u"");
    EXPECT_EQ(S.ProxyBypass(), u"");
    EXPECT_FALSE(S.Active());
    EXPECT_EQ(S.Handle(), nullptr);
    // About is fixed: assigning it changes nothing.
    const UnicodeString About = S.About();
    EXPECT_EQ(U8(About).rfind("Version 4.4", 0), 0u);
    S.SetAbout(u"changed");
    EXPECT_EQ(S.About(), About);
}

TEST_F(SessionTest, OpenPassesEveryAccessTypeAndFlagCombination)
{
    const DWORD AccessValues[] = {INTERNET_OPEN_TYPE_DIRECT, INTERNET_OPEN_TYPE_PRECONFIG,
                                  INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, INTERNET_OPEN_TYPE_PROXY};
    const TSessionFlags FlagSets[] = {{}, {flOffline}, {flAsync}, {flOffline, flAsync}};
    const DWORD FlagValues[] = {0, INTERNET_FLAG_OFFLINE, INTERNET_FLAG_ASYNC,
                                INTERNET_FLAG_OFFLINE | INTERNET_FLAG_ASYNC};
    for (int Access = atDirect; Access <= atProxy; ++Access)
        for (int F = 0; F < 4; ++F) {
            TINetSession S(nullptr);
            S.SetAccessType(static_cast<TAccessType>(Access));
            S.SetFlags(FlagSets[F]);
            EXPECT_CALL(api, InternetOpenW(WStrEq(u"Corvane"), AccessValues[Access], IsNull(), IsNull(), FlagValues[F]))
                .WillOnce(Return(kSession));
            S.Open();
            S.Close();
            testing::Mock::VerifyAndClearExpectations(&api);
        }
}

TEST_F(SessionTest, EmptyAgentIsAnEmptyStringAndProxiesAreTheirTexts)
{
    TINetSession S(nullptr);
    S.SetAgent(u"");
    EXPECT_CALL(api, InternetOpenW(WStrEq(u""), _, IsNull(), IsNull(), _)).WillOnce(Return(kSession));
    S.Open();
    S.Close();

    S.SetAgent(u"Probe/2");
    S.SetAccessType(atProxy);
    S.SetProxyName(u"http=proxy:3128");
    S.SetProxyBypass(u"<local>");
    EXPECT_CALL(api, InternetOpenW(WStrEq(u"Probe/2"), DWORD{INTERNET_OPEN_TYPE_PROXY}, WStrEq(u"http=proxy:3128"),
                                   WStrEq(u"<local>"), 0u))
        .WillOnce(Return(kSession));
    S.Open();
}

TEST_F(SessionTest, SettingsChangeOnlyWhileClosed)
{
    {
        testing::StrictMock<MockInternetApi> strict;
        ScopedInternetApi useStrict(strict);
        TINetSession S(nullptr);
        S.SetAgent(u"Closed/1");  // no platform call at all
        EXPECT_EQ(S.Agent(), u"Closed/1");
        // A value no element stands for (only a cast makes one) is refused.
        EXPECT_EQ(RaisedMessage([&] { S.SetAccessType(static_cast<TAccessType>(atProxy + 1)); }),
                  "Invalid value 4 for TAccessType");
        EXPECT_EQ(S.AccessType(), atPreconfig);
    }

    TINetSession S(nullptr);
    S.Open();
    const std::vector<std::function<void()>> Setters = {
        [&] { S.SetAgent(u"Other"); },
        [&] { S.SetAccessType(atDirect); },
        [&] { S.SetFlags({flAsync}); },
        [&] { S.SetProxyName(u"proxy"); },
        [&] { S.SetProxyBypass(u"local"); },
    };
    for (const auto& Setter : Setters)
        EXPECT_EQ(RaisedMessage(Setter), "Can't perform this operation on an open session");
    EXPECT_EQ(S.Agent(), u"Corvane");
    EXPECT_EQ(S.AccessType(), atPreconfig);
    EXPECT_TRUE(S.Flags().Empty());
    EXPECT_EQ(S.ProxyName(), u"");
    EXPECT_EQ(S.ProxyBypass(), u"");

    // OnError sees the state error like any other.
    S.SetOnError([](TObject*, EINetError&, TINetAction& Action) { Action = iaAbort; });
    EXPECT_THROW(S.SetAgent(u"Other"), Framework::EAbort);
}

TEST_F(SessionTest, ClosingClosesTheUsersOldestFirst)
{
    TINetSession S(nullptr);
    TTestUser A(nullptr, FakeHandle(2));
    TTestUser B(nullptr, FakeHandle(3));
    A.SetSession(&S);
    B.SetSession(&S);
    A.SetAfterClose([&](TObject*) { Log.push_back("A closed"); });
    B.SetAfterClose([&](TObject*) { Log.push_back("B closed"); });

    A.Open();  // opens the session as well
    B.Open();
    EXPECT_TRUE(S.Active());
    S.Close();
    EXPECT_FALSE(A.Active());
    EXPECT_FALSE(B.Active());
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(2)), "A closed", Closed(FakeHandle(3)), "B closed",
                                             Closed(kSession)}));

    // The list is empty now: another round touches only a reopened user.
    Log.clear();
    B.Open();
    S.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(3)), "B closed", Closed(kSession)}));
}

TEST_F(SessionTest, AUserRefusingToCloseStopsTheSessionClose)
{
    TINetSession S(nullptr);
    TTestUser A(nullptr, FakeHandle(2));
    TTestUser B(nullptr, FakeHandle(3));
    TTestUser C(nullptr, FakeHandle(4));
    bool SessionAfterClose = false;
    S.SetAfterClose([&](TObject*) { SessionAfterClose = true; });
    for (TTestUser* U : {&A, &B, &C}) {
        U->SetSession(&S);
        U->Open();
    }
    B.SetBeforeClose([](TObject*) { throw Framework::Exception(u"busy"); });
    EXPECT_THROW(S.Close(), Framework::Exception);
    EXPECT_FALSE(A.Active());
    EXPECT_TRUE(B.Active());
    EXPECT_TRUE(C.Active());
    EXPECT_TRUE(S.Active());
    EXPECT_FALSE(SessionAfterClose);

    // Once B agrees, the same users are still listed and close in order.
    B.SetBeforeClose(nullptr);
    Log.clear();
    S.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(3)), Closed(FakeHandle(4)), Closed(kSession)}));
    EXPECT_TRUE(SessionAfterClose);
}

TEST_F(SessionTest, CloseLoopNeverHangsOnAUserThatStaysListed)
{
    TINetSession S(nullptr);
    TTestUser Stuck(nullptr, FakeHandle(2));
    TTestUser Other(nullptr, FakeHandle(3));
    Stuck.LeavesOnClose = false;
    for (TTestUser* U : {&Stuck, &Other}) {
        U->SetSession(&S);
        U->Open();
    }
    S.Close();
    EXPECT_FALSE(Other.Active());
    EXPECT_FALSE(S.Active());
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(2)), Closed(FakeHandle(3)), Closed(kSession)}));
}

TEST_F(SessionTest, UserWhoseReleaseFailedIsDroppedLater)
{
    TINetSession S(nullptr);
    auto* Failing = new TTestUser(nullptr, FakeHandle(2));
    TTestUser Other(nullptr, FakeHandle(3));
    for (TTestUser* U : {Failing, &Other}) {
        U->SetSession(&S);
        U->Open();
    }
    // The failing release clears the handle but skips the user's leaving.
    EXPECT_CALL(api, InternetCloseHandle(_)).Times(testing::AnyNumber());
    EXPECT_CALL(api, InternetCloseHandle(FakeHandle(2))).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_THROW(S.Close(), EINetError);
    EXPECT_FALSE(Failing->Active());
    EXPECT_TRUE(Other.Active());

    // Freed while still listed: the session forgets it, so its next close
    // touches only live users (AddressSanitizer would report the rest).
    delete Failing;
    Log.clear();
    S.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(3)), Closed(kSession)}));
}

TEST_F(SessionTest, SessionReferenceNeverDanglesAcrossOwners)
{
    auto* SessionOwner = new Framework::TComponent(nullptr);
    Framework::TComponent UserOwner(nullptr);
    auto* S = new TINetSession(SessionOwner);
    auto* Idle = new TTestUser(&UserOwner, FakeHandle(2));
    auto* Open = new TTestUser(&UserOwner, FakeHandle(3));
    Idle->SetSession(S);
    Open->SetSession(S);
    Open->Open();
    Open->SetAfterClose([&](TObject*) { Log.push_back("user closed"); });

    delete SessionOwner;  // frees the session, which closes its user first
    EXPECT_EQ(Idle->Session(), nullptr);
    EXPECT_EQ(Open->Session(), nullptr);
    EXPECT_FALSE(Open->Active());
    EXPECT_EQ(Log, (std::vector<std::string>{Closed(FakeHandle(3)), "user closed", Closed(kSession)}));
}

TEST_F(SessionTest, ReassigningTheSessionMovesTheReference)
{
    auto* First = new TINetSession(nullptr);
    TINetSession Second(nullptr);
    TTestUser U(nullptr, FakeHandle(2));
    U.SetSession(First);
    U.SetSession(&Second);
    delete First;  // no longer referenced: nothing changes
    EXPECT_EQ(U.Session(), &Second);

    U.Open();
    EXPECT_EQ(RaisedMessage([&] { U.SetSession(nullptr); }), "Can't perform this operation on an open session");
    EXPECT_EQ(U.Session(), &Second);
}

TEST_F(SessionTest, DefaultSessionIsCreatedOnceUnderRacingThreads)
{
    std::atomic<bool> Go{false};
    std::vector<TINetSession*> Seen(8, nullptr);
    std::vector<std::thread> Threads;
    for (size_t I = 0; I < Seen.size(); ++I)
        Threads.emplace_back([&, I] {
            while (!Go.load()) {
            }
            Seen[I] = GetDefaultSession();
        });
    Go = true;
    for (auto& T : Threads)
        T.join();
    TINetSession* Default = GetDefaultSession();
    ASSERT_NE(Default, nullptr);
    for (TINetSession* S : Seen)
        EXPECT_EQ(S, Default);
    EXPECT_EQ(Default->Owner(), nullptr);
    EXPECT_FALSE(Default->Active());
    EXPECT_EQ(U8(Default->Agent()), "Corvane");
}

TEST_F(SessionTest, UsersOfTheDefaultSessionAreNotListed)
{
    TTestUser U(nullptr, FakeHandle(2));
    U.Open();  // opens the default session through the mock
    TINetSession* Default = GetDefaultSession();
    EXPECT_TRUE(Default->Active());
    Default->Close();
    EXPECT_TRUE(U.Active());
    EXPECT_EQ(Log, std::vector<std::string>{Closed(kSession)});
}

}  // namespace
