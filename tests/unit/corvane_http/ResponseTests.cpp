// The HTTP component's responses against the mocked platform: the size
// protocol of header queries (the mock writes exactly the sizes it reports,
// so AddressSanitizer sees any buffer that is too small), header queries by
// name, numbers and dates, and the body read piece by piece, into the
// caller's buffer, and whole.
#include "HttpMock.h"

#include <algorithm>
#include <map>

using namespace HttpUnit;
using testing::_;
using testing::InSequence;
using testing::IsNull;
using testing::NotNull;
using testing::Pointee;
using testing::Return;

namespace {

class ResponseTest : public HttpMockTest {
protected:
    ResponseTest() {
        Http.Open();
        Http.OpenRequest(u"GET", u"/");
    }

    // Scripts HttpQueryInfoW as the platform answers text queries: the size
    // in bytes with the terminator when the buffer is missing or too small,
    // the text and its size without the terminator otherwise. HTTP_QUERY_CUSTOM
    // takes the header's name from the buffer.
    void ServeHeaders(std::map<DWORD, std::u16string> levels,
                      std::map<std::u16string, std::u16string> named = {}) {
        ON_CALL(api, HttpQueryInfoW(kRequest, _, _, _, _))
            .WillByDefault(
                [this, levels, named](HINTERNET, DWORD level, LPVOID buffer, LPDWORD size, LPDWORD) {
                    std::u16string value;
                    if (level == HTTP_QUERY_CUSTOM) {
                        const std::u16string name(static_cast<const char16_t*>(buffer));
                        NamesAsked.push_back(U8(name));
                        const auto it = named.find(name);
                        if (it == named.end()) return FailWith(ERROR_HTTP_HEADER_NOT_FOUND);
                        value = it->second;
                    } else {
                        const auto it = levels.find(level);
                        if (it == levels.end()) return FailWith(ERROR_HTTP_HEADER_NOT_FOUND);
                        value = it->second;
                    }
                    const DWORD needed = static_cast<DWORD>((value.size() + 1) * 2);
                    if (buffer == nullptr || *size < needed) {
                        *size = needed;
                        return FailWith(ERROR_INSUFFICIENT_BUFFER);
                    }
                    std::memcpy(buffer, value.c_str(), needed);
                    *size = needed - 2;
                    return BOOL{TRUE};
                });
    }

    // Scripts the body: each InternetQueryDataAvailable reports the next of
    // Available (capped at what is left), each read delivers what was asked
    // for up to the end.
    void ServeBody(const std::string& body, std::vector<DWORD> available) {
        Remaining = body;
        Availability = std::move(available);
        ON_CALL(api, InternetQueryDataAvailable(kRequest, NotNull(), 0u, 0u))
            .WillByDefault([this](HINTERNET, LPDWORD count, DWORD, DWORD_PTR) {
                DWORD next = Availability.empty() ? 1 : Availability.front();
                if (!Availability.empty()) Availability.erase(Availability.begin());
                *count = std::min<DWORD>(next, static_cast<DWORD>(Remaining.size()));
                return TRUE;
            });
        ON_CALL(api, InternetReadFile(kRequest, NotNull(), _, NotNull()))
            .WillByDefault([this](HINTERNET, LPVOID buffer, DWORD asked, LPDWORD read) {
                Asks.push_back(asked);
                *read = std::min<DWORD>(asked, static_cast<DWORD>(Remaining.size()));
                std::memcpy(buffer, Remaining.data(), *read);
                Remaining.erase(0, *read);
                return TRUE;
            });
    }

