// The handle component base, driven through the session component against
// the mocked platform: life cycle and events, state errors through OnError,
// option access and status-callback dispatch.
#include "TestHelpers.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

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
    using TINetHandle::CheckActive;
    using TINetHandle::CheckInactive;
    using TINetHandle::Context;
    using TINetSession::TINetSession;
};

class HandleTest : public testing::Test {
protected:
    // Records each event with its sender in Log.
    void RecordEvents(TProbeSession& s) {
        auto recorder = [this, &s](const char* name) {
            return [this, &s, name](TObject* sender) {
                EXPECT_EQ(sender, &s);
                Log.push_back(name);
            };
        };
        s.SetBeforeOpen(recorder("BeforeOpen"));
        s.SetAfterOpen(recorder("AfterOpen"));
        s.SetBeforeClose(recorder("BeforeClose"));
        s.SetAfterClose(recorder("AfterClose"));
    }

    // Lets the session open with handle H and close successfully.
    void AllowOpenAndClose(HINTERNET h = kSession) {
        ON_CALL(api, InternetOpenW(_, _, _, _, _)).WillByDefault(Return(h));
        ON_CALL(api, InternetCloseHandle(h)).WillByDefault(Return(TRUE));
    }

    // Opens the session (with AllowOpenAndClose in place) and forgets the
    // calls made, so the test's expectations cover only what follows.
    void OpenQuietly(TProbeSession& s) {
        AllowOpenAndClose();
        s.Open();
        ASSERT_TRUE(s.Active());
    }

    auto LogCall(const char* name) {
        return [this, name](auto&&...) { Log.push_back(name); };
    }

    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    std::vector<std::string> Log;
};

TEST_F(HandleTest, OpenAndCloseCallThePlatformBetweenTheEvents) {
    TProbeSession s(nullptr);
    RecordEvents(s);
    {
        InSequence order;
        EXPECT_CALL(api, SetLastError(0)).WillOnce(LogCall("SetLastError(0)"));
        EXPECT_CALL(api, InternetOpenW(_, _, _, _, _))
            .WillOnce(DoAll(LogCall("InternetOpenW"), Return(kSession)));
        EXPECT_CALL(api, InternetSetStatusCallback(kSession, &StatusCallback))
            .WillOnce(DoAll(LogCall("register"), Return(nullptr)));
        EXPECT_CALL(api, InternetSetStatusCallback(kSession, nullptr))
            .WillOnce(DoAll(LogCall("unregister"), Return(&StatusCallback)));
        EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(DoAll(LogCall("close"), Return(TRUE)));
    }
    s.Open();
    EXPECT_EQ(s.Handle(), kSession);
    EXPECT_TRUE(s.Active());
    s.Close();
    EXPECT_EQ(s.Handle(), nullptr);
    EXPECT_EQ(Log,
              (std::vector<std::string>{"BeforeOpen", "SetLastError(0)", "InternetOpenW", "register",
                                        "AfterOpen", "BeforeClose", "unregister", "close", "AfterClose"}));
}

TEST_F(HandleTest, OpenTwiceAndCloseWhenClosedDoNothing) {
    TProbeSession s(nullptr);
    RecordEvents(s);
    s.Close();
    EXPECT_TRUE(Log.empty());

    AllowOpenAndClose();
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).Times(1);
    s.Open();
    s.Open();
    s.SetActive(true);
    EXPECT_CALL(api, InternetCloseHandle(kSession)).Times(1);
    s.SetActive(false);
    s.Close();
    EXPECT_EQ(Log, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose"}));
}

