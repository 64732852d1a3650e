// The session component on the real portable backend: handles that really
// open and close, options read back, status notifications on close, and
// error texts from the backend's message table.
#include <Corvane/Corvane.h>
#include <Framework/Forms.h>
#include <Framework/SysUtils.h>
#include <Platform/WinInet.h>

#include <gtest/gtest.h>

#include "PlatformDifferences.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Corvane;

namespace {

std::string U8(const std::u16string& S) { return Framework::Utf16ToUtf8(S); }

// A UTF-16 literal as the platform's wide-character type.
LPCWSTR W(const char16_t* Text) { return reinterpret_cast<LPCWSTR>(Text); }

std::string RaisedMessage(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const EINetError& E) {
        return U8(E.Message());
    }
    return "<nothing raised>";
}

// The backend's message-table text for Code, as the platform reports it.
std::string TableText(DWORD Code)
{
    WCHAR Buffer[512] = {};
    const DWORD Length = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, ::GetModuleHandleW(W(u"wininet.dll")), Code, 0,
                                          Buffer, 511, nullptr);
    return U8(std::u16string(reinterpret_cast<const char16_t*>(Buffer), Length));
}

// A status notification as the raw callback received it.
struct Notification {
    HINTERNET Handle;
    DWORD_PTR Context;
    DWORD Status;
};
std::vector<Notification> RawNotifications;

void CALLBACK RecordingCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwInternetStatus, LPVOID, DWORD)
{
    RawNotifications.push_back({hInternet, dwContext, dwInternetStatus});
}

DWORD_PTR ContextOf(TINetSession& S) { return reinterpret_cast<DWORD_PTR>(static_cast<TINetHandle*>(&S)); }

TEST(SessionIntegration, OpensAndClosesARealHandle)
{
    for (TAccessType Access : {atDirect, atPreconfig, atPreconfigWithNoAutoProxy}) {
        TINetSession S(nullptr);
        S.SetAccessType(Access);
        S.SetAgent(u"Corvane-Test/1.0");
        S.Open();
        ASSERT_TRUE(S.Active());
        EXPECT_EQ(S.GetInternetOptionDWord(INTERNET_OPTION_HANDLE_TYPE), DWORD{INTERNET_HANDLE_TYPE_INTERNET});
        EXPECT_EQ(U8(S.GetInternetOption(INTERNET_OPTION_USER_AGENT)), "Corvane-Test/1.0");
        const HINTERNET Handle = S.Handle();
        S.Close();
        EXPECT_FALSE(S.Active());
        // The backend has really released it.
        SetLastError(0);
        EXPECT_FALSE(InternetCloseHandle(Handle));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    }
}

TEST(SessionIntegration, TimeoutsAreSetAndReadBack)
{
    SKIP_IF_PLATFORM_DIFFERS("wine-session-timeouts");
    TINetSession S(nullptr);
    S.Open();
    const DWORD Options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT};
    Cardinal Value = 1500;
    for (DWORD Option : Options) {
        S.SetInternetOptionDWord(Option, Value);
        EXPECT_EQ(S.GetInternetOptionDWord(Option), Value) << Option;
        Value += 1000;
    }
    // The raw forms reach the same values.
    DWORD Raw = 0;
    Cardinal Size = sizeof(Raw);
    S.GetInternetOption(INTERNET_OPTION_CONNECT_TIMEOUT, &Raw, Size);
    EXPECT_EQ(Raw, 1500u);
    EXPECT_EQ(Size, 4u);
}

