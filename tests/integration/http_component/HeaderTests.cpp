// Header queries in every form through the component (by level, by named
// header, by name, as number and as date, response and request headers), and
// request headers added, replaced and deleted as the server receives them,
// with the names and values that would inject headers refused.
#include "ComponentTesting.h"

using namespace ComponentTest;

namespace {

class Headers : public ComponentExchange {};

TEST_F(Headers, EveryQueryForm)
{
    const std::string Long(700, 'L');
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(Http, u"GET",
         W("/response-headers?Last-Modified=Sun,%2006%20Nov%201994%2008:49:37%20GMT"
           "&Expires=Sunday,%2006-Nov-94%2008:49:37%20GMT"
           "&Retry-After=Sun%20Nov%20%206%2008:49:37%201994"
           "&X-Long=" + Long +
           "&X-Name-Longer-Than-Its-Value=v&X-Empty=&Age=42&X-Repeat=one&X-Repeat=two"));

    // Level, named header and the Headers array agree; numbers as numbers.
    EXPECT_EQ(U8(Http.QueryInfo(Cardinal{HTTP_QUERY_STATUS_CODE})), "200");
    EXPECT_EQ(U8(Http.Headers(heStatusCode)), "200");
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 200u);
    EXPECT_EQ(U8(Http.QueryInfo(heStatusText)), "OK");
    EXPECT_EQ(U8(Http.QueryInfo(heVersion)), "HTTP/1.1");
    EXPECT_EQ(Http.QueryInfoValue(Cardinal{HTTP_QUERY_AGE}), 42u);
    if (!PlatformDifferences::Reason("wine-query-request-method")) {
        EXPECT_EQ(U8(Http.QueryInfo(heRequestMethod)), "GET");
    }

    // Dates in each of the three formats.
    for (THttpHeader Header : {heLastModified, heExpires, heRetryAfter}) {
        SCOPED_TRACE(static_cast<int>(Header));
        if (Header != heLastModified && PlatformDifferences::Reason("wine-date-formats")) continue;
        const SYSTEMTIME Time = Http.QueryInfoSystemTime(Header);
        EXPECT_EQ(Time.wYear, 1994);
        EXPECT_EQ(Time.wMonth, 11);
        EXPECT_EQ(Time.wDay, 6);
        EXPECT_EQ(Time.wDayOfWeek, 0);
        EXPECT_EQ(Time.wHour, 8);
        EXPECT_EQ(Time.wMinute, 49);
        EXPECT_EQ(Time.wSecond, 37);
    }

    // By name, whatever the value's length against the name's.
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Long")), Long);
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Name-Longer-Than-Its-Value")), "v");
    EXPECT_EQ(U8(Http.CustomHeaders(u"x-name-longer-than-its-value")), "v");
    EXPECT_EQ(U8(Http.QueryInfo(UnicodeString(u"X-Empty"))), "");
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Repeat")), "one");

    // Raw headers: CR LF separated, and zero separated.
    const std::string Crlf = U8(Http.QueryInfo(heRawHeadersCrLf));
    EXPECT_EQ(Crlf.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(Crlf.find("\r\nX-Long: " + Long + "\r\n"), std::string::npos);
    const UnicodeString Raw = Http.QueryInfo(heRawHeaders);
    EXPECT_EQ(U8(Raw.substr(0, Raw.find(u'\0'))), "HTTP/1.1 200 OK");
    EXPECT_NE(Raw.find(u'\0' + W("X-Repeat: two") + u'\0'), UnicodeString::npos);

    // Missing headers raise the platform's error in every form.
    EXPECT_TRUE(RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { Http.QueryInfo(heLocation); }));
    EXPECT_TRUE(RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { Http.QueryInfoValue(heLocation); }));
    EXPECT_TRUE(RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { Http.QueryInfoSystemTime(heLocation); }));
    EXPECT_TRUE(RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { Http.CustomHeaders(u"X-Absent"); }));
    EXPECT_EQ(Http.CustomHeaders(u""), u"");
}

