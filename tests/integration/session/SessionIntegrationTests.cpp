// The session component on the real portable backend: handles that really
// open and close, options read back, status notifications on close, and
// error texts from the backend's message table.
#include <Corvane/Corvane.h>
#include <Framework/Forms.h>
#include <Framework/SysUtils.h>
#include <Platform/WinInet.h>

#include <gtest/gtest.h>

#include "PlatformDifferences.h"
#include "TestText.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Corvane;

namespace {

// A UTF-16 literal as the platform's wide-character type.
LPCWSTR W(const char16_t* text) {
    return reinterpret_cast<LPCWSTR>(text);
}

std::string RaisedMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const EINetError& e) {
        return U8(e.Message());
    }
    return "<nothing raised>";
}

// The backend's message-table text for Code, as the platform reports it.
std::string TableText(DWORD code) {
    WCHAR buffer[512] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, ::GetModuleHandleW(W(u"wininet.dll")),
                                          code, 0, buffer, 511, nullptr);
    return U8(std::u16string(reinterpret_cast<const char16_t*>(buffer), length));
}

// A status notification as the raw callback received it.
struct Notification {
    HINTERNET Handle;
    DWORD_PTR Context;
    DWORD Status;
};
std::vector<Notification> RawNotifications;

void CALLBACK RecordingCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwInternetStatus, LPVOID,
                                DWORD) {
    RawNotifications.push_back({hInternet, dwContext, dwInternetStatus});
}

DWORD_PTR ContextOf(TINetSession& s) {
    return reinterpret_cast<DWORD_PTR>(static_cast<TINetHandle*>(&s));
}

TEST(SessionIntegration, OpensAndClosesARealHandle) {
    for (TAccessType access : {atDirect, atPreconfig, atPreconfigWithNoAutoProxy}) {
        TINetSession s(nullptr);
        s.SetAccessType(access);
        s.SetAgent(u"Corvane-Test/1.0");
        s.Open();
        ASSERT_TRUE(s.Active());
        EXPECT_EQ(s.GetInternetOptionDWord(INTERNET_OPTION_HANDLE_TYPE),
                  DWORD{INTERNET_HANDLE_TYPE_INTERNET});
        EXPECT_EQ(U8(s.GetInternetOption(INTERNET_OPTION_USER_AGENT)), "Corvane-Test/1.0");
        const HINTERNET handle = s.Handle();
        s.Close();
        EXPECT_FALSE(s.Active());
        // The backend has really released it.
        SetLastError(0);
        EXPECT_FALSE(InternetCloseHandle(handle));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    }
}

TEST(SessionIntegration, TimeoutsAreSetAndReadBack) {
    SKIP_IF_PLATFORM_DIFFERS("wine-session-timeouts");
    TINetSession s(nullptr);
    s.Open();
    const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT};
    Cardinal value = 1500;
    for (DWORD option : options) {
        s.SetInternetOptionDWord(option, value);
        EXPECT_EQ(s.GetInternetOptionDWord(option), value) << option;
        value += 1000;
    }
    // The raw forms reach the same values.
    DWORD raw = 0;
    Cardinal size = sizeof(raw);
    s.GetInternetOption(INTERNET_OPTION_CONNECT_TIMEOUT, &raw, size);
    EXPECT_EQ(raw, 1500u);
    EXPECT_EQ(size, 4u);
}

