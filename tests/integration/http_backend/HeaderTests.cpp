// HttpQueryInfoW in all its forms and HttpAddRequestHeadersW's modes, seen
// through what the echo server received.
#include "HttpTestSupport.h"

#include <cstring>

using namespace HttpTest;

namespace {

class Headers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FSession);
        FConnection = Connect(FSession.get(), Echo());
        ASSERT_TRUE(FConnection);
    }

    Handle Get(const std::u16string& object) {
        Handle request = Open(FConnection.get(), u"GET", object);
        EXPECT_TRUE(Send(request.get())) << GetLastError();
        return request;
    }

    Handle FSession = OpenSession();
    Handle FConnection;
};

}  // namespace

TEST_F(Headers, StatusVersionAndTextQueries) {
    const Handle request = Get(u"/status?code=299&text=Quite%20Fine");
    EXPECT_EQ(Header(request.get(), HTTP_QUERY_STATUS_CODE), "299");
    EXPECT_EQ(StatusCode(request.get()), 299u);
    EXPECT_EQ(Header(request.get(), HTTP_QUERY_STATUS_TEXT), "Quite Fine");
    EXPECT_EQ(Header(request.get(), HTTP_QUERY_VERSION), "HTTP/1.1");
    if (!PlatformDifferences::Reason("wine-query-request-method")) {
        EXPECT_EQ(Header(request.get(), HTTP_QUERY_REQUEST_METHOD), "GET");
    }
    EXPECT_EQ(Header(request.get(), HTTP_QUERY_CONTENT_TYPE), "text/plain; charset=utf-8");
    EXPECT_EQ(Header(request.get(), HTTP_QUERY_SERVER), "CorvaneTestHTTP/1.0");
    DWORD length = 0, size = sizeof(length);
    ASSERT_TRUE(HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
                               &size, nullptr));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(length, 15u);  // "299 Quite Fine\n"
    EXPECT_EQ(ReadAll(request.get()), "299 Quite Fine\n");

    const Handle empty = Get(u"/status?code=404&text=");
    EXPECT_EQ(StatusCode(empty.get()), 404u);
    EXPECT_EQ(Header(empty.get(), HTTP_QUERY_STATUS_TEXT), "");

    // A header line that starts like a status line starts no new response:
    // the queries answer for the message as it was framed.
    const Handle inside = Get(u"/response-headers?X-Before=1&_raw=HTTP/1.1%20404%20Moved:%20here&X-After=2");
    EXPECT_EQ(StatusCode(inside.get()), 200u);
    EXPECT_EQ(Custom(inside.get(), "X-Before"), "1");
    EXPECT_EQ(Custom(inside.get(), "X-After"), "2");
    EXPECT_EQ(ReadAll(inside.get()), "X-Before: 1\nX-After: 2\n");
}

