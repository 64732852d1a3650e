// The handle component base, driven through the session component against
// the mocked platform: life cycle and events, state errors through OnError,
// option access and status-callback dispatch.
#include "TestHelpers.h"

using namespace Corvane;
using namespace CorvaneTest;
using testing::_;
using testing::DoAll;
using testing::InSequence;
using testing::IsNull;
using testing::NotNull;
using testing::Pointee;
using testing::Return;
using testing::SetArgPointee;

namespace {

const HINTERNET kSession = FakeHandle(1);
const char* const kClosedMessage = "Can't perform this operation on a closed session";
const char* const kOpenMessage = "Can't perform this operation on an open session";

// A session that lets the tests reach the base class's protected members.
class TProbeSession : public TINetSession {
public:
    using TINetSession::TINetSession;
    using TINetHandle::CheckActive;
    using TINetHandle::CheckInactive;
    using TINetHandle::Context;
};

class HandleTest : public testing::Test {
protected:
    // Records each event with its sender in Log.
    void RecordEvents(TProbeSession& S)
    {
        auto Recorder = [this, &S](const char* Name) {
            return [this, &S, Name](TObject* Sender) {
                EXPECT_EQ(Sender, &S);
                Log.push_back(Name);
            };
        };
        S.SetBeforeOpen(Recorder("BeforeOpen"));
        S.SetAfterOpen(Recorder("AfterOpen"));
        S.SetBeforeClose(Recorder("BeforeClose"));
        S.SetAfterClose(Recorder("AfterClose"));
    }

    // Lets the session open with handle H and close successfully.
    void AllowOpenAndClose(HINTERNET H = kSession)
    {
        ON_CALL(api, InternetOpenW(_, _, _, _, _)).WillByDefault(Return(H));
        ON_CALL(api, InternetCloseHandle(H)).WillByDefault(Return(TRUE));
    }

    // Opens the session (with AllowOpenAndClose in place) and forgets the
    // calls made, so the test's expectations cover only what follows.
    void OpenQuietly(TProbeSession& S)
    {
        AllowOpenAndClose();
        S.Open();
        ASSERT_TRUE(S.Active());
    }

    auto LogCall(const char* Name)
    {
        return [this, Name](auto&&...) { Log.push_back(Name); };
    }

    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    std::vector<std::string> Log;
};

TEST_F(HandleTest, OpenAndCloseCallThePlatformBetweenTheEvents)
{
    TProbeSession S(nullptr);
    RecordEvents(S);
    {
        InSequence Order;
        EXPECT_CALL(api, SetLastError(0)).WillOnce(LogCall("SetLastError(0)"));
        EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(DoAll(LogCall("InternetOpenW"), Return(kSession)));
        EXPECT_CALL(api, InternetSetStatusCallback(kSession, &StatusCallback))
            .WillOnce(DoAll(LogCall("register"), Return(nullptr)));
        EXPECT_CALL(api, InternetSetStatusCallback(kSession, nullptr))
            .WillOnce(DoAll(LogCall("unregister"), Return(&StatusCallback)));
        EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(DoAll(LogCall("close"), Return(TRUE)));
    }
    S.Open();
    EXPECT_EQ(S.Handle(), kSession);
    EXPECT_TRUE(S.Active());
    S.Close();
    EXPECT_EQ(S.Handle(), nullptr);
    EXPECT_EQ(Log, (std::vector<std::string>{"BeforeOpen", "SetLastError(0)", "InternetOpenW", "register",
                                             "AfterOpen", "BeforeClose", "unregister", "close", "AfterClose"}));
}

TEST_F(HandleTest, OpenTwiceAndCloseWhenClosedDoNothing)
{
    TProbeSession S(nullptr);
    RecordEvents(S);
    S.Close();
    EXPECT_TRUE(Log.empty());

    AllowOpenAndClose();
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).Times(1);
    S.Open();
    S.Open();
    S.SetActive(true);
    EXPECT_CALL(api, InternetCloseHandle(kSession)).Times(1);
    S.SetActive(false);
    S.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose"}));
}