    TINetHttp Http{nullptr};
    std::vector<std::string> NamesAsked;
    std::string Remaining;
    std::vector<DWORD> Availability;
    std::vector<DWORD> Asks;
};

TEST_F(ResponseTest, TextQueryAsksTheSizeFirstThenReadsIntoABufferOfThatSize) {
    InSequence order;
    EXPECT_CALL(api, HttpQueryInfoW(kRequest, 19u, IsNull(), Pointee(0u), IsNull()))
        .WillOnce([this](HINTERNET, DWORD, LPVOID, LPDWORD size, LPDWORD) {
            *size = 8;
            return FailWith(ERROR_INSUFFICIENT_BUFFER);
        });
    EXPECT_CALL(api, HttpQueryInfoW(kRequest, 19u, NotNull(), Pointee(8u), IsNull()))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, LPDWORD size, LPDWORD) {
            std::memcpy(buffer, u"200", 8);
            *size = 6;
            return TRUE;
        });
    EXPECT_EQ(U8(Http.Headers(heStatusCode)), "200");
}

TEST_F(ResponseTest, TextQueriesOfLevelsAndNamedHeaders) {
    ServeHeaders({{19, u"404"},
                  {20, u"Not Found"},
                  {1, u"text/plain; charset=utf-8"},
                  {19 | HTTP_QUERY_FLAG_REQUEST_HEADERS, u"req"},
                  {54, u""}});
    EXPECT_EQ(U8(Http.QueryInfo(heStatusText)), "Not Found");
    EXPECT_EQ(U8(Http.QueryInfo(Cardinal{HTTP_QUERY_CONTENT_TYPE})), "text/plain; charset=utf-8");
    EXPECT_EQ(U8(Http.QueryInfo(Cardinal{19 | HTTP_QUERY_FLAG_REQUEST_HEADERS})),
              "req");  // modifiers unchanged
    // An empty value needs no second call.
    EXPECT_CALL(api, HttpQueryInfoW(kRequest, 54u, _, _, _)).Times(1);
    EXPECT_EQ(Http.QueryInfo(heETag), u"");
    testing::Mock::VerifyAndClearExpectations(&api);

    // A header the response lacks raises the platform's error, as text and
    // as number.
    EXPECT_EQ(RaisedMessage([&] { Http.QueryInfo(heLocation); }).rfind("Error 12150: ", 0), 0u);
    EXPECT_EQ(RaisedMessage([&] { Http.QueryInfoValue(heLocation); }).rfind("Error 12150: ", 0), 0u);
    // A header no element stands for is refused before any platform call.
    EXPECT_CALL(api, HttpQueryInfoW(_, _, _, _, _)).Times(0);
    const auto unknown = static_cast<THttpHeader>(heXXSSProtection + 1);
    for (const std::function<void()>& query : std::vector<std::function<void()>>{
             [&] { Http.QueryInfo(unknown); }, [&] { Http.QueryInfoValue(unknown); },
             [&] { Http.QueryInfoSystemTime(unknown); }})
        EXPECT_EQ(RaisedMessage(query), "Invalid value 69 for THttpHeader");
}

TEST_F(ResponseTest, EmptyAnswersOfTheSizeQueryGiveAnEmptyText) {
    EXPECT_CALL(api, HttpQueryInfoW(kRequest, _, IsNull(), _, _))
        .WillOnce(Return(TRUE))
        .WillOnce([this](HINTERNET, DWORD, LPVOID, LPDWORD size, LPDWORD) {
            *size = 0;
            return FailWith(ERROR_INSUFFICIENT_BUFFER);
        })
        .WillOnce([this](HINTERNET, DWORD, LPVOID, LPDWORD size, LPDWORD) {
            *size = 3;  // less than one character and its terminator
            return FailWith(ERROR_INSUFFICIENT_BUFFER);
        });
    EXPECT_CALL(api, HttpQueryInfoW(kRequest, _, NotNull(), _, _)).Times(0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Http.QueryInfo(heServer), u"");
}