TEST_F(HandleTest, RaisingBeforeOpenOrBeforeCloseCancelsTheOperation) {
    ShownExceptions shown;
    {
        TProbeSession s(nullptr);
        RecordEvents(s);
        s.SetBeforeOpen([](TObject*) { throw Framework::Exception(u"refused"); });
        EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).Times(0);
        EXPECT_THROW(s.Open(), Framework::Exception);
        EXPECT_FALSE(s.Active());
        EXPECT_TRUE(Log.empty());
        testing::Mock::VerifyAndClearExpectations(&api);

        s.SetBeforeOpen(nullptr);
        OpenQuietly(s);
        s.SetBeforeClose([](TObject*) { throw Framework::Exception(u"refused"); });
        EXPECT_CALL(api, InternetCloseHandle(_)).Times(0);
        EXPECT_THROW(s.Close(), Framework::Exception);
        EXPECT_TRUE(s.Active());
        testing::Mock::VerifyAndClearExpectations(&api);

        // Destroying it anyway shows the refusal and still releases the
        // handle, so no callback can reach the freed component.
        InSequence order;
        EXPECT_CALL(api, InternetSetStatusCallback(kSession, nullptr));
        EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(Return(TRUE));
    }
    EXPECT_EQ(shown.Messages, std::vector<std::string>{"refused"});
}

TEST_F(HandleTest, NullHandleWithRecordedErrorRaisesAndRegistersNothing) {
    TProbeSession s(nullptr);
    RecordEvents(s);
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED));
    EXPECT_CALL(api, InternetSetStatusCallback(_, _)).Times(0);
    EXPECT_THAT(RaisedMessage([&] { s.Open(); }), testing::StartsWith("Error 12007: "));
    EXPECT_FALSE(s.Active());
    EXPECT_EQ(Log, std::vector<std::string>{"BeforeOpen"});
    EXPECT_EQ(api.LastError(), 0u);
}

TEST_F(HandleTest, NullHandleWithoutRecordedErrorStaysClosedSilently) {
    // A stale error from an earlier call must not be blamed on this open: the
    // last error is reset before the handle is created.
    api.SetMockLastError(ERROR_INTERNET_TIMEOUT);
    TProbeSession s(nullptr);
    RecordEvents(s);
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(Return(nullptr));
    EXPECT_CALL(api, InternetSetStatusCallback(_, _)).Times(0);
    EXPECT_NO_THROW(s.Open());
    EXPECT_FALSE(s.Active());
    EXPECT_EQ(Log, (std::vector<std::string>{"BeforeOpen", "AfterOpen"}));
}

TEST_F(HandleTest, FailingCloseStillClearsTheHandle) {
    TProbeSession s(nullptr);
    OpenQuietly(s);
    RecordEvents(s);
    EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_THAT(RaisedMessage([&] { s.Close(); }), testing::StartsWith("Error 6: "));
    EXPECT_FALSE(s.Active());
    EXPECT_EQ(s.Handle(), nullptr);
    EXPECT_EQ(Log, std::vector<std::string>{"BeforeClose"});
    s.Close();  // already closed: nothing more happens
    EXPECT_EQ(Log, std::vector<std::string>{"BeforeClose"});
}

TEST_F(HandleTest, CloseInternetHandleClearsTheVariable) {
    HINTERNET h = nullptr;
    EXPECT_CALL(api, InternetCloseHandle(_)).Times(0);
    EXPECT_TRUE(CloseInternetHandle(h));
    testing::Mock::VerifyAndClearExpectations(&api);

    h = kSession;
    EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseInternetHandle(h));
    EXPECT_EQ(h, nullptr);
}