TEST_F(HandleTest, RaisingBeforeOpenOrBeforeCloseCancelsTheOperation)
{
    ShownExceptions Shown;
    {
        TProbeSession S(nullptr);
        RecordEvents(S);
        S.SetBeforeOpen([](TObject*) { throw Framework::Exception(u"refused"); });
        EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).Times(0);
        EXPECT_THROW(S.Open(), Framework::Exception);
        EXPECT_FALSE(S.Active());
        EXPECT_TRUE(Log.empty());
        testing::Mock::VerifyAndClearExpectations(&api);

        S.SetBeforeOpen(nullptr);
        OpenQuietly(S);
        S.SetBeforeClose([](TObject*) { throw Framework::Exception(u"refused"); });
        EXPECT_CALL(api, InternetCloseHandle(_)).Times(0);
        EXPECT_THROW(S.Close(), Framework::Exception);
        EXPECT_TRUE(S.Active());
        testing::Mock::VerifyAndClearExpectations(&api);

        // Destroying it anyway shows the refusal and still releases the
        // handle, so no callback can reach the freed component.
        InSequence Order;
        EXPECT_CALL(api, InternetSetStatusCallback(kSession, nullptr));
        EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(Return(TRUE));
    }
    EXPECT_EQ(Shown.Messages, std::vector<std::string>{"refused"});
}

TEST_F(HandleTest, NullHandleWithRecordedErrorRaisesAndRegistersNothing)
{
    TProbeSession S(nullptr);
    RecordEvents(S);
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED));
    EXPECT_CALL(api, InternetSetStatusCallback(_, _)).Times(0);
    EXPECT_THAT(RaisedMessage([&] { S.Open(); }), testing::StartsWith("Error 12007: "));
    EXPECT_FALSE(S.Active());
    EXPECT_EQ(Log, std::vector<std::string>{"BeforeOpen"});
    EXPECT_EQ(api.LastError(), 0u);
}

TEST_F(HandleTest, NullHandleWithoutRecordedErrorStaysClosedSilently)
{
    // A stale error from an earlier call must not be blamed on this open: the
    // last error is reset before the handle is created.
    api.SetMockLastError(ERROR_INTERNET_TIMEOUT);
    TProbeSession S(nullptr);
    RecordEvents(S);
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(Return(nullptr));
    EXPECT_CALL(api, InternetSetStatusCallback(_, _)).Times(0);
    EXPECT_NO_THROW(S.Open());
    EXPECT_FALSE(S.Active());
    EXPECT_EQ(Log, (std::vector<std::string>{"BeforeOpen", "AfterOpen"}));
}

TEST_F(HandleTest, FailingCloseStillClearsTheHandle)
{
    TProbeSession S(nullptr);
    OpenQuietly(S);
    RecordEvents(S);
    EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_THAT(RaisedMessage([&] { S.Close(); }), testing::StartsWith("Error 6: "));
    EXPECT_FALSE(S.Active());
    EXPECT_EQ(S.Handle(), nullptr);
    EXPECT_EQ(Log, std::vector<std::string>{"BeforeClose"});
    S.Close();  // already closed: nothing more happens
    EXPECT_EQ(Log, std::vector<std::string>{"BeforeClose"});
}

TEST_F(HandleTest, CloseInternetHandleClearsTheVariable)
{
    HINTERNET H = nullptr;
    EXPECT_CALL(api, InternetCloseHandle(_)).Times(0);
    EXPECT_TRUE(CloseInternetHandle(H));
    testing::Mock::VerifyAndClearExpectations(&api);

    H = kSession;
    EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseInternetHandle(H));
    EXPECT_EQ(H, nullptr);
}

