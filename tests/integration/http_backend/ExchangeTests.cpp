// Whole exchanges: verbs and bodies, the three kinds of body framing,
// bodies cut short, connection errors and timeouts, keep-alive.
#include "HttpTestSupport.h"

#include <chrono>
#include <thread>

using namespace HttpTest;

namespace {

class Exchange : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FSession) << GetLastError(); }
    Handle FSession = OpenSession();
};

std::string Binary(std::size_t size) {
    std::string body = Bytes(TestServers::PatternBytes(7, size));
    body[0] = '\0';  // zeros, CR LF and high bytes all travel unchanged
    body[1] = '\r';
    body[2] = '\n';
    return body;
}

}  // namespace

TEST_F(Exchange, VerbsSendTheirBodiesByteForByte) {
    const Handle connection = Connect(FSession.get(), Echo());
    ASSERT_TRUE(connection);
    struct Case {
        std::u16string verb;
        std::size_t size;
    } const cases[] = {{u"POST", 70000}, {u"PUT", 3}, {u"POST", 0}, {u"DELETE", 0}, {u"PATCH", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.verb) + " " + std::to_string(c.size));
        const std::string body = Binary(c.size);
        const Handle request = Open(connection.get(), c.verb, u"/echo");
        ASSERT_TRUE(Send(request.get(), body)) << GetLastError();
        EXPECT_EQ(StatusCode(request.get()), 200u);
        EXPECT_EQ(Custom(request.get(), "X-Echo-Method"), Narrow(c.verb));
        EXPECT_EQ(Custom(request.get(), "X-Echo-Body-Length"), std::to_string(c.size));
        const std::string echoed = ReadAll(request.get());
        ASSERT_GE(echoed.size(), body.size());
        EXPECT_TRUE(echoed.compare(echoed.size() - body.size(), body.size(), body) == 0);
    }
}

TEST_F(Exchange, EmptyVerbAndObjectMeanGetOfTheRoot) {
    const Handle connection = Connect(FSession.get(), Nginx());
    const Handle request(HttpOpenRequestW(connection.get(), W(u""), W(u""), W(u""), W(u""), nullptr, 0, 0));
    ASSERT_TRUE(request);
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(
        Header(request.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_RAW_HEADERS_CRLF).substr(0, 16),
        "GET / HTTP/1.1\r\n");
}