TEST_F(Headers, CustomStatusTextAndErrorStatuses)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(Http, u"GET", u"/status?code=299&text=Quite%20Fine");
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 299u);
    EXPECT_EQ(U8(Http.Headers(heStatusText)), "Quite Fine");
    EXPECT_EQ(Http.ReadData(), "299 Quite Fine\n");

    // A server's error status is a response, not a failure.
    Send(Http, u"GET", u"/status?code=503");
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 503u);
    EXPECT_EQ(U8(Http.Headers(heStatusText)), "Service Unavailable");
}

TEST_F(Headers, RequestHeadersAsTheServerReceivesThem)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Http.SetReferer(u"http://referrer.test/page");
    Http.Open();
    Http.OpenRequest(u"GET", u"/echo");
    Http.AddRequestHeader(u"X-A", u"first");
    Http.AddRequestHeader(u"X-B: 2\r\nX-C: 3\r\n", false);
    Http.ReplaceRequestHeader(u"X-A", u"replaced");
    Http.DeleteRequestHeader(u"X-C");
    Http.AddRequestHeader(u"X-B: 2b", true);
    Http.AddRequestHeader(u"X-Url", u"http://h:81/a?b=c:d");
    Http.SendRequest(u"X-D: 4\r\n", AnsiString());
    const std::string Head = EchoedHead(Http.ReadData());
    EXPECT_NE(Head.find("\r\nX-A: replaced\r\n"), std::string::npos) << Head;
    EXPECT_NE(Head.find("\r\nX-B: 2b\r\n"), std::string::npos) << Head;
    EXPECT_NE(Head.find("\r\nX-D: 4\r\n"), std::string::npos) << Head;
    EXPECT_NE(Head.find("\r\nX-Url: http://h:81/a?b=c:d\r\n"), std::string::npos) << Head;
    EXPECT_NE(Head.find("\r\nReferer: http://referrer.test/page\r\n"), std::string::npos) << Head;
    EXPECT_EQ(Head.find("X-C:"), std::string::npos) << Head;
    EXPECT_EQ(Head.find("first"), std::string::npos) << Head;

    // The request's own headers, as sent, through the request modifier.
    const Cardinal Request = HTTP_QUERY_FLAG_REQUEST_HEADERS;
    EXPECT_EQ(U8(Http.QueryInfo(Request | HTTP_QUERY_USER_AGENT)), "Corvane");
    EXPECT_EQ(U8(Http.QueryInfo(Request | HTTP_QUERY_REFERER)), "http://referrer.test/page");
    EXPECT_NE(U8(Http.QueryInfo(Request | HTTP_QUERY_RAW_HEADERS_CRLF)).find("X-A: replaced\r\n"), std::string::npos);

    // Replacing a header the request lacks is the platform's error.
    Http.OpenRequest(u"GET", u"/echo");
    if (!PlatformDifferences::Reason("wine-replace-missing-header")) {
        EXPECT_TRUE(RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { Http.ReplaceRequestHeader(u"X-None", u"1"); }));
    }
}

TEST_F(Headers, NamesAndValuesThatWouldInjectHeadersNeverReachTheServer)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Http.Open();
    Http.OpenRequest(u"GET", u"/echo");
    Http.AddRequestHeader(u"X-Good", u"1");
    EXPECT_THROW(Http.AddRequestHeader(u"X-Bad", u"1\r\nX-Injected: yes"), EINetError);
    EXPECT_THROW(Http.AddRequestHeader(u"X-Injected: yes\r\nX-Bad", u"1"), EINetError);
    EXPECT_THROW(Http.ReplaceRequestHeader(u"X-Good", u"2\nX-Injected: yes"), EINetError);
    EXPECT_THROW(Http.DeleteRequestHeader(u"X-Good\r\nX-Injected"), EINetError);
    EXPECT_THROW(Http.AddRequestHeader(u"X-Good: 3\r\nX-Injected", u"yes"), EINetError);
    Http.SendRequest(u"", AnsiString());
    const std::string Head = EchoedHead(Http.ReadData());
    EXPECT_NE(Head.find("\r\nX-Good: 1\r\n"), std::string::npos) << Head;
    EXPECT_EQ(Head.find("Injected"), std::string::npos) << Head;
    EXPECT_EQ(Head.find("X-Bad"), std::string::npos) << Head;
}

}  // namespace