TEST_F(HandleTest, DestroyingClosesWithEventsAndNeverThrows)
{
    ShownExceptions Shown;
    {
        TProbeSession S(nullptr);
        OpenQuietly(S);
        RecordEvents(S);
    }
    EXPECT_EQ(Log, (std::vector<std::string>{"BeforeClose", "AfterClose"}));
    EXPECT_TRUE(Shown.Messages.empty());

    // A close failing during destruction is shown, not thrown.
    Log.clear();
    {
        TProbeSession S(nullptr);
        OpenQuietly(S);
        RecordEvents(S);
        EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(Log, std::vector<std::string>{"BeforeClose"});
    ASSERT_EQ(Shown.Messages.size(), 1u);
    EXPECT_THAT(Shown.Messages[0], testing::StartsWith("Error 6: "));
}

TEST_F(HandleTest, DestroyingAClosedComponentMakesNoPlatformCall)
{
    testing::StrictMock<MockInternetApi> strict;
    ScopedInternetApi useStrict(strict);
    TProbeSession S(nullptr);
}

TEST_F(HandleTest, StateErrorsGoThroughOnError)
{
    TProbeSession S(nullptr);
    EXPECT_EQ(RaisedMessage([&] { S.CheckActive(); }), kClosedMessage);
    EXPECT_NO_THROW(S.CheckInactive());

    // iaAbort turns the error into the silent abort.
    S.SetOnError([&](TObject* Sender, EINetError& E, TINetAction& Action) {
        EXPECT_EQ(Sender, &S);
        EXPECT_EQ(U8(E.Message()), kClosedMessage);
        EXPECT_EQ(Action, iaFail);
        Action = iaAbort;
    });
    EXPECT_THROW(S.CheckActive(), Framework::EAbort);

    // The handler's object, with its changed message, is what propagates.
    const EINetError* Seen = nullptr;
    S.SetOnError([&](TObject*, EINetError& E, TINetAction&) {
        Seen = &E;
        E.SetMessage(u"session is closed");
    });
    try {
        S.CheckActive();
        ADD_FAILURE() << "nothing raised";
    } catch (const EINetError& E) {
        EXPECT_EQ(&E, Seen);
        EXPECT_EQ(U8(E.Message()), "session is closed");
        EXPECT_STREQ(E.what(), "session is closed");
    }

    // An exception of the handler's own replaces the error.
    S.SetOnError([](TObject*, EINetError&, TINetAction&) { throw std::runtime_error("handler"); });
    EXPECT_THROW(S.CheckActive(), std::runtime_error);

    S.SetOnError(nullptr);
    OpenQuietly(S);
    EXPECT_EQ(RaisedMessage([&] { S.CheckInactive(); }), kOpenMessage);
}

TEST_F(HandleTest, OptionsOnAClosedComponentRaiseWithoutPlatformCalls)
{
    TProbeSession S(nullptr);
    EXPECT_CALL(api, InternetQueryOptionW(_, _, _, _)).Times(0);
    EXPECT_CALL(api, InternetSetOptionW(_, _, _, _)).Times(0);
    Cardinal Size = 4;
    DWORD Value = 0;
    const std::vector<std::function<void()>> Operations = {
        [&] { S.GetInternetOption(INTERNET_OPTION_USER_AGENT); },
        [&] { S.SetInternetOption(INTERNET_OPTION_USER_AGENT, u"x"); },
        [&] { S.GetInternetOption(INTERNET_OPTION_CONNECT_TIMEOUT, &Value, Size); },
        [&] { S.SetInternetOption(INTERNET_OPTION_CONNECT_TIMEOUT, &Value, Size); },
        [&] { S.GetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT); },
        [&] { S.SetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT, 5); },
    };
    for (const auto& Operation : Operations)
        EXPECT_EQ(RaisedMessage(Operation), kClosedMessage);
}

