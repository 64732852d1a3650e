// Status notifications of an exchange, closing, and the session's proxy.
#include "HttpTestSupport.h"

#include <mutex>

using namespace HttpTest;

namespace {

struct Notification {
    HINTERNET handle;
    DWORD_PTR context;
    DWORD status;
    std::string data;  // text data narrowed, a DWORD as its decimal value
};

std::mutex RecordMutex;
std::vector<Notification> Recorded;

void CALLBACK Record(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID data, DWORD length) {
    Notification n{handle, context, status, {}};
    switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
        // The data begins with the new handle (wininet.dll gives the handle
        // alone, the backend an INTERNET_ASYNC_RESULT holding it); the call
        // itself may be made for the handle it was created under (wininet.dll
        // does so), so the notification is filed under the new one.
        EXPECT_GE(length, sizeof(HINTERNET));
        n.handle = *static_cast<const HINTERNET*>(data);
        break;
    case INTERNET_STATUS_NAME_RESOLVED:
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
        // The address comes as an 8-bit text, to the W callback too.
        n.data = static_cast<const char*>(data);
        EXPECT_EQ(length, n.data.size() + 1);
        break;
    case INTERNET_STATUS_RESOLVING_NAME:
    case INTERNET_STATUS_REDIRECT:
        n.data = Narrow(static_cast<const char16_t*>(data));
        EXPECT_EQ(length, (n.data.size() + 1) * 2);
        break;
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
        EXPECT_EQ(length, 4u);
        n.data = std::to_string(*static_cast<const DWORD*>(data));
        break;
    default:
        break;
    }
    std::lock_guard<std::mutex> lock(RecordMutex);
    Recorded.push_back(n);
}

std::vector<DWORD> Statuses(HINTERNET handle) {
    std::vector<DWORD> out;
    for (const Notification& n : Recorded)
        if (n.handle == handle) out.push_back(n.status);
    return out;
}

// The statuses of an exchange whose body has been read: reading may receive
// more of the response, which wininet.dll reports as further
// RECEIVING_RESPONSE / RESPONSE_RECEIVED pairs; those after the first `head`
// statuses are left out.
std::vector<DWORD> ExchangeStatuses(HINTERNET handle, std::size_t head) {
    std::vector<DWORD> seen = Statuses(handle);
    while (seen.size() >= head + 2 && seen.end()[-2] == INTERNET_STATUS_RECEIVING_RESPONSE &&
           seen.end()[-1] == INTERNET_STATUS_RESPONSE_RECEIVED)
        seen.resize(seen.size() - 2);
    return seen;
}

class Status : public ::testing::Test {
protected:
    void SetUp() override {
        Recorded.clear();
        ASSERT_TRUE(FSession);
        ASSERT_NE(InternetSetStatusCallbackW(FSession.get(), &Record), INTERNET_INVALID_STATUS_CALLBACK);
    }
    Handle FSession = OpenSession();
};

}  // namespace