// Sizes are bytes with the terminator; a short buffer reports the size
// needed and writes nothing; success reports the bytes without it.
TEST_F(Headers, SizeRulesOfTextAnswers) {
    const Handle request = Get(u"/response-headers?X-Value=abcdef");
    DWORD size = 0;
    SetLastError(0);
    EXPECT_FALSE(HttpQueryInfoW(request.get(), HTTP_QUERY_CUSTOM, nullptr, &size, nullptr))
        << "a custom query needs its name in the buffer";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // The name is read within the given size: a name cut short is another
    // name.
    char16_t buffer[32];
    if (!PlatformDifferences::Reason("wine-custom-query-name")) {
        std::memcpy(buffer, u"X-Value", 16);
        size = 10;
        EXPECT_FALSE(HttpQueryInfoW(request.get(), HTTP_QUERY_CUSTOM, buffer, &size, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
    }

    const Handle shortName = Get(u"/response-headers?X-V=abcdef");
    std::memcpy(buffer, u"X-V", 8);
    size = 12;  // room for six characters: one too few for "abcdef" and its terminator
    EXPECT_FALSE(HttpQueryInfoW(shortName.get(), HTTP_QUERY_CUSTOM, buffer, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 14u);
    EXPECT_EQ(std::u16string(buffer), u"X-V") << "nothing written on failure";
    ASSERT_TRUE(HttpQueryInfoW(shortName.get(), HTTP_QUERY_CUSTOM, buffer, &size, nullptr));
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(std::u16string(buffer), u"abcdef");

    // Values shorter than, longer than and as long as a one-character name.
    const Handle various = Get(u"/response-headers?A=1&B=a-much-longer-value&Long-Header-Name=z");
    EXPECT_EQ(Custom(various.get(), "A"), "1");
    EXPECT_EQ(Custom(various.get(), "b"), "a-much-longer-value");
    EXPECT_EQ(Custom(various.get(), "long-header-name"), "z");

    size = 0;
    EXPECT_FALSE(HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE, nullptr, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 8u) << "\"200\" and its terminator";
    DWORD number = 0;
    size = 2;
    EXPECT_FALSE(HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number,
                                &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, 4u);
}

TEST_F(Headers, MissingHeadersUnknownLevelsAndNonNumbers) {
    const Handle request = Open(FConnection.get(), u"GET", u"/response-headers?X-Word=abc&X-Date=soon");
    DWORD size = 0;
    if (!PlatformDifferences::Reason("wine-request-before-send")) {
        EXPECT_FALSE(HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE, nullptr, &size, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND))
            << "nothing before sending";
    }
    ASSERT_TRUE(Send(request.get()));

    for (DWORD level : {DWORD(HTTP_QUERY_ETAG), DWORD(HTTP_QUERY_ETAG | HTTP_QUERY_FLAG_NUMBER),
                        DWORD(HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME)}) {
        size = 0;
        EXPECT_FALSE(HttpQueryInfoW(request.get(), level, nullptr, &size, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND)) << level;
    }
    size = 0;
    EXPECT_FALSE(HttpQueryInfoW(request.get(), 1000, nullptr, &size, nullptr));
    if (PlatformDifferences::Reason("wine-query-unknown-level")) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
    } else {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_INVALID_QUERY_REQUEST));
    }

    // The name goes in the buffer, so it is given room for it.
    char16_t word[16] = u"X-Word";
    size = sizeof(word);
    EXPECT_FALSE(
        HttpQueryInfoW(request.get(), HTTP_QUERY_CUSTOM | HTTP_QUERY_FLAG_NUMBER, word, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_INVALID_HEADER)) << "not a number is no 0";
}