TEST(SessionIntegration, RawCallbackSeesHandleClosingWithTheContextValue)
{
    for (DWORD_PTR Context : {DWORD_PTR{0}, DWORD_PTR{0x5EED}}) {
        RawNotifications.clear();
        HINTERNET H = InternetOpenW(W(u"Corvane"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        ASSERT_NE(H, nullptr);
        if (Context != 0) {
            ASSERT_TRUE(InternetSetOptionW(H, INTERNET_OPTION_CONTEXT_VALUE, &Context, sizeof(Context)));
        }
        EXPECT_EQ(InternetSetStatusCallback(H, &RecordingCallback), nullptr);
        ASSERT_TRUE(InternetCloseHandle(H));
        if (Context == 0) {
            // No callbacks for a handle without a context value.
            EXPECT_TRUE(RawNotifications.empty());
            continue;
        }
        ASSERT_FALSE(RawNotifications.empty());
        const Notification& Last = RawNotifications.back();
        EXPECT_EQ(Last.Status, DWORD{INTERNET_STATUS_HANDLE_CLOSING});
        EXPECT_EQ(Last.Handle, H);
        EXPECT_EQ(Last.Context, Context);
    }
}

TEST(SessionIntegration, ComponentCallbackNeedsAContextValue)
{
    for (bool SetContext : {false, true}) {
        TINetSession S(nullptr);
        std::vector<Integer> Statuses;
        S.SetOnCallback([&](TObject* Sender, Integer Status, void*, Integer) {
            EXPECT_EQ(Sender, &S);
            Statuses.push_back(Status);
        });
        S.Open();
        if (SetContext) {
            DWORD_PTR Context = ContextOf(S);
            S.SetInternetOption(INTERNET_OPTION_CONTEXT_VALUE, &Context, sizeof(Context));
            DWORD_PTR ReadBack = 0;
            Cardinal Size = sizeof(ReadBack);
            S.GetInternetOption(INTERNET_OPTION_CONTEXT_VALUE, &ReadBack, Size);
            EXPECT_EQ(ReadBack, Context);
        }
        // Closing the handle behind the component's back leaves its status
        // callback in place, so HANDLE_CLOSING reaches StatusCallback.
        ASSERT_TRUE(InternetCloseHandle(S.Handle()));
        if (SetContext)
            EXPECT_EQ(Statuses, std::vector<Integer>{INTERNET_STATUS_HANDLE_CLOSING});
        else
            EXPECT_TRUE(Statuses.empty());  // context 0: dropped

        // The component's own close then fails, and still leaves it closed.
        EXPECT_THROW(S.Close(), EINetError);
        EXPECT_FALSE(S.Active());
    }
}

TEST(SessionIntegration, ErrorTextsComeFromTheMessageTable)
{
    SKIP_IF_PLATFORM_DIFFERS("wine-message-table");
    TINetSession S(nullptr);
    S.Open();
    const std::string InvalidOption = TableText(ERROR_INTERNET_INVALID_OPTION);
    ASSERT_FALSE(InvalidOption.empty());
    EXPECT_EQ(RaisedMessage([&] { S.GetInternetOptionDWord(99999); }), "Error 12009: " + InvalidOption);

    DWORD Small = 0;
    EXPECT_EQ(RaisedMessage([&] { S.SetInternetOption(INTERNET_OPTION_CONNECT_TIMEOUT, &Small, 2); }),
              "Error 12010: " + TableText(ERROR_INTERNET_BAD_OPTION_LENGTH));

    // Message-table texts end in a line break, which the message keeps.
    EXPECT_EQ(InvalidOption.substr(InvalidOption.size() - 2), "\r\n");
    EXPECT_EQ(GetLastError(), 0u);
}

TEST(SessionIntegration, CodesOutsideTheInternetTableTakeTheSystemsText)
{
    // A closed handle reports ERROR_INVALID_HANDLE, a system code: its text is
    // the platform's system text, not a C library text for errno 6. On
    // Windows that is the operating system's own wording.
#if defined(_WIN32)
    WCHAR Buffer[512] = {};
    DWORD Length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                    ERROR_INVALID_HANDLE, 0, Buffer, 511, nullptr);
    while (Length > 0 && (Buffer[Length - 1] == u'\r' || Buffer[Length - 1] == u'\n' || Buffer[Length - 1] == u' '))
        --Length;
    ASSERT_GT(Length, 0u);
    const std::string SystemText = U8(std::u16string(reinterpret_cast<const char16_t*>(Buffer), Length));
#else
    const std::string SystemText = "The handle is not valid.";
#endif
    EXPECT_EQ(RaisedMessage([] { CheckSuccess(ERROR_INVALID_HANDLE); }), "Error 6: " + SystemText);
}

TEST(SessionIntegration, ExtendedErrorWithoutServerResponseEndsInColon)
{
    EXPECT_EQ(RaisedMessage([] { CheckSuccess(ERROR_INTERNET_EXTENDED_ERROR); }),
              "Error 12003: " + TableText(ERROR_INTERNET_EXTENDED_ERROR) + ":");
    EXPECT_EQ(U8(GetInternetLastResponseInfo()), "");
}

TEST(SessionIntegration, FailedOpenRaisesAndStaysClosed)
{
    TINetSession S(nullptr);
    S.SetAccessType(atProxy);  // a proxy session without a proxy is refused
    bool AfterOpen = false;
    S.SetAfterOpen([&](TObject*) { AfterOpen = true; });
    EXPECT_EQ(RaisedMessage([&] { S.Open(); }).rfind("Error 87: ", 0), 0u);
    EXPECT_FALSE(S.Active());
    EXPECT_FALSE(AfterOpen);
}

// The unit's finalization closes the default session when the program ends,
// after main returns and with the backend still in place.
TEST(SessionIntegrationDeathTest, DefaultSessionIsClosedAtExit)
{
    EXPECT_EXIT(
        {
            TINetSession* Default = GetDefaultSession();
            Default->SetAfterClose([](TObject*) {
                std::fputs("default session closed\n", stderr);
                std::fflush(stderr);
            });
            Default->Open();
            std::exit(Default->Active() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "default session closed");
}

}  // namespace
