// Header queries in every form through the component (by level, by named
// header, by name, as number and as date, response and request headers), and
// request headers added, replaced and deleted as the server receives them,
// with the names and values that would inject headers refused.
#include "ComponentTesting.h"

using namespace ComponentTest;

namespace {

class Headers : public ComponentExchange {};

TEST_F(Headers, EveryQueryForm) {
    const std::string longValue(700, 'L');
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(http, u"GET",
         W("/response-headers?Last-Modified=Sun,%2006%20Nov%201994%2008:49:37%20GMT"
           "&Expires=Sunday,%2006-Nov-94%2008:49:37%20GMT"
           "&Retry-After=Sun%20Nov%20%206%2008:49:37%201994"
           "&X-longValue=" +
           longValue + "&X-Name-Longer-Than-Its-Value=v&X-Empty=&Age=42&X-Repeat=one&X-Repeat=two"));

    // Level, named header and the Headers array agree; numbers as numbers.
    EXPECT_EQ(U8(http.QueryInfo(Cardinal{HTTP_QUERY_STATUS_CODE})), "200");
    EXPECT_EQ(U8(http.Headers(heStatusCode)), "200");
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 200u);
    EXPECT_EQ(U8(http.QueryInfo(heStatusText)), "OK");
    EXPECT_EQ(U8(http.QueryInfo(heVersion)), "HTTP/1.1");
    EXPECT_EQ(http.QueryInfoValue(Cardinal{HTTP_QUERY_AGE}), 42u);
    if (!PlatformDifferences::Reason("wine-query-request-method")) {
        EXPECT_EQ(U8(http.QueryInfo(heRequestMethod)), "GET");
    }

    // Dates in each of the three formats.
    for (THttpHeader header : {heLastModified, heExpires, heRetryAfter}) {
        SCOPED_TRACE(static_cast<int>(header));
        if (header != heLastModified && PlatformDifferences::Reason("wine-date-formats")) continue;
        const SYSTEMTIME time = http.QueryInfoSystemTime(header);
        EXPECT_EQ(time.wYear, 1994);
        EXPECT_EQ(time.wMonth, 11);
        EXPECT_EQ(time.wDay, 6);
        EXPECT_EQ(time.wDayOfWeek, 0);
        EXPECT_EQ(time.wHour, 8);
        EXPECT_EQ(time.wMinute, 49);
        EXPECT_EQ(time.wSecond, 37);
    }

    // By name, whatever the value's length against the name's.
    EXPECT_EQ(U8(http.CustomHeaders(u"X-longValue")), longValue);
    EXPECT_EQ(U8(http.CustomHeaders(u"X-Name-Longer-Than-Its-Value")), "v");
    EXPECT_EQ(U8(http.CustomHeaders(u"x-name-longer-than-its-value")), "v");
    EXPECT_EQ(U8(http.QueryInfo(UnicodeString(u"X-Empty"))), "");
    EXPECT_EQ(U8(http.CustomHeaders(u"X-Repeat")), "one");

    // Raw headers: CR LF separated, and zero separated.
    const std::string crlf = U8(http.QueryInfo(heRawHeadersCrLf));
    EXPECT_EQ(crlf.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(crlf.find("\r\nX-longValue: " + longValue + "\r\n"), std::string::npos);
    const UnicodeString raw = http.QueryInfo(heRawHeaders);
    EXPECT_EQ(U8(raw.substr(0, raw.find(u'\0'))), "HTTP/1.1 200 OK");
    EXPECT_NE(raw.find(u'\0' + W("X-Repeat: two") + u'\0'), UnicodeString::npos);

    // Missing headers raise the platform's error in every form.
    EXPECT_TRUE(RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { http.QueryInfo(heLocation); }));
    EXPECT_TRUE(RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { http.QueryInfoValue(heLocation); }));
    EXPECT_TRUE(RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { http.QueryInfoSystemTime(heLocation); }));
    EXPECT_TRUE(RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { http.CustomHeaders(u"X-Absent"); }));
    EXPECT_EQ(http.CustomHeaders(u""), u"");
}