TEST_F(Exchange, HeadHasNoBodyAndPutRoundTripsThroughNginx) {
    const Handle connection = Connect(FSession.get(), Nginx());
    const std::string body = Binary(100000);
    const Handle put = Open(connection.get(), u"PUT", u"/dav/http-backend/round trip.bin");
    ASSERT_TRUE(Send(put.get(), body)) << GetLastError();
    EXPECT_TRUE(StatusCode(put.get()) == 201 || StatusCode(put.get()) == 204) << StatusCode(put.get());
    ReadAll(put.get());

    const Handle get = Open(connection.get(), u"GET", u"/dav/http-backend/round%20trip.bin");
    ASSERT_TRUE(Send(get.get()));
    EXPECT_EQ(ReadAll(get.get()), body);

    const Handle head = Open(connection.get(), u"HEAD", u"/dav/http-backend/round%20trip.bin");
    ASSERT_TRUE(Send(head.get()));
    EXPECT_EQ(Header(head.get(), HTTP_QUERY_CONTENT_LENGTH), "100000");
    EXPECT_EQ(ReadAll(head.get()), "");

    // Nor has the response to a HEAD request that was given a body: the end
    // comes at once, not after the receive timeout.
    const Handle headWithBody = Open(connection.get(), u"HEAD", u"/dav/http-backend/round%20trip.bin");
    DWORD timeout = 3000;
    ASSERT_TRUE(
        InternetSetOptionW(headWithBody.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout)));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Send(headWithBody.get(), "12345")) << GetLastError();
    EXPECT_EQ(Header(headWithBody.get(), HTTP_QUERY_CONTENT_LENGTH), "100000");
    EXPECT_EQ(ReadAll(headWithBody.get()), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(Exchange, BodiesOfEveryFramingArriveWhole) {
    const Handle connection = Connect(FSession.get(), Echo());
    const std::size_t size = 300000;
    const std::string expected = Bytes(TestServers::PatternBytes(1, size));
    for (const char16_t* path :
         {u"/bytes?size=300000", u"/chunked?size=300000&chunk=777", u"/close-delimited?size=300000"}) {
        SCOPED_TRACE(Narrow(path));
        const Handle request = Open(connection.get(), u"GET", path);
        ASSERT_TRUE(Send(request.get()));
        EXPECT_EQ(ReadAll(request.get()), expected);
        DWORD read = 1;
        char byte;
        EXPECT_TRUE(InternetReadFile(request.get(), &byte, 1, &read));
        EXPECT_EQ(read, 0u) << "the end stays the end";
    }
}

// The buffer between libcurl and the reader stays bounded whatever the
// body's size: what is available at once never exceeds it.
TEST_F(Exchange, LargeBodyIsBufferedWithinBounds) {
    const Handle connection = Connect(FSession.get(), Nginx());
    const Handle request = Open(connection.get(), u"GET", Wide(TestServers::Setting("CORVANE_DATA_PATH")));
    ASSERT_TRUE(Send(request.get()));
    const std::size_t size = std::stoul(TestServers::Setting("CORVANE_DATA_SIZE"));
    std::string body;
    DWORD largest = 0;
    for (;;) {
        DWORD available = 0;
        ASSERT_TRUE(InternetQueryDataAvailable(request.get(), &available, 0, 0));
        largest = std::max(largest, available);
        // Slow, small reads leave the transfer ahead of the reader.
        std::string piece(std::min<DWORD>(available ? available : 1, 50000), '\0');
        DWORD read = 0;
        ASSERT_TRUE(InternetReadFile(request.get(), piece.data(), static_cast<DWORD>(piece.size()), &read));
        if (read == 0) break;
        body.append(piece, 0, read);
    }
    EXPECT_EQ(body, Bytes(TestServers::PatternBytes(1, size)));
    EXPECT_LE(largest, (1u << 20) + (256u << 10));
}

TEST_F(Exchange, BodyCutShortIsAnErrorAfterTheBytesThatCame) {
    const Handle connection = Connect(FSession.get(), Echo());
    for (const char16_t* path :
         {u"/drop?after=5000", u"/drop?after=5000&how=reset", u"/drop?after=5000&te=chunked"}) {
        SCOPED_TRACE(Narrow(path));
        Handle request = Open(connection.get(), u"GET", path);
        // Wine may send it over the connection the last case's server
        // dropped, which fails at once; the next request gets a new one.
        bool sent = Send(request.get());
        if (!sent && PlatformDifferences::Reason("wine-stale-connection")) {
            request = Open(connection.get(), u"GET", path);
            sent = Send(request.get());
        }
        ASSERT_TRUE(sent);
        std::string body;
        char buffer[1024];
        DWORD read = 0;
        BOOL ok;
        while ((ok = InternetReadFile(request.get(), buffer, sizeof(buffer), &read)) && read > 0)
            body.append(buffer, read);
        EXPECT_EQ(body, Bytes(TestServers::PatternBytes(1, 5000)));
        if (PlatformDifferences::Reason("wine-short-body")) {
            EXPECT_TRUE(ok) << "Wine ends a short body as if complete";
            continue;
        }
        EXPECT_FALSE(ok) << "a short body must not read as complete";
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_INTERNET_CONNECTION_ABORTED || error == ERROR_INTERNET_CONNECTION_RESET)
            << error;
    }
}

