// The HTTP component's requests against the mocked platform: the arguments of
// HttpOpenRequestW, the request replaced by the next one, security flags on a
// new request, the bodies and header texts sent, the header lines built from
// names and values, and the refusal of names and values that would inject
// other headers.
#include "HttpMock.h"

#include <Framework/ResourceStrings.h>

using namespace HttpUnit;
using testing::_;
using testing::InSequence;
using testing::IsNull;
using testing::NotNull;
using testing::Return;

namespace {

const HINTERNET kNextRequest = FakeHandle(4);

class RequestTest : public HttpMockTest {
protected:
    RequestTest() { Http.SetUrl(u"http://example.com/docs/a.txt?x=1#f"); }

    DWORD_PTR Context() { return reinterpret_cast<DWORD_PTR>(static_cast<TINetHandle*>(&Http)); }

    TINetHttp Http{nullptr};
};

TEST_F(RequestTest, OpenRequestTakesVerbAndObjectFromArgumentsOrProperties) {
    Http.Open();
    Http.SetVerb(veGet);
    EXPECT_CALL(api, HttpOpenRequestW(kConnection, WStrEq(u"GET"), WStrEq(u"/docs/a.txt?x=1#f"), WStrEq(u""),
                                      WStrEq(u""), IsNull(), 0u, Context()))
        .WillOnce(Return(kRequest));
    Http.OpenRequest(u"", u"");
    EXPECT_EQ(Http.HttpHandle(), kRequest);

    // Arguments win over the Verb property and the URL's path.
    Http.SetVerb(vePost);
    Http.SetVersion(u"HTTP/1.0");
    Http.SetReferer(u"http://example.com/from");
    EXPECT_CALL(api,
                HttpOpenRequestW(kConnection, WStrEq(u"PROPFIND"), WStrEq(u"/other"), WStrEq(u"HTTP/1.0"),
                                 WStrEq(u"http://example.com/from"), IsNull(), 0u, Context()))
        .WillOnce(Return(kRequest));
    Http.OpenRequest(u"PROPFIND", u"/other");

    // Each verb's text; veNone passes an empty text, never a null pointer.
    const char16_t* texts[] = {u"",        u"GET",  u"PUT",     u"POST", u"DELETE",
                               u"OPTIONS", u"HEAD", u"CONNECT", u"TRACE"};
    for (int verb = veNone; verb <= veTrace; ++verb) {
        Http.SetVerb(static_cast<THttpVerb>(verb));
        EXPECT_CALL(api, HttpOpenRequestW(_, WStrEq(texts[verb]), _, _, _, _, _, _))
            .WillOnce(Return(kRequest));
        Http.OpenRequest(u"", u"");
    }
    // A value no element stands for is refused and leaves the verb as it was.
    EXPECT_EQ(RaisedMessage([&] { Http.SetVerb(static_cast<THttpVerb>(veTrace + 1)); }),
              "Invalid value 9 for THttpVerb");
    EXPECT_EQ(Http.Verb(), veTrace);
}

TEST_F(RequestTest, NextOpenRequestClosesTheOldRequestFirst) {
    Http.Open();
    EXPECT_CALL(api, InternetCloseHandle(_)).Times(testing::AnyNumber());
    {
        InSequence order;
        EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, _, _)).WillOnce(Return(kRequest));
        EXPECT_CALL(api, InternetCloseHandle(kRequest)).WillOnce(Return(TRUE));
        EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, _, _)).WillOnce(Return(kNextRequest));
        EXPECT_CALL(api, InternetCloseHandle(kNextRequest)).WillOnce(Return(TRUE));
        // A failing opening leaves no request: the old one is gone already.
        EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, _, _))
            .WillOnce(api.Fail(ERROR_INTERNET_INVALID_URL));
    }
    Http.OpenRequest(u"", u"");
    Http.OpenRequest(u"", u"");
    EXPECT_EQ(Http.HttpHandle(), kNextRequest);
    EXPECT_EQ(RaisedMessage([&] { Http.OpenRequest(u"", u""); }).rfind("Error 12005: ", 0), 0u);
    EXPECT_EQ(Http.HttpHandle(), nullptr);
}