TEST_F(HandleTest, StringOptionIsReadInTwoSteps)
{
    TProbeSession S(nullptr);
    OpenQuietly(S);
    InSequence Order;
    EXPECT_CALL(api, InternetQueryOptionW(kSession, DWORD{INTERNET_OPTION_USER_AGENT}, IsNull(), Pointee(0u)))
        .WillOnce(DoAll(SetArgPointee<3>(16u), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
    EXPECT_CALL(api, InternetQueryOptionW(kSession, DWORD{INTERNET_OPTION_USER_AGENT}, NotNull(), Pointee(16u)))
        .WillOnce([](HINTERNET, DWORD, LPVOID Buffer, LPDWORD) -> BOOL {
            std::memcpy(Buffer, u"Corvane", 16);
            return TRUE;
        });
    EXPECT_EQ(U8(S.GetInternetOption(INTERNET_OPTION_USER_AGENT)), "Corvane");
}

TEST_F(HandleTest, StringOptionWithoutTextGivesTheEmptyString)
{
    TProbeSession S(nullptr);
    OpenQuietly(S);
    // The first query succeeding, or reporting three bytes or less, ends the
    // read without a second query.
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, IsNull(), Pointee(0u))).WillOnce(Return(TRUE));
    EXPECT_EQ(S.GetInternetOption(41), u"");
    for (DWORD Reported : {0u, 2u, 3u}) {
        EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, _, _))
            .WillOnce(DoAll(SetArgPointee<3>(Reported), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
        EXPECT_EQ(S.GetInternetOption(41), u"") << Reported;
        testing::Mock::VerifyAndClearExpectations(&api);
    }
}

TEST_F(HandleTest, StringOptionFailuresRaise)
{
    TProbeSession S(nullptr);
    OpenQuietly(S);
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, IsNull(), _))
        .WillOnce(api.Fail(ERROR_INTERNET_INVALID_OPTION));
    EXPECT_THAT(RaisedMessage([&] { S.GetInternetOption(41); }), testing::StartsWith("Error 12009: "));

    InSequence Order;
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, IsNull(), _))
        .WillOnce(DoAll(SetArgPointee<3>(10u), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, NotNull(), Pointee(10u)))
        .WillOnce(api.Fail(ERROR_INTERNET_BAD_OPTION_LENGTH));
    EXPECT_THAT(RaisedMessage([&] { S.GetInternetOption(41); }), testing::StartsWith("Error 12010: "));
}

TEST_F(HandleTest, StringOptionIsSetInCharacters)
{
    TProbeSession S(nullptr);
    OpenQuietly(S);
    const UnicodeString Agent = u"Agent/1.0";
    EXPECT_CALL(api, InternetSetOptionW(kSession, DWORD{INTERNET_OPTION_USER_AGENT}, NotNull(), 9u))
        .WillOnce([](HINTERNET, DWORD, LPVOID Buffer, DWORD Length) -> BOOL {
            EXPECT_EQ(std::u16string(static_cast<const char16_t*>(Buffer), Length), u"Agent/1.0");
            return TRUE;
        });
    S.SetInternetOption(INTERNET_OPTION_USER_AGENT, Agent);

    EXPECT_CALL(api, InternetSetOptionW(kSession, DWORD{INTERNET_OPTION_USER_AGENT}, IsNull(), 0u))
        .WillOnce(Return(TRUE));
    S.SetInternetOption(INTERNET_OPTION_USER_AGENT, u"");

    EXPECT_CALL(api, InternetSetOptionW(_, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_OPTION_NOT_SETTABLE));
    EXPECT_THAT(RaisedMessage([&] { S.SetInternetOption(INTERNET_OPTION_USER_AGENT, u"x"); }),
                testing::StartsWith("Error 12011: "));
}

TEST_F(HandleTest, DWordOptionsUseFourBytes)
{
    TProbeSession S(nullptr);
    OpenQuietly(S);
    EXPECT_CALL(api, InternetQueryOptionW(kSession, DWORD{INTERNET_OPTION_CONNECT_TIMEOUT}, NotNull(), Pointee(4u)))
        .WillOnce([](HINTERNET, DWORD, LPVOID Buffer, LPDWORD) -> BOOL {
            *static_cast<DWORD*>(Buffer) = 60000;
            return TRUE;
        });
    EXPECT_EQ(S.GetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT), 60000u);

    EXPECT_CALL(api, InternetSetOptionW(kSession, DWORD{INTERNET_OPTION_RECEIVE_TIMEOUT}, NotNull(), 4u))
        .WillOnce([](HINTERNET, DWORD, LPVOID Buffer, DWORD) -> BOOL {
            EXPECT_EQ(*static_cast<DWORD*>(Buffer), 1234u);
            return TRUE;
        });
    S.SetInternetOptionDWord(INTERNET_OPTION_RECEIVE_TIMEOUT, 1234);

    // A failed query with no recorded error gives 0; with one, it raises.
    EXPECT_CALL(api, InternetQueryOptionW(_, _, _, _)).WillOnce(Return(FALSE));
    EXPECT_EQ(S.GetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT), 0u);
    EXPECT_CALL(api, InternetQueryOptionW(_, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE));
    EXPECT_THAT(RaisedMessage([&] { S.GetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT); }),
                testing::StartsWith("Error 12018: "));
}