TEST_F(Exchange, ConnectionFailuresGiveThePlatformErrors) {
    {
        // An empty label: the resolver refuses the name without asking a
        // name server, so the test sends nothing off this machine.
        const Handle connection = Connect(FSession.get(), Server{u"no-such-host..invalid", 80, false});
        const Handle request = Open(connection.get(), u"GET", u"/");
        SetLastError(0);
        EXPECT_FALSE(Send(request.get()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
    }
    {
        const Handle connection = Connect(FSession.get(), Server{u"127.0.0.1", ClosedPort(), false});
        const Handle request = Open(connection.get(), u"GET", u"/");
        EXPECT_FALSE(Send(request.get()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
    }
    {
        const Handle connection = Connect(FSession.get(), Echo());
        const Handle request = Open(connection.get(), u"GET", u"/hangup");
        if (PlatformDifferences::Reason("wine-empty-response")) {
            EXPECT_TRUE(Send(request.get())) << "Wine takes no answer as an answer";
            EXPECT_EQ(StatusCode(request.get()), 0u);
        } else {
            EXPECT_FALSE(Send(request.get()));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_INVALID_SERVER_RESPONSE));
        }
    }
}

namespace {

// The error of a receive time-out: ERROR_INTERNET_TIMEOUT, or what Wine
// gives instead.
::testing::AssertionResult IsTimeoutError(DWORD error) {
    if (error == ERROR_INTERNET_TIMEOUT) return ::testing::AssertionSuccess();
    if (PlatformDifferences::Reason("wine-receive-timeout") &&
        (error == ERROR_INTERNET_CONNECTION_ABORTED || error == 10060 /* WSAETIMEDOUT */))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "error " << error << " is no time-out";
}

}  // namespace

TEST_F(Exchange, ReceiveTimeoutEndsAStalledResponse) {
    const Handle connection = Connect(FSession.get(), Echo());
    DWORD timeout = 400;
    ASSERT_TRUE(
        InternetSetOptionW(connection.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout)));

    // Nothing comes before the headers.
    const Handle headers = Open(connection.get(), u"GET", u"/stall?seconds=5");
    if (!PlatformDifferences::Reason("wine-timeout-query")) {
        DWORD inherited = 0, size = sizeof(inherited);
        ASSERT_TRUE(InternetQueryOptionW(headers.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &inherited, &size));
        EXPECT_EQ(inherited, 400u);
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Send(headers.get()));
    EXPECT_TRUE(IsTimeoutError(GetLastError()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

    // The headers and part of the body come, the rest does not: the request
    // option wins over the connection's.
    const Handle body = Open(connection.get(), u"GET", u"/stall?seconds=5&before=body&size=100&sent=10");
    timeout = 300;
    ASSERT_TRUE(InternetSetOptionW(body.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout)));
    ASSERT_TRUE(Send(body.get()));
    // The first read asks for no more than came: a blocking read may wait to
    // fill its buffer.
    char buffer[100];
    DWORD read = 0;
    ASSERT_TRUE(InternetReadFile(body.get(), buffer, 10, &read));
    EXPECT_EQ(read, 10u);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(InternetReadFile(body.get(), buffer, sizeof(buffer), &read));
    EXPECT_TRUE(IsTimeoutError(GetLastError()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// Kept-alive connections are the process's: a second connection handle to
// the same server reuses the first one's connection, and closing a
// connection handle closes none.
TEST_F(Exchange, KeptAliveConnectionsServeEveryConnectionHandle) {
    Handle first = Connect(FSession.get(), Echo());
    const Handle second = Connect(FSession.get(), Echo());
    std::vector<std::string> ids;
    const auto get = [&](HINTERNET connection) {
        const Handle request = Open(connection, u"GET", u"/bytes?size=10");
        ASSERT_TRUE(Send(request.get()));
        EXPECT_EQ(ReadAll(request.get()).size(), 10u);
        ids.push_back(Custom(request.get(), "X-Connection-Id"));
    };
    for (HINTERNET connection : {first.get(), first.get(), second.get()}) get(connection);
    first.Close();
    get(second.get());
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_EQ(ids[0], ids[1]);
    EXPECT_EQ(ids[1], ids[2]) << "another connection handle to the server made a connection of its own";
    EXPECT_EQ(ids[2], ids[3]) << "closing a connection handle closed the connection";

    // A request closed before its body was read loses its connection, and
    // the next request still works.
    {
        const Handle unread = Open(second.get(), u"GET", u"/bytes?size=2000000");
        ASSERT_TRUE(Send(unread.get()));
    }
    const Handle after = Open(second.get(), u"GET", u"/bytes?size=10");
    ASSERT_TRUE(Send(after.get()));
    EXPECT_EQ(ReadAll(after.get()).size(), 10u);
}

TEST_F(Exchange, CallsOutOfOrderFailCleanly) {
    const Handle connection = Connect(FSession.get(), Echo());
    const Handle request = Open(connection.get(), u"GET", u"/echo");
    char buffer[16];
    DWORD count = 0;
    if (!PlatformDifferences::Reason("wine-request-before-send")) {
        EXPECT_FALSE(InternetReadFile(request.get(), buffer, sizeof(buffer), &count));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_STATE));
        EXPECT_FALSE(InternetQueryDataAvailable(request.get(), &count, 0, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_STATE));
    }
    // A connection handle is no request, and the session no connection.
    EXPECT_EQ(HttpOpenRequestW(FSession.get(), W(u"GET"), W(u"/"), W(u""), W(u""), nullptr, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE));
    EXPECT_FALSE(HttpSendRequestW(connection.get(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE));
    // A verb that would break the request line is refused.
    if (!PlatformDifferences::Reason("wine-unchecked-request-text")) {
        EXPECT_EQ(HttpOpenRequestW(connection.get(), W(u"GET /x HTTP/1.1\r\nX:"), W(u"/"), W(u""), W(u""),
                                   nullptr, 0, 0),
                  nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(InternetConnectW(FSession.get(), W(u""), 80, W(u""), W(u""), INTERNET_SERVICE_HTTP, 0, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// A server name that is no host name never reaches a server: "user@host"
// must not become the host "host" with the connection's credentials. The
// backend refuses it when the connection is made, Wine when it sends; both
// with the error of a name that cannot be resolved. IPv6 addresses, with or
// without brackets, are server names.
TEST_F(Exchange, ServerNamesHoldNothingButTheHost) {
    const bool refusedAtConnect = !PlatformDifferences::Reason("wine-server-name-check");
    const std::vector<std::u16string> names = {
        u"corvane@127.0.0.1", u"127.0.0.1/x",  u"127.0.0.1\\x",    u"127.0.0.1?x",   u"127.0.0.1#x",
        u"127.0.0.1 x",       u"127.0.0.1\tx", u"127.0.0.1\r\nX:", u"127.0.0.1\x7F", u"127.0.0.1\u3000x"};
    for (const std::u16string& name : names) {
        SCOPED_TRACE(Narrow(name));
        SetLastError(0);
        Handle connection = Connect(FSession.get(), {name, Echo().port}, u"user", u"password");
        if (refusedAtConnect) {
            EXPECT_FALSE(connection);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
            continue;
        }
        const Handle request = Open(connection.get(), u"GET", u"/echo");
        EXPECT_FALSE(Send(request.get()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
    }
    // Brackets only around a whole IPv6 address: a port after them would
    // override the one given.
    if (refusedAtConnect) {
        for (const char16_t* name : {u"[::1]:8080", u"[127.0.0.1]", u"[::1", u"::1]"})
            EXPECT_FALSE(Connect(FSession.get(), {name, Echo().port})) << Narrow(name);
    }
    for (const char16_t* name :
         {u"::1", u"[::1]", u"localhost", u"xn--bcher-kva.example", u"b\u00FCcher.example"})
        EXPECT_TRUE(Connect(FSession.get(), {name, Echo().port})) << Narrow(name) << " " << GetLastError();
}

// Closing a request from another thread ends a wait in progress at once.
TEST_F(Exchange, ClosingFromAnotherThreadEndsAWait) {
    SKIP_IF_PLATFORM_DIFFERS("wine-close-during-wait");
    const Handle connection = Connect(FSession.get(), Echo());
    Handle request = Open(connection.get(), u"GET", u"/stall?seconds=10");
    const HINTERNET value = request.release();
    std::thread closer([value] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        InternetCloseHandle(value);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(HttpSendRequestW(value, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    closer.join();
}
