// CheckSuccess, Check and GetInternetLastResponseInfo against the mocked
// platform: exact call arguments and the message formats.
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

const HMODULE kWinInetModule = reinterpret_cast<HMODULE>(0x7700);
const std::u16string kExtendedText = u"An extended error was returned from the server.\r\n";
const std::u16string kResponse = u"550 No such file\r\n";

class ErrorsTest : public testing::Test {
protected:
    // FormatMessageW answering Text, or failing as the platform does for a code
    // its table lacks when Text is empty: with ERROR_MR_MID_NOT_FOUND.
    auto Answer(const std::u16string& text) {
        return [this, text](DWORD, LPCVOID, DWORD, DWORD, LPWSTR buffer, DWORD, va_list*) -> DWORD {
            if (text.empty()) {
                api.SetMockLastError(ERROR_MR_MID_NOT_FOUND);
                return 0;
            }
            std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
            return static_cast<DWORD>(text.size());
        };
    }

    // Scripts the message-table lookup of Code to answer Text (an empty text
    // makes it fail).
    void ExpectMessageTable(DWORD code, const std::u16string& text) {
        EXPECT_CALL(api, GetModuleHandleW(WStrEq(u"wininet.dll"))).WillOnce(Return(kWinInetModule));
        EXPECT_CALL(api, FormatMessageW(DWORD{FORMAT_MESSAGE_FROM_HMODULE}, kWinInetModule, code, 0u,
                                        NotNull(), 256u, IsNull()))
            .WillOnce(Answer(text));
    }

    // Scripts the system's text for Code, asked of the platform after the
    // message table had none (an empty text makes the call fail).
    void ExpectSystemText(DWORD code, const std::u16string& text) {
        EXPECT_CALL(api, FormatMessageW(DWORD{FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS},
                                        IsNull(), code, 0u, NotNull(), 1024u, IsNull()))
            .WillOnce(Answer(text));
    }