TEST_F(Status, AnExchangeReportsEachPhaseWithItsData) {
    const Server echo = Echo();
    Handle connection = Connect(FSession.get(), echo, u"", u"", 11);
    const HINTERNET connectionValue = connection.get();
    Handle request = Open(connection.get(), u"POST", u"/echo", 0, 22);
    const HINTERNET requestValue = request.get();
    ASSERT_TRUE(Send(request.get(), "12345"));
    ReadAll(request.get());

    const std::vector<DWORD> expected = {
        INTERNET_STATUS_HANDLE_CREATED,      INTERNET_STATUS_RESOLVING_NAME,
        INTERNET_STATUS_NAME_RESOLVED,       INTERNET_STATUS_CONNECTING_TO_SERVER,
        INTERNET_STATUS_CONNECTED_TO_SERVER, INTERNET_STATUS_SENDING_REQUEST,
        INTERNET_STATUS_REQUEST_SENT,        INTERNET_STATUS_RECEIVING_RESPONSE,
        INTERNET_STATUS_RESPONSE_RECEIVED,
    };
    EXPECT_EQ(ExchangeStatuses(requestValue, expected.size()), expected);
    for (const Notification& n : Recorded) {
        const auto check = [&](bool applies, auto&& assertion) {
            if (applies) assertion();
        };
        check(n.handle == requestValue, [&] { EXPECT_EQ(n.context, 22u) << n.status; });
        check(n.handle == connectionValue, [&] { EXPECT_EQ(n.context, 11u) << n.status; });
        check(n.status == INTERNET_STATUS_RESOLVING_NAME, [&] { EXPECT_EQ(n.data, Narrow(echo.host)); });
        check(n.status == INTERNET_STATUS_CONNECTED_TO_SERVER, [&] { EXPECT_EQ(n.data, "127.0.0.1"); });
        check(n.status == INTERNET_STATUS_REQUEST_SENT, [&] { EXPECT_GT(std::stoul(n.data), 5u); });
        // Bytes received so far: the response may come in pieces.
        check(n.status == INTERNET_STATUS_RESPONSE_RECEIVED, [&] { EXPECT_GT(std::stoul(n.data), 0u); });
    }

    // The next request reuses the connection: no name, no connect.
    Recorded.clear();
    Handle second = Open(connection.get(), u"GET", u"/echo", 0, 33);
    const HINTERNET secondValue = second.get();
    ASSERT_TRUE(Send(second.get()));
    ReadAll(second.get());
    if (PlatformDifferences::Reason("wine-status-reused-connection")) {
        EXPECT_EQ(ExchangeStatuses(secondValue, 7),
                  (std::vector<DWORD>{INTERNET_STATUS_HANDLE_CREATED, INTERNET_STATUS_CONNECTING_TO_SERVER,
                                      INTERNET_STATUS_CONNECTED_TO_SERVER, INTERNET_STATUS_SENDING_REQUEST,
                                      INTERNET_STATUS_REQUEST_SENT, INTERNET_STATUS_RECEIVING_RESPONSE,
                                      INTERNET_STATUS_RESPONSE_RECEIVED}));
    } else {
        EXPECT_EQ(ExchangeStatuses(secondValue, 5),
                  (std::vector<DWORD>{INTERNET_STATUS_HANDLE_CREATED, INTERNET_STATUS_SENDING_REQUEST,
                                      INTERNET_STATUS_REQUEST_SENT, INTERNET_STATUS_RECEIVING_RESPONSE,
                                      INTERNET_STATUS_RESPONSE_RECEIVED}));
    }

    // Closing the connection handle closes its requests first, then itself;
    // the kept-alive connection stays in the process's pool, unreported.
    Recorded.clear();
    connection.Close();
    EXPECT_EQ(Statuses(requestValue), std::vector<DWORD>{INTERNET_STATUS_HANDLE_CLOSING});
    EXPECT_EQ(Statuses(secondValue), std::vector<DWORD>{INTERNET_STATUS_HANDLE_CLOSING});
    EXPECT_EQ(Statuses(connectionValue), std::vector<DWORD>{INTERNET_STATUS_HANDLE_CLOSING});
    ASSERT_FALSE(Recorded.empty());
    EXPECT_EQ(Recorded.back().handle, connectionValue);
    char byte;
    DWORD read = 0;
    EXPECT_FALSE(InternetReadFile(requestValue, &byte, 1, &read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    request.release();
    second.release();
}

TEST_F(Status, RedirectsAndRequestsClosedMidBody) {
    const Handle connection = Connect(FSession.get(), Echo(), u"", u"", 11);
    const Handle request = Open(connection.get(), u"GET", u"/redirect/1", 0, 22);
    ASSERT_TRUE(Send(request.get()));
    std::vector<std::string> redirects;
    for (const Notification& n : Recorded)
        if (n.status == INTERNET_STATUS_REDIRECT) redirects.push_back(n.data);
    EXPECT_EQ(redirects, std::vector<std::string>{TestServers::Setting("CORVANE_ECHO_URL") + "/echo"});

    // A request closed in the middle of a body gives up its connection.
    Handle big = Open(connection.get(), u"GET", u"/bytes?size=5000000", 0, 33);
    const HINTERNET bigValue = big.get();
    ASSERT_TRUE(Send(big.get()));
    Recorded.clear();
    big.Close();
    if (PlatformDifferences::Reason("wine-closing-connection-notices")) {
        ASSERT_FALSE(Statuses(bigValue).empty());
        EXPECT_EQ(Statuses(bigValue).back(), static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING));
    } else {
        EXPECT_EQ(Statuses(bigValue),
                  (std::vector<DWORD>{INTERNET_STATUS_CLOSING_CONNECTION, INTERNET_STATUS_CONNECTION_CLOSED,
                                      INTERNET_STATUS_HANDLE_CLOSING}));
    }

    // A request without a context value reports nothing, even beneath a
    // connection and session that have callbacks.
    Recorded.clear();
    Handle silent = Open(connection.get(), u"GET", u"/redirect/1");
    const HINTERNET silentValue = silent.get();
    ASSERT_TRUE(Send(silent.get()));
    ReadAll(silent.get());
    silent.Close();
    EXPECT_TRUE(Statuses(silentValue).empty());
}

// A session with a proxy sends requests there in absolute form (the echo
// server stands in for the proxy); the bypass list sends hosts direct.
TEST_F(Status, SessionProxyAndBypass) {
    const std::u16string proxy = Echo().host + u":" + Wide(std::to_string(Echo().port));
    const Handle session(InternetOpenW(W(u"CorvaneTest/1.0"), INTERNET_OPEN_TYPE_PROXY, W(proxy.c_str()),
                                       W(u"*.bypassed.invalid"), 0));
    ASSERT_TRUE(session);
    const Handle viaProxy = Connect(session.get(), Server{u"origin.corvane.invalid", 8080, false});
    const Handle request = Open(viaProxy.get(), u"GET", u"/echo?via=proxy");
    ASSERT_TRUE(Send(request.get())) << GetLastError();
    EXPECT_EQ(Custom(request.get(), "X-Echo-Target"), "http://origin.corvane.invalid:8080/echo?via=proxy");
    const std::string echoed = ReadAll(request.get());
    EXPECT_NE(echoed.find("\r\nHost: origin.corvane.invalid:8080\r\n"), std::string::npos) << echoed;

    // An empty label: the resolver refuses the name without asking a name
    // server, so the test sends nothing off this machine.
    const Handle direct = Connect(session.get(), Server{u"host..bypassed.invalid", 80, false});
    const Handle bypassed = Open(direct.get(), u"GET", u"/echo");
    EXPECT_FALSE(Send(bypassed.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
}