TEST_F(RequestTest, CloseRequestClosesOnceAndOnlyWhatIsOpen) {
    {
        testing::StrictMock<MockInternetApi> strict;
        ScopedInternetApi useStrict(strict);
        Http.CloseRequest();  // closed component, no request: no call, no error
    }
    Http.Open();
    Http.OpenRequest(u"", u"");
    Log.clear();
    Http.CloseRequest();
    Http.CloseRequest();
    EXPECT_EQ(Log, std::vector<std::string>{Closed(kRequest)});
    EXPECT_EQ(Http.HttpHandle(), nullptr);

    // A failing close raises, and the request is gone all the same.
    Http.OpenRequest(u"", u"");
    EXPECT_CALL(api, InternetCloseHandle(_)).Times(testing::AnyNumber());
    EXPECT_CALL(api, InternetCloseHandle(kRequest)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_THROW(Http.CloseRequest(), EINetError);
    EXPECT_EQ(Http.HttpHandle(), nullptr);
}

TEST_F(RequestTest, SecurityFlagsAreAppliedToANewRequestOnlyWhenSet) {
    Http.Open();
    EXPECT_CALL(api, InternetSetOptionW(_, _, _, _)).Times(0);
    Http.OpenRequest(u"", u"");
    testing::Mock::VerifyAndClearExpectations(&api);

    Http.SetSecurityFlags({sfIgnoreUnknownCA, sfIgnoreInvalidCN});
    InSequence order;
    EXPECT_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, _, _)).WillOnce(Return(kNextRequest));
    EXPECT_CALL(api, InternetSetOptionW(kNextRequest, DWORD{INTERNET_OPTION_SECURITY_FLAGS}, NotNull(), 4u))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, DWORD) {
            EXPECT_EQ(*static_cast<DWORD*>(buffer), DWORD{0x00000100 | 0x00001000});
            return TRUE;
        });
    Http.OpenRequest(u"", u"");
}

TEST_F(RequestTest, ClosedComponentRefusesRequestsBeforeAnyCall) {
    testing::StrictMock<MockInternetApi> strict;
    ScopedInternetApi useStrict(strict);
    const std::vector<std::function<void()>> operations = {
        [&] { Http.OpenRequest(u"GET", u"/"); },
        [&] { Http.SendRequest(u"", AnsiString("body")); },
        [&] {
            Http.SendRequest(u"", TBytes{1, 2});
        },
        [&] { Http.AddRequestHeader(u"X-A: 1", false); },
    };
    for (const auto& operation : operations) EXPECT_EQ(RaisedMessage(operation), kClosedMessage);
}

TEST_F(RequestTest, HeaderOperationsWithoutARequestReportThePlatformsError) {
    // These three skip the state check and go to the platform with no request.
    EXPECT_CALL(api, HttpAddRequestHeadersW(IsNull(), _, _, _))
        .Times(3)
        .WillRepeatedly(api.Fail(ERROR_INVALID_HANDLE));
    for (const auto& operation : std::vector<std::function<void()>>{
             [&] { Http.AddRequestHeader(u"X-A", u"1"); },
             [&] { Http.DeleteRequestHeader(u"X-A"); },
             [&] { Http.ReplaceRequestHeader(u"X-A", u"2"); },
         })
        EXPECT_EQ(RaisedMessage(operation).rfind("Error 6: ", 0), 0u);
}

TEST_F(RequestTest, SendRequestPassesHeadersAndRawBodies) {
    Http.Open();
    Http.OpenRequest(u"POST", u"/echo");
    const AnsiString body("a\0b\xff\r\n", 6);
    EXPECT_CALL(api, HttpSendRequestW(kRequest, WStrEq(u"X-One: 1\r\nX-Two: 2"), 18u, NotNull(), 6u))
        .WillOnce([&](HINTERNET, LPCWSTR, DWORD, LPVOID data, DWORD length) {
            EXPECT_EQ(std::memcmp(data, body.data(), length), 0);
            return TRUE;
        });
    Http.SendRequest(u"X-One: 1\r\nX-Two: 2", body);

    const TBytes bytes{0, 1, 0xFE, 0xFF};
    EXPECT_CALL(api, HttpSendRequestW(kRequest, WStrEq(u""), 0u, NotNull(), 4u))
        .WillOnce([&](HINTERNET, LPCWSTR, DWORD, LPVOID data, DWORD length) {
            EXPECT_EQ(std::memcmp(data, bytes.data(), length), 0);
            return TRUE;
        });
    Http.SendRequest(u"", bytes);

    // Empty bodies: an empty text of length 0, a null array of length 0.
    EXPECT_CALL(api, HttpSendRequestW(kRequest, _, 0u, NotNull(), 0u)).WillOnce(Return(TRUE));
    Http.SendRequest(u"", AnsiString());
    EXPECT_CALL(api, HttpSendRequestW(kRequest, _, 0u, IsNull(), 0u)).WillOnce(Return(TRUE));
    Http.SendRequest(u"", TBytes());

    EXPECT_CALL(api, HttpSendRequestW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_CANNOT_CONNECT));
    EXPECT_EQ(RaisedMessage([&] { Http.SendRequest(u"", TBytes()); }).rfind("Error 12029: ", 0), 0u);
}