TEST_F(HandleTest, DestroyingClosesWithEventsAndNeverThrows) {
    ShownExceptions shown;
    {
        TProbeSession s(nullptr);
        OpenQuietly(s);
        RecordEvents(s);
    }
    EXPECT_EQ(Log, (std::vector<std::string>{"BeforeClose", "AfterClose"}));
    EXPECT_TRUE(shown.Messages.empty());

    // A close failing during destruction is shown, not thrown.
    Log.clear();
    {
        TProbeSession s(nullptr);
        OpenQuietly(s);
        RecordEvents(s);
        EXPECT_CALL(api, InternetCloseHandle(kSession)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(Log, std::vector<std::string>{"BeforeClose"});
    ASSERT_EQ(shown.Messages.size(), 1u);
    EXPECT_THAT(shown.Messages[0], testing::StartsWith("Error 6: "));
}

TEST_F(HandleTest, DestroyingAClosedComponentMakesNoPlatformCall) {
    testing::StrictMock<MockInternetApi> strict;
    ScopedInternetApi useStrict(strict);
    TProbeSession s(nullptr);
}

TEST_F(HandleTest, StateErrorsGoThroughOnError) {
    TProbeSession s(nullptr);
    EXPECT_EQ(RaisedMessage([&] { s.CheckActive(); }), kClosedMessage);
    EXPECT_NO_THROW(s.CheckInactive());

    // iaAbort turns the error into the silent abort.
    s.SetOnError([&](TObject* sender, EINetError& e, TINetAction& action) {
        EXPECT_EQ(sender, &s);
        EXPECT_EQ(U8(e.Message()), kClosedMessage);
        EXPECT_EQ(action, iaFail);
        action = iaAbort;
    });
    EXPECT_THROW(s.CheckActive(), Framework::EAbort);

    // The handler's object, with its changed message, is what propagates.
    const EINetError* seen = nullptr;
    s.SetOnError([&](TObject*, EINetError& e, TINetAction&) {
        seen = &e;
        e.SetMessage(u"session is closed");
    });
    try {
        s.CheckActive();
        ADD_FAILURE() << "nothing raised";
    } catch (const EINetError& e) {
        EXPECT_EQ(&e, seen);
        EXPECT_EQ(U8(e.Message()), "session is closed");
        EXPECT_STREQ(e.what(), "session is closed");
    }

    // An exception of the handler's own replaces the error.
    s.SetOnError([](TObject*, EINetError&, TINetAction&) { throw std::runtime_error("handler"); });
    EXPECT_THROW(s.CheckActive(), std::runtime_error);

    s.SetOnError(nullptr);
    OpenQuietly(s);
    EXPECT_EQ(RaisedMessage([&] { s.CheckInactive(); }), kOpenMessage);
}

TEST_F(HandleTest, OptionsOnAClosedComponentRaiseWithoutPlatformCalls) {
    TProbeSession S(nullptr);
    EXPECT_CALL(api, InternetQueryOptionW(_, _, _, _)).Times(0);
    EXPECT_CALL(api, InternetSetOptionW(_, _, _, _)).Times(0);
    Cardinal size = 4;
    DWORD value = 0;
    const std::vector<std::function<void()>> operations = {
        [&] { S.GetInternetOption(INTERNET_OPTION_USER_AGENT); },
        [&] { S.SetInternetOption(INTERNET_OPTION_USER_AGENT, u"x"); },
        [&] { S.GetInternetOption(INTERNET_OPTION_CONNECT_TIMEOUT, &value, size); },
        [&] { S.SetInternetOption(INTERNET_OPTION_CONNECT_TIMEOUT, &value, size); },
        [&] { S.GetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT); },
        [&] { S.SetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT, 5); },
    };
    for (const auto& operation : operations) EXPECT_EQ(RaisedMessage(operation), kClosedMessage);
}

TEST_F(HandleTest, StringOptionIsReadInTwoSteps) {
    TProbeSession s(nullptr);
    OpenQuietly(s);
    InSequence order;
    EXPECT_CALL(api, InternetQueryOptionW(kSession, DWORD{INTERNET_OPTION_USER_AGENT}, IsNull(), Pointee(0u)))
        .WillOnce(DoAll(SetArgPointee<3>(16u), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
    EXPECT_CALL(api,
                InternetQueryOptionW(kSession, DWORD{INTERNET_OPTION_USER_AGENT}, NotNull(), Pointee(16u)))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, LPDWORD) -> BOOL {
            std::memcpy(buffer, u"Corvane", 16);
            return TRUE;
        });
    EXPECT_EQ(U8(s.GetInternetOption(INTERNET_OPTION_USER_AGENT)), "Corvane");
}

TEST_F(HandleTest, StringOptionWithoutTextGivesTheEmptyString) {
    TProbeSession s(nullptr);
    OpenQuietly(s);
    // The first query succeeding, or reporting three bytes or less, ends the
    // read without a second query.
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, IsNull(), Pointee(0u))).WillOnce(Return(TRUE));
    EXPECT_EQ(s.GetInternetOption(41), u"");
    for (DWORD reported : {0u, 2u, 3u}) {
        EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, _, _))
            .WillOnce(DoAll(SetArgPointee<3>(reported), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
        EXPECT_EQ(s.GetInternetOption(41), u"") << reported;
        testing::Mock::VerifyAndClearExpectations(&api);
    }
}