TEST_F(Headers, RepeatedHeadersByIndex) {
    const Handle request = Get(u"/response-headers?X-Twice=first&X-Twice=second");
    DWORD index = 0;
    char16_t buffer[64];
    const auto query = [&](DWORD& i) {
        std::memcpy(buffer, u"X-Twice", 16);
        DWORD size = sizeof(buffer);
        const BOOL ok = HttpQueryInfoW(request.get(), HTTP_QUERY_CUSTOM, buffer, &size, &i);
        return ok ? std::u16string(buffer, size / 2) : std::u16string(u"<none>");
    };
    index = 0;
    EXPECT_EQ(query(index), u"first");
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(query(index), u"second");
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(query(index), u"<none>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
    EXPECT_EQ(index, 2u);

    // Levels take the index too.
    const Handle cookies = Get(u"/set-cookie?hdr_a=1&hdr_b=2");
    index = 1;
    std::u16string second;
    ASSERT_TRUE(QueryText(cookies.get(), HTTP_QUERY_SET_COOKIE, second, &index));
    EXPECT_EQ(second, u"hdr_b=2");
    EXPECT_EQ(index, 2u);
}

TEST_F(Headers, RawHeadersInBothForms) {
    const Handle request = Get(u"/response-headers?X-One=1");
    std::u16string crlf;
    ASSERT_TRUE(QueryText(request.get(), HTTP_QUERY_RAW_HEADERS_CRLF, crlf));
    EXPECT_EQ(crlf.substr(0, 17), u"HTTP/1.1 200 OK\r\n");
    EXPECT_NE(crlf.find(u"\r\nX-One: 1\r\n"), std::u16string::npos);
    EXPECT_EQ(crlf.substr(crlf.size() - 4), u"\r\n\r\n");

    // Zero-separated, a double zero at the end, the size counting the
    // lines and their zeros.
    DWORD size = 0;
    EXPECT_FALSE(HttpQueryInfoW(request.get(), HTTP_QUERY_RAW_HEADERS, nullptr, &size, nullptr));
    std::u16string raw(size / 2, u'?');
    ASSERT_TRUE(HttpQueryInfoW(request.get(), HTTP_QUERY_RAW_HEADERS, raw.data(), &size, nullptr));
    EXPECT_EQ(size / 2 + 1, raw.size());
    EXPECT_EQ(raw.substr(0, 16), std::u16string(u"HTTP/1.1 200 OK\0", 16));
    EXPECT_EQ(raw.substr(raw.size() - 2), std::u16string(u"\0\0", 2));
    EXPECT_NE(raw.find(std::u16string(u"\0X-One: 1\0", 10)), std::u16string::npos);
    EXPECT_EQ(raw.find(u'\r'), std::u16string::npos);
}

TEST_F(Headers, DatesInTheThreeFormats) {
    const Handle request = Get(
        u"/response-headers?Expires=Sunday,%2006-Nov-94%2008:49:37%20GMT"
        u"&Last-Modified=Sun%20Nov%20%206%2008:49:37%201994&X-When=Tue,%2029%20Feb%202000%2023:59:59%20GMT");
    char16_t named[16] = u"X-When";  // the name in, the record out
    DWORD size = sizeof(named);
    ASSERT_TRUE(
        HttpQueryInfoW(request.get(), HTTP_QUERY_CUSTOM | HTTP_QUERY_FLAG_SYSTEMTIME, named, &size, nullptr));
    if (!PlatformDifferences::Reason("wine-custom-systemtime-size")) {
        EXPECT_EQ(size, 16u);
    }
    SYSTEMTIME leap{};
    std::memcpy(&leap, named, sizeof(leap));
    EXPECT_EQ(leap.wYear, 2000);
    EXPECT_EQ(leap.wMonth, 2);
    EXPECT_EQ(leap.wDay, 29);
    EXPECT_EQ(leap.wDayOfWeek, 2);

    SYSTEMTIME date{};
    size = sizeof(date);
    ASSERT_TRUE(
        HttpQueryInfoW(request.get(), HTTP_QUERY_DATE | HTTP_QUERY_FLAG_SYSTEMTIME, &date, &size, nullptr));
    EXPECT_GE(date.wYear, 2024);

    // The two older formats.
    SKIP_IF_PLATFORM_DIFFERS("wine-date-formats");
    SYSTEMTIME time{};
    size = sizeof(time);
    ASSERT_TRUE(HttpQueryInfoW(request.get(), HTTP_QUERY_EXPIRES | HTTP_QUERY_FLAG_SYSTEMTIME, &time, &size,
                               nullptr));
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(time.wYear, 1994);
    EXPECT_EQ(time.wMonth, 11);
    EXPECT_EQ(time.wDay, 6);
    EXPECT_EQ(time.wDayOfWeek, 0);
    EXPECT_EQ(time.wHour, 8);
    EXPECT_EQ(time.wMinute, 49);
    EXPECT_EQ(time.wSecond, 37);

    SYSTEMTIME asctime{};
    size = sizeof(asctime);
    ASSERT_TRUE(HttpQueryInfoW(request.get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &asctime,
                               &size, nullptr));
    EXPECT_EQ(std::memcmp(&asctime, &time, sizeof(time)), 0);
}

TEST_F(Headers, RequestHeadersBeforeAndAsSent) {
    const Handle request(HttpOpenRequestW(FConnection.get(), W(u"POST"), W(u"/echo?x=1"), W(u""),
                                          W(u"http://referrer.example/"), nullptr,
                                          INTERNET_FLAG_PRAGMA_NOCACHE, 0));
    ASSERT_TRUE(
        HttpAddRequestHeadersW(request.get(), W(u"X-Added: yes\r\n"), DWORD(-1), HTTP_ADDREQ_FLAG_ADD));
    EXPECT_EQ(Header(request.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_REFERER),
              "http://referrer.example/");
    const bool noCacheHeaders = !PlatformDifferences::Reason("wine-no-cache-headers");
    if (noCacheHeaders) {
        EXPECT_EQ(Header(request.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_PRAGMA), "no-cache");
    }
    if (!PlatformDifferences::Reason("wine-query-request-method")) {
        EXPECT_EQ(Header(request.get(), HTTP_QUERY_REQUEST_METHOD), "POST");
    }

    ASSERT_TRUE(Send(request.get(), "body"));
    std::u16string sent;
    ASSERT_TRUE(
        QueryText(request.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_RAW_HEADERS_CRLF, sent));
    EXPECT_EQ(sent.substr(0, 25), u"POST /echo?x=1 HTTP/1.1\r\n");
    EXPECT_EQ(Header(request.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_USER_AGENT),
              "CorvaneTest/1.0");
    EXPECT_EQ(Header(request.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_CONTENT_LENGTH), "4");
    if (noCacheHeaders) {
        EXPECT_EQ(Header(request.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_CACHE_CONTROL),
                  "no-cache");
    }
    EXPECT_EQ(Custom(request.get(), "X-Echo-Target"), "/echo?x=1");

    // What the server got is what the query says was sent, with none of the
    // headers the platform does not send.
    const std::string echoed = ReadAll(request.get());
    EXPECT_NE(echoed.find("\r\nX-Added: yes\r\n"), std::string::npos);
    EXPECT_NE(echoed.find("\r\nReferer: http://referrer.example/\r\n"), std::string::npos);
    EXPECT_EQ(echoed.find("Accept:"), std::string::npos);
    EXPECT_EQ(echoed.find("Expect:"), std::string::npos);
    EXPECT_EQ(echoed.find("Content-Type:"), std::string::npos);
}

namespace {

struct AddStep {
    const char16_t* text;
    DWORD modifiers;
    DWORD error;  // 0: succeeds
};

struct AddCase {
    const char* name;
    std::vector<AddStep> steps;
    const char* expected;  // the X-H line(s) the server receives, "" for none
};

// Runs the steps of each case on a new request and checks the X-H lines the
// echo server received.
void CheckAddCases(HINTERNET connection, const std::vector<AddCase>& cases) {
    for (const AddCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Handle request = Open(connection, u"GET", u"/echo");
        for (const AddStep& step : c.steps) {
            SetLastError(0);
            const BOOL ok = HttpAddRequestHeadersW(request.get(), W(step.text), DWORD(-1), step.modifiers);
            EXPECT_EQ(ok != FALSE, step.error == 0);
            if (step.error) {
                EXPECT_EQ(GetLastError(), step.error);
            }
        }
        ASSERT_TRUE(Send(request.get()));
        const std::string echoed = ReadAll(request.get());
        std::string lines;
        for (std::size_t at = echoed.find("\r\nX-H:"); at != std::string::npos;
             at = echoed.find("\r\nX-H:", at + 2))
            lines += echoed.substr(at + 2, echoed.find("\r\n", at + 2) - at);
        EXPECT_EQ(lines, c.expected);
        EXPECT_EQ(echoed.find("X-Evil"), std::string::npos);
        EXPECT_EQ(echoed.find("X-Later"), std::string::npos);
    }
}

}  // namespace

TEST_F(Headers, AddRequestHeadersModes) {
    CheckAddCases(
        FConnection.get(),
        {
            {"add", {{u"X-H: 1", HTTP_ADDREQ_FLAG_ADD, 0}}, "X-H: 1\r\n"},
            {"add twice",
             {{u"X-H: 1", HTTP_ADDREQ_FLAG_ADD, 0}, {u"X-H: 2", HTTP_ADDREQ_FLAG_ADD, 0}},
             "X-H: 1\r\nX-H: 2\r\n"},
            {"replace", {{u"X-H: 1", 0, 0}, {u"X-H: 2", HTTP_ADDREQ_FLAG_REPLACE, 0}}, "X-H: 2\r\n"},
            {"add or replace absent",
             {{u"X-H: 2", HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD, 0}},
             "X-H: 2\r\n"},
            {"empty value removes", {{u"X-H: 1", 0, 0}, {u"X-H:", HTTP_ADDREQ_FLAG_REPLACE, 0}}, ""},
            {"comma",
             {{u"X-H: 1", 0, 0}, {u"X-H: 2", HTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA, 0}},
             "X-H: 1, 2\r\n"},
            {"semicolon",
             {{u"X-H: 1", 0, 0}, {u"X-H: 2", HTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON, 0}},
             "X-H: 1; 2\r\n"},
            {"lines", {{u"X-H: 1\r\nX-Other: o\r\n\r\n", HTTP_ADDREQ_FLAG_ADD, 0}}, "X-H: 1\r\n"},
            {"malformed", {{u"X-H 1", HTTP_ADDREQ_FLAG_ADD, ERROR_HTTP_INVALID_HEADER}}, ""},
        });
}

// A header that may not be added (one already there for ADD_IF_NEW, one
// missing for REPLACE) fails with its own error.
TEST_F(Headers, AddRequestHeadersConditions) {
    const DWORD exists = PlatformDifferences::Reason("wine-add-if-new-error")
                             ? ERROR_HTTP_INVALID_HEADER
                             : ERROR_HTTP_HEADER_ALREADY_EXISTS;
    CheckAddCases(FConnection.get(),
                  {{"add if new",
                    {{u"X-H: 1", HTTP_ADDREQ_FLAG_ADD, 0}, {u"X-H: 2", HTTP_ADDREQ_FLAG_ADD_IF_NEW, exists}},
                    "X-H: 1\r\n"}});
    SKIP_IF_PLATFORM_DIFFERS("wine-replace-missing-header");
    CheckAddCases(
        FConnection.get(),
        {{"replace absent", {{u"X-H: 2", HTTP_ADDREQ_FLAG_REPLACE, ERROR_HTTP_HEADER_NOT_FOUND}}, ""}});
}

// Text that would break the request apart is refused, and nothing of the
// lines after it is added.
TEST_F(Headers, AddRequestHeadersRefusesBrokenLines) {
    SKIP_IF_PLATFORM_DIFFERS("wine-unchecked-request-text");
    CheckAddCases(
        FConnection.get(),
        {
            {"bad name", {{u"X H: 1", HTTP_ADDREQ_FLAG_ADD, ERROR_HTTP_INVALID_HEADER}}, ""},
            {"smuggled line", {{u"X-H: 1\rX-Evil: 1", HTTP_ADDREQ_FLAG_ADD, ERROR_HTTP_INVALID_HEADER}}, ""},
            {"stops at the bad line",
             {{u"X-H: 1\r\nbroken\r\nX-Later: 1", HTTP_ADDREQ_FLAG_ADD, ERROR_HTTP_INVALID_HEADER}},
             "X-H: 1\r\n"},
        });
}

TEST_F(Headers, ExtraHeadersOfSendReplaceAndPersist) {
    const Handle request = Open(FConnection.get(), u"GET", u"/echo");
    ASSERT_TRUE(HttpAddRequestHeadersW(request.get(), W(u"X-Mode: added"), DWORD(-1), HTTP_ADDREQ_FLAG_ADD));
    const std::u16string extra = u"X-Mode: sent\r\nX-More: yes";
    ASSERT_TRUE(
        HttpSendRequestW(request.get(), W(extra.c_str()), static_cast<DWORD>(extra.size()), nullptr, 0));
    const std::string echoed = ReadAll(request.get());
    EXPECT_NE(echoed.find("\r\nX-Mode: sent\r\n"), std::string::npos);
    EXPECT_EQ(echoed.find("X-Mode: added"), std::string::npos);
    EXPECT_NE(echoed.find("\r\nX-More: yes\r\n"), std::string::npos);
}