TEST_F(ResponseTest, CustomHeadersReturnTheWholeValueWhateverItsLength) {
    ServeHeaders({}, {{u"X-Long-Header-Name", u"v"},
                      {u"X-A", u"a much longer value than the name"},
                      {u"X-Same", u"123456"},
                      {u"X-Empty", u""}});
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Long-Header-Name")), "v");
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-A")), "a much longer value than the name");
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Same")), "123456");
    EXPECT_EQ(U8(Http.QueryInfo(UnicodeString(u"X-Empty"))), "");
    // The longer value was asked for twice, both times with the name in the
    // buffer.
    EXPECT_EQ(NamesAsked,
              (std::vector<std::string>{"X-Long-Header-Name", "X-A", "X-A", "X-Same", "X-Empty"}));

    EXPECT_EQ(RaisedMessage([&] { Http.CustomHeaders(u"X-Missing"); }).rfind("Error 12150: ", 0), 0u);

    // An empty name asks nothing.
    EXPECT_CALL(api, HttpQueryInfoW(_, _, _, _, _)).Times(0);
    EXPECT_EQ(Http.CustomHeaders(u""), u"");
}

TEST_F(ResponseTest, NumbersAndDatesPassTheirBuffersAndSkipTheStateCheck) {
    EXPECT_CALL(api, HttpQueryInfoW(kRequest, 19u | HTTP_QUERY_FLAG_NUMBER, NotNull(), Pointee(4u), IsNull()))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, LPDWORD, LPDWORD) {
            *static_cast<DWORD*>(buffer) = 302;
            return TRUE;
        });
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 302u);

    EXPECT_CALL(api,
                HttpQueryInfoW(kRequest, 9u | HTTP_QUERY_FLAG_SYSTEMTIME, NotNull(), Pointee(16u), IsNull()))
        .WillOnce([](HINTERNET, DWORD, LPVOID buffer, LPDWORD, LPDWORD) {
            const SYSTEMTIME time{1994, 11, 0, 6, 8, 49, 37, 0};
            std::memcpy(buffer, &time, sizeof(time));
            return TRUE;
        });
    const SYSTEMTIME date = Http.QueryInfoSystemTime(heDate);
    EXPECT_EQ(date.wYear, 1994);
    EXPECT_EQ(date.wMonth, 11);
    EXPECT_EQ(date.wSecond, 37);

    // Closed: the platform is asked with no request and its error raised,
    // never the closed-session message.
    Http.Close();
    EXPECT_CALL(api, HttpQueryInfoW(IsNull(), _, _, _, _))
        .Times(2)
        .WillRepeatedly(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RaisedMessage([&] { Http.QueryInfoValue(heStatusCode); }).rfind("Error 6: ", 0), 0u);
    EXPECT_EQ(RaisedMessage([&] { Http.QueryInfoSystemTime(heDate); }).rfind("Error 6: ", 0), 0u);
}

TEST_F(ResponseTest, ClosedComponentRefusesTextQueriesAndReads) {
    Http.Close();
    testing::StrictMock<MockInternetApi> strict;
    ScopedInternetApi useStrict(strict);
    AnsiString buffer(4, 'x');
    TBytes bytes(4);
    const std::vector<std::function<void()>> operations = {
        [&] { Http.QueryInfo(Cardinal{19}); },
        [&] { Http.Headers(heStatusCode); },
        [&] { Http.CustomHeaders(u"ETag"); },
        [&] { Http.AvailableData(); },
        [&] { Http.GetData(); },
        [&] { Http.GetBytes(); },
        [&] { Http.GetData(buffer); },
        [&] { Http.GetBytes(bytes); },
        [&] { Http.ReadData(); },
        [&] { Http.ReadBytes(); },
    };
    for (const auto& operation : operations) EXPECT_EQ(RaisedMessage(operation), kClosedMessage);
}