TEST_F(HandleTest, StringOptionFailuresRaise) {
    TProbeSession s(nullptr);
    OpenQuietly(s);
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, IsNull(), _))
        .WillOnce(api.Fail(ERROR_INTERNET_INVALID_OPTION));
    EXPECT_THAT(RaisedMessage([&] { s.GetInternetOption(41); }), testing::StartsWith("Error 12009: "));

    InSequence order;
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, IsNull(), _))
        .WillOnce(DoAll(SetArgPointee<3>(10u), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 41u, NotNull(), Pointee(10u)))
        .WillOnce(api.Fail(ERROR_INTERNET_BAD_OPTION_LENGTH));
    EXPECT_THAT(RaisedMessage([&] { s.GetInternetOption(41); }), testing::StartsWith("Error 12010: "));
}

TEST_F(HandleTest, StringOptionIsSetInCharacters) {
    TProbeSession s(nullptr);
    OpenQuietly(s);
    const UnicodeString agent = u"Agent/1.0";
    EXPECT_CALL(api, InternetSetOptionW(kSession, DWORD{INTERNET_OPTION_USER_AGENT}, NotNull(), 9u))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, DWORD length) -> BOOL {
            EXPECT_EQ(std::u16string(static_cast<const char16_t*>(buffer), length), u"Agent/1.0");
            return TRUE;
        });
    s.SetInternetOption(INTERNET_OPTION_USER_AGENT, agent);

    EXPECT_CALL(api, InternetSetOptionW(kSession, DWORD{INTERNET_OPTION_USER_AGENT}, IsNull(), 0u))
        .WillOnce(Return(TRUE));
    s.SetInternetOption(INTERNET_OPTION_USER_AGENT, u"");

    EXPECT_CALL(api, InternetSetOptionW(_, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_OPTION_NOT_SETTABLE));
    EXPECT_THAT(RaisedMessage([&] { s.SetInternetOption(INTERNET_OPTION_USER_AGENT, u"x"); }),
                testing::StartsWith("Error 12011: "));
}

TEST_F(HandleTest, DWordOptionsUseFourBytes) {
    TProbeSession s(nullptr);
    OpenQuietly(s);
    EXPECT_CALL(
        api, InternetQueryOptionW(kSession, DWORD{INTERNET_OPTION_CONNECT_TIMEOUT}, NotNull(), Pointee(4u)))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, LPDWORD) -> BOOL {
            *static_cast<DWORD*>(buffer) = 60000;
            return TRUE;
        });
    EXPECT_EQ(s.GetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT), 60000u);

    EXPECT_CALL(api, InternetSetOptionW(kSession, DWORD{INTERNET_OPTION_RECEIVE_TIMEOUT}, NotNull(), 4u))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, DWORD) -> BOOL {
            EXPECT_EQ(*static_cast<DWORD*>(buffer), 1234u);
            return TRUE;
        });
    s.SetInternetOptionDWord(INTERNET_OPTION_RECEIVE_TIMEOUT, 1234);

    // A failed query with no recorded error gives 0; with one, it raises.
    EXPECT_CALL(api, InternetQueryOptionW(_, _, _, _)).WillOnce(Return(FALSE));
    EXPECT_EQ(s.GetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT), 0u);
    EXPECT_CALL(api, InternetQueryOptionW(_, _, _, _))
        .WillOnce(api.Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE));
    EXPECT_THAT(RaisedMessage([&] { s.GetInternetOptionDWord(INTERNET_OPTION_CONNECT_TIMEOUT); }),
                testing::StartsWith("Error 12018: "));
}