    // Scripts the two-step read of the last server response.
    void ExpectResponse(const std::u16string& text) {
        const DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
        InSequence order;
        EXPECT_CALL(api, InternetGetLastResponseInfoW(NotNull(), IsNull(), Pointee(0u)))
            .WillOnce(DoAll(SetArgPointee<2>(size), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
        EXPECT_CALL(api, GetLastError());
        EXPECT_CALL(api, InternetGetLastResponseInfoW(NotNull(), NotNull(), Pointee(size)))
            .WillOnce([text](LPDWORD, LPWSTR buffer, LPDWORD) -> BOOL {
                std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
                return TRUE;
            });
    }

    testing::StrictMock<MockInternetApi> api;
    ScopedInternetApi use{api};
};

TEST_F(ErrorsTest, CheckSuccessOfZeroMakesNoCallAndRaisesNothing) {
    EXPECT_NO_THROW(CheckSuccess(0));
}

TEST_F(ErrorsTest, MessageTableTextIsUsedUntrimmed) {
    ExpectMessageTable(ERROR_INTERNET_TIMEOUT, u"The operation timed out\r\n");
    EXPECT_EQ(RaisedMessage([] { CheckSuccess(ERROR_INTERNET_TIMEOUT); }),
              "Error 12002: The operation timed out\r\n");
}

TEST_F(ErrorsTest, ExtendedErrorAppendsTheServerResponse) {
    ExpectMessageTable(ERROR_INTERNET_EXTENDED_ERROR, kExtendedText);
    ExpectResponse(kResponse);
    EXPECT_EQ(RaisedMessage([] { CheckSuccess(ERROR_INTERNET_EXTENDED_ERROR); }),
              "Error 12003: An extended error was returned from the server.\r\n:550 No such file\r\n");
}

TEST_F(ErrorsTest, ExtendedErrorWithoutResponseEndsWithTheColon) {
    ExpectMessageTable(ERROR_INTERNET_EXTENDED_ERROR, kExtendedText);
    EXPECT_CALL(api, InternetGetLastResponseInfoW(_, IsNull(), Pointee(0u))).WillOnce(Return(TRUE));
    EXPECT_EQ(RaisedMessage([] { CheckSuccess(ERROR_INTERNET_EXTENDED_ERROR); }),
              "Error 12003: An extended error was returned from the server.\r\n:");
}

TEST_F(ErrorsTest, ExtendedErrorWithoutTableTextKeepsBothSeparators) {
    ExpectMessageTable(ERROR_INTERNET_EXTENDED_ERROR, u"");
    ExpectResponse(kResponse);
    EXPECT_EQ(RaisedMessage([] { CheckSuccess(ERROR_INTERNET_EXTENDED_ERROR); }),
              "Error 12003: :550 No such file\r\n");
}

TEST_F(ErrorsTest, CodesOutsideTheTableUseTheSystemText) {
    // The system text loses its closing line break; a code the system does
    // not know either has no text. 4294967295 also shows that the code
    // prints unsigned, never with a sign.
    struct Case {
        DWORD Code;
        std::u16string SystemText;
        std::string Message;
    };
    for (const Case& c :
         {Case{2, u"The system cannot find the file given.\r\n",
               "Error 2: The system cannot find the file given."},
          Case{0x80000000u, u"", "Error 2147483648: "}, Case{4294967295u, u"", "Error 4294967295: "}}) {
        InSequence order;
        ExpectMessageTable(c.Code, u"");
        ExpectSystemText(c.Code, c.SystemText);
        EXPECT_EQ(RaisedMessage([&] { CheckSuccess(c.Code); }), c.Message);
        testing::Mock::VerifyAndClearExpectations(&api);
    }
}

TEST_F(ErrorsTest, MessageTableBufferIsAlwaysTerminated) {
    // A platform that fills all 256 characters without a terminator must not
    // make the routine read past its buffer.
    EXPECT_CALL(api, GetModuleHandleW(_)).WillOnce(Return(kWinInetModule));
    EXPECT_CALL(api, FormatMessageW(_, _, _, _, NotNull(), 256u, _))
        .WillOnce([](DWORD, LPCVOID, DWORD, DWORD, LPWSTR buffer, DWORD size, va_list*) -> DWORD {
            std::fill(buffer, buffer + size, u'x');
            return size;
        });
    EXPECT_EQ(RaisedMessage([] { CheckSuccess(12100); }), "Error 12100: " + std::string(256, 'x'));
}

TEST_F(ErrorsTest, CheckPassesTrueAndUnrecordedFailures) {
    EXPECT_NO_THROW(Check(true));  // strict mock: not even the last error is read

    EXPECT_CALL(api, GetLastError()).Times(2);
    api.SetMockLastError(0);
    EXPECT_NO_THROW(Check(false));
    api.SetMockLastError(ERROR_IO_PENDING);
    EXPECT_NO_THROW(Check(false));
    EXPECT_EQ(api.LastError(), DWORD{ERROR_IO_PENDING});
}

TEST_F(ErrorsTest, CheckLeavesTheLastErrorAtZeroAfterRaising) {
    // Looking the text up may set a last error of its own (a code the
    // Internet table lacks; the size asked for a 12003's server response):
    // Check resets the last error after the lookup, so a later Check(false)
    // with nothing failed since raises nothing.
    struct Case {
        DWORD Code;
        std::function<void()> ScriptLookup;
        std::string Message;
    };
    const Case cases[] = {
        {ERROR_INTERNET_NAME_NOT_RESOLVED,
         [&] {
             ExpectMessageTable(ERROR_INTERNET_NAME_NOT_RESOLVED,
                                u"The server name could not be resolved\r\n");
         },
         "Error 12007: The server name could not be resolved\r\n"},
        {ERROR_ACCESS_DENIED,
         [&] {
             ExpectMessageTable(ERROR_ACCESS_DENIED, u"");
             ExpectSystemText(ERROR_ACCESS_DENIED, u"Access is denied.\r\n");
         },
         "Error 5: Access is denied."},
        {ERROR_INTERNET_EXTENDED_ERROR,
         [&] {
             ExpectMessageTable(ERROR_INTERNET_EXTENDED_ERROR, kExtendedText);
             ExpectResponse(kResponse);
         },
         "Error 12003: An extended error was returned from the server.\r\n:550 No such file\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Code);
        api.SetMockLastError(c.Code);
        {
            InSequence order;
            EXPECT_CALL(api, GetLastError());
            c.ScriptLookup();
            EXPECT_CALL(api, SetLastError(0));
        }
        EXPECT_EQ(RaisedMessage([] { Check(false); }), c.Message);
        EXPECT_EQ(api.LastError(), 0u);

        EXPECT_CALL(api, GetLastError());
        EXPECT_NO_THROW(Check(false));
        testing::Mock::VerifyAndClearExpectations(&api);
    }
}

TEST_F(ErrorsTest, ResponseInfoIsEmptyWhenTheFirstQueryDoesNotAskForABuffer) {
    struct Case {
        BOOL Result;
        DWORD Error;
        DWORD ReportedSize;
    };
    // Success, another error, no size, and sizes of three bytes or less: no
    // second call is made in any of them.
    for (const Case& c :
         {Case{TRUE, 0, 0}, Case{FALSE, ERROR_INTERNET_INCORRECT_HANDLE_STATE, 40},
          Case{FALSE, ERROR_INSUFFICIENT_BUFFER, 0}, Case{FALSE, ERROR_INSUFFICIENT_BUFFER, 2},
          Case{FALSE, ERROR_INSUFFICIENT_BUFFER, 3}}) {
        EXPECT_CALL(api, InternetGetLastResponseInfoW(NotNull(), IsNull(), Pointee(0u)))
            .WillOnce(DoAll(
                SetArgPointee<2>(c.ReportedSize), [&](auto&&...) { api.SetMockLastError(c.Error); },
                Return(c.Result)));
        EXPECT_CALL(api, GetLastError()).Times(c.Result ? 0 : 1);
        EXPECT_EQ(U8(GetInternetLastResponseInfo()), "");
        testing::Mock::VerifyAndClearExpectations(&api);
    }
}

TEST_F(ErrorsTest, ResponseInfoReadsTheReportedSize) {
    ExpectResponse(u"220 ready\r\n");
    EXPECT_EQ(U8(GetInternetLastResponseInfo()), "220 ready\r\n");
}

TEST_F(ErrorsTest, ResponseInfoIsEmptyWhenTheSecondQueryFails) {
    EXPECT_CALL(api, GetLastError()).Times(testing::AnyNumber());
    InSequence order;
    EXPECT_CALL(api, InternetGetLastResponseInfoW(_, IsNull(), _))
        .WillOnce(DoAll(SetArgPointee<2>(20), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
    EXPECT_CALL(api, InternetGetLastResponseInfoW(_, NotNull(), Pointee(20u)))
        .WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_EQ(U8(GetInternetLastResponseInfo()), "");
}

TEST_F(ErrorsTest, ResponseInfoBufferHoldsAnOddReportedSize) {
    // 41 bytes give 19 characters; the platform may write all 41 bytes, which
    // the buffer must hold (AddressSanitizer reports a write past it).
    EXPECT_CALL(api, GetLastError()).Times(testing::AnyNumber());
    InSequence order;
    EXPECT_CALL(api, InternetGetLastResponseInfoW(_, IsNull(), _))
        .WillOnce(DoAll(SetArgPointee<2>(41), api.Fail(ERROR_INSUFFICIENT_BUFFER)));
    EXPECT_CALL(api, InternetGetLastResponseInfoW(_, NotNull(), Pointee(41u)))
        .WillOnce([](LPDWORD, LPWSTR buffer, LPDWORD size) -> BOOL {
            std::memset(buffer, 'a', *size);
            return TRUE;
        });
    EXPECT_EQ(GetInternetLastResponseInfo(), std::u16string(19, u'\x6161'));
}

}  // namespace