TEST(SessionIntegration, RawCallbackSeesHandleClosingWithTheContextValue) {
    for (DWORD_PTR context : {DWORD_PTR{0}, DWORD_PTR{0x5EED}}) {
        RawNotifications.clear();
        HINTERNET h = InternetOpenW(W(u"Corvane"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        ASSERT_NE(h, nullptr);
        if (context != 0) {
            ASSERT_TRUE(InternetSetOptionW(h, INTERNET_OPTION_CONTEXT_VALUE, &context, sizeof(context)));
        }
        EXPECT_EQ(InternetSetStatusCallback(h, &RecordingCallback), nullptr);
        ASSERT_TRUE(InternetCloseHandle(h));
        if (context == 0) {
            // No callbacks for a handle without a context value.
            EXPECT_TRUE(RawNotifications.empty());
            continue;
        }
        ASSERT_FALSE(RawNotifications.empty());
        const Notification& last = RawNotifications.back();
        EXPECT_EQ(last.Status, DWORD{INTERNET_STATUS_HANDLE_CLOSING});
        EXPECT_EQ(last.Handle, h);
        EXPECT_EQ(last.Context, context);
    }
}

TEST(SessionIntegration, ComponentCallbackNeedsAContextValue) {
    for (bool setContext : {false, true}) {
        TINetSession s(nullptr);
        std::vector<Integer> statuses;
        s.SetOnCallback([&](TObject* sender, Integer status, void*, Integer) {
            EXPECT_EQ(sender, &s);
            statuses.push_back(status);
        });
        s.Open();
        if (setContext) {
            DWORD_PTR context = ContextOf(s);
            s.SetInternetOption(INTERNET_OPTION_CONTEXT_VALUE, &context, sizeof(context));
            DWORD_PTR readBack = 0;
            Cardinal size = sizeof(readBack);
            s.GetInternetOption(INTERNET_OPTION_CONTEXT_VALUE, &readBack, size);
            EXPECT_EQ(readBack, context);
        }
        // Closing the handle behind the component's back leaves its status
        // callback in place, so HANDLE_CLOSING reaches StatusCallback.
        ASSERT_TRUE(InternetCloseHandle(s.Handle()));
        if (setContext)
            EXPECT_EQ(statuses, std::vector<Integer>{INTERNET_STATUS_HANDLE_CLOSING});
        else
            EXPECT_TRUE(statuses.empty());  // context 0: dropped

        // The component's own close then fails, and still leaves it closed.
        EXPECT_THROW(s.Close(), EINetError);
        EXPECT_FALSE(s.Active());
    }
}

TEST(SessionIntegration, ErrorTextsComeFromTheMessageTable) {
    SKIP_IF_PLATFORM_DIFFERS("wine-message-table");
    TINetSession s(nullptr);
    s.Open();
    const std::string invalidOption = TableText(ERROR_INTERNET_INVALID_OPTION);
    ASSERT_FALSE(invalidOption.empty());
    EXPECT_EQ(RaisedMessage([&] { s.GetInternetOptionDWord(99999); }), "Error 12009: " + invalidOption);

    DWORD small = 0;
    EXPECT_EQ(RaisedMessage([&] { s.SetInternetOption(INTERNET_OPTION_CONNECT_TIMEOUT, &small, 2); }),
              "Error 12010: " + TableText(ERROR_INTERNET_BAD_OPTION_LENGTH));

    // Message-table texts end in a line break, which the message keeps.
    EXPECT_EQ(invalidOption.substr(invalidOption.size() - 2), "\r\n");
    EXPECT_EQ(GetLastError(), 0u);
}

TEST(SessionIntegration, CodesOutsideTheInternetTableTakeTheSystemsText) {
    // A closed handle reports ERROR_INVALID_HANDLE, a system code: its text is
    // the platform's system text, not a C library text for errno 6. On
    // Windows that is the operating system's own wording.
#if defined(_WIN32)
    WCHAR buffer[512] = {};
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                    ERROR_INVALID_HANDLE, 0, buffer, 511, nullptr);
    while (length > 0 &&
           (buffer[length - 1] == u'\r' || buffer[length - 1] == u'\n' || buffer[length - 1] == u' '))
        --length;
    ASSERT_GT(length, 0u);
    const std::string systemText = U8(std::u16string(reinterpret_cast<const char16_t*>(buffer), length));
#else
    const std::string systemText = "The handle is not valid.";
#endif
    EXPECT_EQ(RaisedMessage([] { CheckSuccess(ERROR_INVALID_HANDLE); }), "Error 6: " + systemText);
}

TEST(SessionIntegration, ExtendedErrorWithoutServerResponseEndsInColon) {
    EXPECT_EQ(RaisedMessage([] { CheckSuccess(ERROR_INTERNET_EXTENDED_ERROR); }),
              "Error 12003: " + TableText(ERROR_INTERNET_EXTENDED_ERROR) + ":");
    EXPECT_EQ(U8(GetInternetLastResponseInfo()), "");
}

TEST(SessionIntegration, FailedOpenRaisesAndStaysClosed) {
    TINetSession s(nullptr);
    s.SetAccessType(atProxy);  // a proxy session without a proxy is refused
    bool afterOpen = false;
    s.SetAfterOpen([&](TObject*) { afterOpen = true; });
    EXPECT_EQ(RaisedMessage([&] { s.Open(); }).rfind("Error 87: ", 0), 0u);
    EXPECT_FALSE(s.Active());
    EXPECT_FALSE(afterOpen);
}

// The unit's finalization closes the default session when the program ends,
// after main returns and with the backend still in place.
TEST(SessionIntegrationDeathTest, DefaultSessionIsClosedAtExit) {
    EXPECT_EXIT(
        {
            TINetSession* defaultSession = GetDefaultSession();
            defaultSession->SetAfterClose([](TObject*) {
                std::fputs("default session closed\n", stderr);
                std::fflush(stderr);
            });
            defaultSession->Open();
            std::exit(defaultSession->Active() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "default session closed");
}

}  // namespace
