// Complete exchanges through the HTTP component: GET, HEAD, POST and PUT with
// bodies that come back byte for byte, the body read in every form, requests
// sharing one kept-alive connection, and status notifications reaching the
// component.
#include "ComponentTesting.h"

#include <algorithm>

using namespace ComponentTest;

namespace {

class Exchange : public ComponentExchange {};

// Every byte value, in an order that is not the identity.
std::string AllByteValues(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
    return body;
}

TEST_F(Exchange, GetReadsAStaticFileWhole) {
    TINetHttp& http = Component(ServerUrl("CORVANE_HTTP_URL") + W(TestServers::Setting("CORVANE_DATA_PATH")));
    http.SetVerb(veGet);
    Send(http, u"", u"");  // verb and object from the properties
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 200u);
    const std::size_t size = std::stoul(TestServers::Setting("CORVANE_DATA_SIZE"));
    EXPECT_EQ(http.QueryInfoValue(heContentLength), size);
    const TBytes body = http.ReadBytes();
    EXPECT_TRUE(body == TestServers::PatternBytes(1, size)) << "body of " << body.size() << " bytes differs";
    // Read to its end: further pieces are empty.
    EXPECT_TRUE(http.GetBytes().empty());
}

TEST_F(Exchange, BodyReadInPiecesIntoTheCallersBuffer) {
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(http, u"GET", u"/chunked?size=70000&chunk=3000&seed=5");
    AnsiString body;
    AnsiString buffer(1000, '\0');
    while (const Cardinal count = http.GetData(buffer)) body.append(buffer, 0, count);
    EXPECT_TRUE(Bytes(body) == TestServers::PatternBytes(5, 70000)) << body.size() << " bytes read";

    // The same through pieces sized by what is available, then whole.
    Send(http, u"GET", u"/bytes?size=50000&seed=9");
    AnsiString first = http.GetData();
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(Bytes(first + http.ReadData()) == TestServers::PatternBytes(9, 50000));
}

TEST_F(Exchange, HeadHasHeadersAndNoBody) {
    TINetHttp& http = Component(ServerUrl("CORVANE_HTTP_URL"));
    http.SetVerb(veHead);
    http.Open();
    http.OpenRequest(u"", W(TestServers::Setting("CORVANE_SMALL_PATH")));
    http.SendRequest(u"", AnsiString());
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 200u);
    EXPECT_EQ(http.QueryInfoValue(heContentLength), 100u);
    EXPECT_EQ(http.ReadData(), "");
}

TEST_F(Exchange, PostedBodiesArriveUnchanged) {
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"));
    const std::string body = AllByteValues(100000);

    Send(http, u"POST", u"/echo/bytes", u"Content-Type: application/octet-stream\r\n", Bytes(body));
    const std::string echo = Str(http.ReadBytes());
    EXPECT_EQ(EchoedHead(echo).rfind("POST /echo/bytes HTTP/1.1\r\n", 0), 0u);
    EXPECT_TRUE(EchoedBody(echo) == body) << "echoed body differs";
    EXPECT_EQ(U8(http.CustomHeaders(u"X-Echo-Body-Length")), "100000");

    // The byte-string form, with NUL and high bytes.
    http.OpenRequest(u"POST", u"/echo/text");
    const AnsiString small("a\0b\xff\r\nc", 7);
    http.SendRequest(u"", small);
    EXPECT_EQ(EchoedBody(http.ReadData()), small);

    // No body at all.
    http.OpenRequest(u"POST", u"/echo");
    http.SendRequest(u"", TBytes());
    EXPECT_EQ(U8(http.CustomHeaders(u"X-Echo-Body-Length")), "0");
    EXPECT_EQ(EchoedBody(http.ReadData()), "");
}

TEST_F(Exchange, PutStoresTheBodyAndGetReturnsIt) {
    TINetHttp& http = Component(ServerUrl("CORVANE_DAV_URL"));
    const UnicodeString path = http.UrlPath() + u"component-put.bin";
    const std::string body = AllByteValues(300000);

    Send(http, u"PUT", path, u"", Bytes(body));
    const Cardinal status = http.QueryInfoValue(heStatusCode);
    EXPECT_TRUE(status == 201 || status == 204) << status;
    http.ReadData();

    Send(http, u"GET", path);
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 200u);
    EXPECT_TRUE(Str(http.ReadBytes()) == body) << "stored body differs";

    Send(http, u"DELETE", path);
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 204u);
    http.CloseRequest();
}

TEST_F(Exchange, RequestsOfOneComponentShareAKeptAliveConnection) {
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"), {flKeepConnection});
    std::vector<std::string> connections;
    std::vector<Cardinal> served;  // requests the connection has carried
    for (int i = 0; i < 3; ++i) {
        Send(http, u"GET", u"/bytes?size=10");
        http.ReadData();
        connections.push_back(U8(http.CustomHeaders(u"X-Connection-Id")));
        served.push_back(std::stoul(U8(http.CustomHeaders(u"X-Connection-Requests"))));
    }
    EXPECT_EQ(connections[0], connections[1]);
    EXPECT_EQ(connections[1], connections[2]);
    // wininet.dll pools connections for the whole process, so the first
    // request may find one that earlier sessions used.
    EXPECT_EQ(served[1], served[0] + 1);
    EXPECT_EQ(served[2], served[0] + 2);
    if (!PlatformDifferences::OnWindowsApi()) {
        EXPECT_EQ(served[0], 1u);
    }
}

TEST_F(Exchange, StatusNotificationsReachTheComponent) {
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"));
    http.SetOnCallback([this, &http](TObject* sender, Integer status, void*, Integer) {
        Events.push_back(sender == &http ? std::to_string(status) : "other sender");
    });
    Send(http, u"GET", u"/echo");
    http.ReadData();
    const auto has = [&](Integer status) {
        return std::find(Events.begin(), Events.end(), std::to_string(status)) != Events.end();
    };
    EXPECT_EQ(std::find(Events.begin(), Events.end(), "other sender"), Events.end());
    EXPECT_TRUE(has(INTERNET_STATUS_SENDING_REQUEST));
    EXPECT_TRUE(has(INTERNET_STATUS_REQUEST_SENT));
    EXPECT_TRUE(has(INTERNET_STATUS_RESPONSE_RECEIVED));
}

}  // namespace