TEST_F(RequestTest, HeaderLinesAndModes) {
    Http.Open();
    Http.OpenRequest(u"", u"");
    InSequence order;
    EXPECT_CALL(api, HttpAddRequestHeadersW(kRequest, WStrEq(u"X-Name: some value\r\n"), 20u, 0xA0000000u));
    EXPECT_CALL(api, HttpAddRequestHeadersW(kRequest, WStrEq(u"X-Name: other\r\n"), 15u, 0x80000000u));
    EXPECT_CALL(api, HttpAddRequestHeadersW(kRequest, WStrEq(u"X-Name:\r\n"), 9u, 0x80000000u));
    EXPECT_CALL(api, HttpAddRequestHeadersW(kRequest, WStrEq(u"X-A: 1\r\nX-B: 2"), 14u, 0x20000000u));
    EXPECT_CALL(api, HttpAddRequestHeadersW(kRequest, WStrEq(u"X-A: 3\r\n"), 8u, 0xA0000000u));
    // An empty value and a value holding colons are ordinary.
    EXPECT_CALL(api, HttpAddRequestHeadersW(kRequest, WStrEq(u"X-Empty: \r\n"), 11u, 0xA0000000u));
    EXPECT_CALL(api, HttpAddRequestHeadersW(kRequest, WStrEq(u"Link: http://h:81/x\r\n"), 21u, 0xA0000000u))
        .WillOnce(api.Fail(ERROR_HTTP_INVALID_HEADER));
    Http.AddRequestHeader(u"X-Name", u"some value");
    Http.ReplaceRequestHeader(u"X-Name", u"other");
    Http.DeleteRequestHeader(u"X-Name");
    Http.AddRequestHeader(u"X-A: 1\r\nX-B: 2", false);
    Http.AddRequestHeader(u"X-A: 3\r\n", true);
    Http.AddRequestHeader(u"X-Empty", u"");
    EXPECT_EQ(
        RaisedMessage([&] { Http.AddRequestHeader(u"Link", u"http://h:81/x"); }).rfind("Error 12153: ", 0),
        0u);
}

TEST_F(RequestTest, NamesAndValuesThatWouldInjectHeadersAreRefused) {
    const std::string badName = U8(Framework::LoadResString(SINetInvalidHeaderName));
    const std::string badValue = U8(Framework::LoadResString(SINetInvalidHeaderValue));
    EXPECT_NE(badName, badValue);

    Http.Open();
    Http.OpenRequest(u"", u"");
    EXPECT_CALL(api, HttpAddRequestHeadersW(_, _, _, _)).Times(0);
    const UnicodeString badNames[] = {u"X-A\r\nX-Evil", u"X-A\nX-Evil", u"X-A\r", u"X-A: 1", u":", u"\n"};
    const UnicodeString badValues[] = {u"1\r\nX-Evil: 2", u"1\nX-Evil: 2", u"1\r", u"\r\n"};
    for (const UnicodeString& name : badNames) {
        SCOPED_TRACE(U8(name));
        EXPECT_EQ(RaisedMessage([&] { Http.AddRequestHeader(name, u"1"); }), badName);
        EXPECT_EQ(RaisedMessage([&] { Http.ReplaceRequestHeader(name, u"1"); }), badName);
        EXPECT_EQ(RaisedMessage([&] { Http.DeleteRequestHeader(name); }), badName);
    }
    for (const UnicodeString& value : badValues) {
        SCOPED_TRACE(U8(value));
        EXPECT_EQ(RaisedMessage([&] { Http.AddRequestHeader(u"X-A", value); }), badValue);
        EXPECT_EQ(RaisedMessage([&] { Http.ReplaceRequestHeader(u"X-A", value); }), badValue);
    }

    // The texts are resource strings, so they follow the resource language.
    Framework::RegisterResourceTranslation(u"de", SINetInvalidHeaderValue.Id, u"Ungültiger Wert");
    Framework::SetResourceLanguage(u"de");
    EXPECT_EQ(RaisedMessage([&] { Http.AddRequestHeader(u"X-A", u"1\r\n"); }), "Ungültiger Wert");
    Framework::SetResourceLanguage(u"");
    Framework::ClearResourceTranslations(u"de");
}

}  // namespace