TEST_F(ResponseTest, PiecesAreSizedByWhatIsAvailableAndEndEmpty) {
    ServeBody("hello, world", {5, 5, 0, 100});
    EXPECT_CALL(api, InternetQueryDataAvailable(kRequest, NotNull(), 0u, 0u)).Times(4);
    EXPECT_EQ(Http.AvailableData(), 5u);
    EXPECT_EQ(Http.GetData(), "hello");  // 0 available: one byte is asked for
    EXPECT_EQ(Http.GetData(), ",");
    const TBytes rest = Http.GetBytes();
    EXPECT_EQ(std::string(rest.begin(), rest.end()), " world");
    EXPECT_EQ(Asks, (std::vector<DWORD>{5, 1, 6}));
    testing::Mock::VerifyAndClearExpectations(&api);
    EXPECT_EQ(Http.GetData(), "");
    EXPECT_TRUE(Http.GetBytes().empty());
}

TEST_F(ResponseTest, FillingReadsUseTheCallersBufferInPlace) {
    ServeBody("abcd", {});
    AnsiString empty;
    TBytes noBytes;
    EXPECT_CALL(api, InternetReadFile(_, _, _, _)).Times(0);
    EXPECT_EQ(Http.GetData(empty), 0u);
    EXPECT_EQ(Http.GetBytes(noBytes), 0u);
    testing::Mock::VerifyAndClearExpectations(&api);

    AnsiString buffer(10, '.');
    EXPECT_EQ(Http.GetData(buffer), 4u);
    EXPECT_EQ(buffer, "abcd......");
    EXPECT_EQ(Asks, std::vector<DWORD>{10});

    ServeBody("\x01\x02\x03", {});
    TBytes bytes(5, 0xEE);
    EXPECT_EQ(Http.GetBytes(bytes), 3u);
    EXPECT_EQ(bytes, (TBytes{1, 2, 3, 0xEE, 0xEE}));
}

TEST_F(ResponseTest, ReadingWholeBodies) {
    // Pieces of every size the platform reports, bytes of every value.
    std::string body;
    for (int i = 0; i < 5000; ++i) body += static_cast<char>(i * 7);
    ServeBody(body, {1, 0, 4096, 3, 0, 700});
    EXPECT_EQ(Http.ReadData(), body);

    ServeBody(body, {100});
    const TBytes bytes = Http.ReadBytes();
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), body);

    ServeBody("", {});
    EXPECT_EQ(Http.ReadData(), "");
    EXPECT_TRUE(Http.ReadBytes().empty());

    // After pieces were taken, the rest.
    ServeBody("head and tail", {5});
    EXPECT_EQ(Http.GetData(), "head ");
    EXPECT_EQ(Http.ReadData(), "and tail");

    // A declared length guides, but never commits, memory: a HEAD response
    // or a server that declares 1 GiB and sends less costs about what came.
    ON_CALL(api,
            HttpQueryInfoW(kRequest, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, NotNull(), _, _))
        .WillByDefault([](HINTERNET, DWORD, LPVOID buffer, LPDWORD size, LPDWORD) {
            const DWORD declared = 1u << 30;
            std::memcpy(buffer, &declared, sizeof declared);
            *size = sizeof declared;
            return TRUE;
        });
    for (const std::string& sent : {std::string(), body}) {
        ServeBody(sent, {0, 4096});
        const AnsiString data = Http.ReadData();
        EXPECT_EQ(data, sent);
        EXPECT_LE(data.capacity(), std::size_t{2} << 20);
        ServeBody(sent, {4096});
        EXPECT_LE(Http.ReadBytes().capacity(), std::size_t{2} << 20);
    }
}

TEST_F(ResponseTest, FailedReadDiscardsWhatWasReadAndKeepsTheRequest) {
    ServeBody("0123456789", {4});
    EXPECT_CALL(api, InternetReadFile(kRequest, _, _, _))
        .WillOnce([](HINTERNET, LPVOID buffer, DWORD, LPDWORD read) {
            std::memcpy(buffer, "0123", 4);
            *read = 4;
            return TRUE;
        })
        .WillOnce(api.Fail(ERROR_INTERNET_CONNECTION_RESET));
    EXPECT_EQ(RaisedMessage([&] { Http.ReadData(); }).rfind("Error 12031: ", 0), 0u);
    EXPECT_EQ(Http.HttpHandle(), kRequest);
}

}  // namespace