TEST_F(Headers, CustomStatusTextAndErrorStatuses) {
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(http, u"GET", u"/status?code=299&text=Quite%20Fine");
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 299u);
    EXPECT_EQ(U8(http.Headers(heStatusText)), "Quite Fine");
    EXPECT_EQ(http.ReadData(), "299 Quite Fine\n");

    // A server's error status is a response, not a failure.
    Send(http, u"GET", u"/status?code=503");
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 503u);
    EXPECT_EQ(U8(http.Headers(heStatusText)), "Service Unavailable");
}

TEST_F(Headers, RequestHeadersAsTheServerReceivesThem) {
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"));
    http.SetReferer(u"http://referrer.test/page");
    http.Open();
    http.OpenRequest(u"GET", u"/echo");
    http.AddRequestHeader(u"X-A", u"first");
    http.AddRequestHeader(u"X-B: 2\r\nX-C: 3\r\n", false);
    http.ReplaceRequestHeader(u"X-A", u"replaced");
    http.DeleteRequestHeader(u"X-C");
    http.AddRequestHeader(u"X-B: 2b", true);
    http.AddRequestHeader(u"X-Url", u"http://h:81/a?b=c:d");
    http.SendRequest(u"X-D: 4\r\n", AnsiString());
    const std::string head = EchoedHead(http.ReadData());
    EXPECT_NE(head.find("\r\nX-A: replaced\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nX-B: 2b\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nX-D: 4\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nX-Url: http://h:81/a?b=c:d\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nReferer: http://referrer.test/page\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("X-C:"), std::string::npos) << head;
    EXPECT_EQ(head.find("first"), std::string::npos) << head;

    // The request's own headers, as sent, through the request modifier.
    const Cardinal request = HTTP_QUERY_FLAG_REQUEST_HEADERS;
    EXPECT_EQ(U8(http.QueryInfo(request | HTTP_QUERY_USER_AGENT)), "Corvane");
    EXPECT_EQ(U8(http.QueryInfo(request | HTTP_QUERY_REFERER)), "http://referrer.test/page");
    EXPECT_NE(U8(http.QueryInfo(request | HTTP_QUERY_RAW_HEADERS_CRLF)).find("X-A: replaced\r\n"),
              std::string::npos);

    // Replacing a header the request lacks is the platform's error.
    http.OpenRequest(u"GET", u"/echo");
    if (!PlatformDifferences::Reason("wine-replace-missing-header")) {
        EXPECT_TRUE(
            RaisesCode(ERROR_HTTP_HEADER_NOT_FOUND, [&] { http.ReplaceRequestHeader(u"X-None", u"1"); }));
    }
}

TEST_F(Headers, NamesAndValuesThatWouldInjectHeadersNeverReachTheServer) {
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"));
    http.Open();
    http.OpenRequest(u"GET", u"/echo");
    http.AddRequestHeader(u"X-Good", u"1");
    EXPECT_THROW(http.AddRequestHeader(u"X-Bad", u"1\r\nX-Injected: yes"), EINetError);
    EXPECT_THROW(http.AddRequestHeader(u"X-Injected: yes\r\nX-Bad", u"1"), EINetError);
    EXPECT_THROW(http.ReplaceRequestHeader(u"X-Good", u"2\nX-Injected: yes"), EINetError);
    EXPECT_THROW(http.DeleteRequestHeader(u"X-Good\r\nX-Injected"), EINetError);
    EXPECT_THROW(http.AddRequestHeader(u"X-Good: 3\r\nX-Injected", u"yes"), EINetError);
    http.SendRequest(u"", AnsiString());
    const std::string head = EchoedHead(http.ReadData());
    EXPECT_NE(head.find("\r\nX-Good: 1\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("Injected"), std::string::npos) << head;
    EXPECT_EQ(head.find("X-Bad"), std::string::npos) << head;
}

}  // namespace