TEST_F(HandleTest, RawOptionsPassTheCallersBuffer) {
    TProbeSession S(nullptr);
    OpenQuietly(S);
    unsigned char buffer[32] = {};
    Cardinal size = sizeof(buffer);
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 21u, static_cast<LPVOID>(buffer), Pointee(32u)))
        .WillOnce(DoAll(SetArgPointee<3>(8u), Return(TRUE)));
    S.GetInternetOption(21, buffer, size);
    EXPECT_EQ(size, 8u);

    // A buffer that is too small reports the size needed, then raises.
    size = 2;
    EXPECT_CALL(api, InternetQueryOptionW(kSession, 21u, static_cast<LPVOID>(buffer), Pointee(2u)))
        .WillOnce(DoAll(SetArgPointee<3>(8u), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
    EXPECT_THAT(RaisedMessage([&] { S.GetInternetOption(21, buffer, size); }),
                testing::StartsWith("Error 122: "));
    EXPECT_EQ(size, 8u);

    EXPECT_CALL(api, InternetSetOptionW(kSession, 21u, static_cast<LPVOID>(buffer), 5u))
        .WillOnce(Return(TRUE));
    S.SetInternetOption(21, buffer, 5);
}

TEST_F(HandleTest, StatusNotificationsReachOnCallback) {
    TProbeSession s(nullptr);
    struct Received {
        TObject* Sender;
        Integer Status;
        void* Information;
        Integer Length;
    };
    std::vector<Received> calls;
    s.SetOnCallback([&](TObject* sender, Integer status, void* information, Integer length) {
        calls.push_back({sender, status, information, length});
    });
    int data = 0;
    StatusCallback(nullptr, s.Context(), INTERNET_STATUS_HANDLE_CLOSING, &data, sizeof(data));
    // Context 0 names no component and is dropped.
    StatusCallback(nullptr, 0, INTERNET_STATUS_HANDLE_CLOSING, &data, sizeof(data));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Sender, &s);
    EXPECT_EQ(calls[0].Status, INTERNET_STATUS_HANDLE_CLOSING);
    EXPECT_EQ(calls[0].Information, &data);
    EXPECT_EQ(calls[0].Length, Integer{sizeof(data)});

    // A component whose handler runs on another thread goes only once that
    // handler returned, and a callback for a component that is gone (as the
    // platform sends after a close) reaches nothing. A handler may destroy
    // its own component.
    auto other = std::make_unique<TProbeSession>(nullptr);
    const DWORD_PTR otherContext = other->Context();
    std::promise<void> entered;
    std::atomic<bool> handlerDone{false};
    other->SetOnCallback([&](TObject*, Integer, void*, Integer) {
        entered.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        handlerDone = true;
    });
    std::thread library(
        [&] { StatusCallback(nullptr, otherContext, INTERNET_STATUS_RESOLVING_NAME, nullptr, 0); });
    entered.get_future().wait();
    other.reset();
    EXPECT_TRUE(handlerDone);
    library.join();
    StatusCallback(nullptr, otherContext, INTERNET_STATUS_HANDLE_CLOSING, &data, sizeof(data));
    auto* self = new TProbeSession(nullptr);
    self->SetOnCallback(
        [&](TObject* sender, Integer, void*, Integer) { delete static_cast<TProbeSession*>(sender); });
    StatusCallback(nullptr, self->Context(), INTERNET_STATUS_HANDLE_CLOSING, &data, sizeof(data));
}

TEST_F(HandleTest, RaisingOnCallbackHandlerIsShownNotPropagated) {
    ShownExceptions shown;
    TProbeSession s(nullptr);
    s.SetOnCallback([](TObject*, Integer, void*, Integer) { throw EINetError(u"handler failed"); });
    EXPECT_NO_THROW(StatusCallback(nullptr, s.Context(), INTERNET_STATUS_RESOLVING_NAME, nullptr, 0));
    s.SetOnCallback([](TObject*, Integer, void*, Integer) { throw std::bad_alloc(); });
    EXPECT_NO_THROW(StatusCallback(nullptr, s.Context(), INTERNET_STATUS_RESOLVING_NAME, nullptr, 0));
    ASSERT_EQ(shown.Messages.size(), 2u);
    EXPECT_EQ(shown.Messages[0], "handler failed");
    EXPECT_EQ(shown.Senders[0], &s);
}

}  // namespace