TEST_F(HandleTest, RawOptionsPassTheCallersBuffer)
{
    TProbeSession S(nullptr);
    OpenQuietly(S);
    unsigned char Buffer[32] = {};
    Cardinal Size = sizeof(Buffer);
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 21u, static_cast<LPVOID>(Buffer), Pointee(32u)))
        .WillOnce(DoAll(SetArgPointee<3>(8u), Return(TRUE)));
    S.GetInternetOption(21, Buffer, Size);
    EXPECT_EQ(Size, 8u);

    // A buffer that is too small reports the size needed, then raises.
    Size = 2;
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 21u, static_cast<LPVOID>(Buffer), Pointee(2u)))
        .WillOnce(DoAll(SetArgPointee<3>(8u), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
    EXPECT_THAT(RaisedMessage([&] { S.GetInternetOption(21, Buffer, Size); }), testing::StartsWith("Error 122: "));
    EXPECT_EQ(Size, 8u);

    EXPECT_CALL(api, InternetSetOptionW(kSession, 21u, static_cast<LPVOID>(Buffer), 5u)).WillOnce(Return(TRUE));
    S.SetInternetOption(21, Buffer, 5);
}

TEST_F(HandleTest, StatusNotificationsReachOnCallback)
{
    TProbeSession S(nullptr);
    struct Received {
        TObject* Sender;
        Integer Status;
        void* Information;
        Integer Length;
    };
    std::vector<Received> Calls;
    S.SetOnCallback([&](TObject* Sender, Integer Status, void* Information, Integer Length) {
        Calls.push_back({Sender, Status, Information, Length});
    });
    int Data = 0;
    StatusCallback(nullptr, S.Context(), INTERNET_STATUS_HANDLE_CLOSING, &Data, sizeof(Data));
    // Context 0 names no component and is dropped.
    StatusCallback(nullptr, 0, INTERNET_STATUS_HANDLE_CLOSING, &Data, sizeof(Data));
    ASSERT_EQ(Calls.size(), 1u);
    EXPECT_EQ(Calls[0].Sender, &S);
    EXPECT_EQ(Calls[0].Status, INTERNET_STATUS_HANDLE_CLOSING);
    EXPECT_EQ(Calls[0].Information, &Data);
    EXPECT_EQ(Calls[0].Length, Integer{sizeof(Data)});
}

TEST_F(HandleTest, RaisingOnCallbackHandlerIsShownNotPropagated)
{
    ShownExceptions Shown;
    TProbeSession S(nullptr);
    S.SetOnCallback([](TObject*, Integer, void*, Integer) { throw EINetError(u"handler failed"); });
    EXPECT_NO_THROW(StatusCallback(nullptr, S.Context(), INTERNET_STATUS_RESOLVING_NAME, nullptr, 0));
    S.SetOnCallback([](TObject*, Integer, void*, Integer) { throw std::bad_alloc(); });
    EXPECT_NO_THROW(StatusCallback(nullptr, S.Context(), INTERNET_STATUS_RESOLVING_NAME, nullptr, 0));
    ASSERT_EQ(Shown.Messages.size(), 2u);
    EXPECT_EQ(Shown.Messages[0], "handler failed");
    EXPECT_EQ(Shown.Senders[0], &S);
}

}  // namespace
