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
std::string AllByteValues(std::size_t Size)
{
    std::string Body(Size, '\0');
    for (std::size_t I = 0; I < Size; ++I)
        Body[I] = static_cast<char>((I * 131 + I / 256) & 0xFF);
    return Body;
}

TEST_F(Exchange, GetReadsAStaticFileWhole)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_HTTP_URL") + W(TestServers::Setting("CORVANE_DATA_PATH")));
    Http.SetVerb(veGet);
    Send(Http, u"", u"");  // verb and object from the properties
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 200u);
    const std::size_t Size = std::stoul(TestServers::Setting("CORVANE_DATA_SIZE"));
    EXPECT_EQ(Http.QueryInfoValue(heContentLength), Size);
    const TBytes Body = Http.ReadBytes();
    EXPECT_TRUE(Body == TestServers::PatternBytes(1, Size)) << "body of " << Body.size() << " bytes differs";
    // Read to its end: further pieces are empty.
    EXPECT_TRUE(Http.GetBytes().empty());
}

TEST_F(Exchange, BodyReadInPiecesIntoTheCallersBuffer)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(Http, u"GET", u"/chunked?size=70000&chunk=3000&seed=5");
    AnsiString Body;
    AnsiString Buffer(1000, '\0');
    while (const Cardinal Count = Http.GetData(Buffer))
        Body.append(Buffer, 0, Count);
    EXPECT_TRUE(Bytes(Body) == TestServers::PatternBytes(5, 70000)) << Body.size() << " bytes read";

    // The same through pieces sized by what is available, then whole.
    Send(Http, u"GET", u"/bytes?size=50000&seed=9");
    AnsiString First = Http.GetData();
    ASSERT_FALSE(First.empty());
    EXPECT_TRUE(Bytes(First + Http.ReadData()) == TestServers::PatternBytes(9, 50000));
}

TEST_F(Exchange, HeadHasHeadersAndNoBody)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_HTTP_URL"));
    Http.SetVerb(veHead);
    Http.Open();
    Http.OpenRequest(u"", W(TestServers::Setting("CORVANE_SMALL_PATH")));
    Http.SendRequest(u"", AnsiString());
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 200u);
    EXPECT_EQ(Http.QueryInfoValue(heContentLength), 100u);
    EXPECT_EQ(Http.ReadData(), "");
}

TEST_F(Exchange, PostedBodiesArriveUnchanged)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"));
    const std::string Body = AllByteValues(100000);

    Send(Http, u"POST", u"/echo/bytes", u"Content-Type: application/octet-stream\r\n", Bytes(Body));
    const std::string Echo = Str(Http.ReadBytes());
    EXPECT_EQ(EchoedHead(Echo).rfind("POST /echo/bytes HTTP/1.1\r\n", 0), 0u);
    EXPECT_TRUE(EchoedBody(Echo) == Body) << "echoed body differs";
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Echo-Body-Length")), "100000");

    // The byte-string form, with NUL and high bytes.
    Http.OpenRequest(u"POST", u"/echo/text");
    const AnsiString Small("a\0b\xff\r\nc", 7);
    Http.SendRequest(u"", Small);
    EXPECT_EQ(EchoedBody(Http.ReadData()), Small);

    // No body at all.
    Http.OpenRequest(u"POST", u"/echo");
    Http.SendRequest(u"", TBytes());
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Echo-Body-Length")), "0");
    EXPECT_EQ(EchoedBody(Http.ReadData()), "");
}

TEST_F(Exchange, PutStoresTheBodyAndGetReturnsIt)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_DAV_URL"));
    const UnicodeString Path = Http.UrlPath() + u"component-put.bin";
    const std::string Body = AllByteValues(300000);

    Send(Http, u"PUT", Path, u"", Bytes(Body));
    const Cardinal Status = Http.QueryInfoValue(heStatusCode);
    EXPECT_TRUE(Status == 201 || Status == 204) << Status;
    Http.ReadData();

    Send(Http, u"GET", Path);
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 200u);
    EXPECT_TRUE(Str(Http.ReadBytes()) == Body) << "stored body differs";

    Send(Http, u"DELETE", Path);
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 204u);
    Http.CloseRequest();
}

TEST_F(Exchange, RequestsOfOneComponentShareAKeptAliveConnection)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"), {flKeepConnection});
    std::vector<std::string> Connections;
    std::vector<Cardinal> Served;  // requests the connection has carried
    for (int I = 0; I < 3; ++I) {
        Send(Http, u"GET", u"/bytes?size=10");
        Http.ReadData();
        Connections.push_back(U8(Http.CustomHeaders(u"X-Connection-Id")));
        Served.push_back(std::stoul(U8(Http.CustomHeaders(u"X-Connection-Requests"))));
    }
    EXPECT_EQ(Connections[0], Connections[1]);
    EXPECT_EQ(Connections[1], Connections[2]);
    // wininet.dll pools connections for the whole process, so the first
    // request may find one that earlier sessions used.
    EXPECT_EQ(Served[1], Served[0] + 1);
    EXPECT_EQ(Served[2], Served[0] + 2);
    if (!PlatformDifferences::OnWindowsApi()) {
        EXPECT_EQ(Served[0], 1u);
    }
}

TEST_F(Exchange, StatusNotificationsReachTheComponent)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Http.SetOnCallback([this, &Http](TObject* Sender, Integer Status, void*, Integer) {
        Events.push_back(Sender == &Http ? std::to_string(Status) : "other sender");
    });
    Send(Http, u"GET", u"/echo");
    Http.ReadData();
    const auto Has = [&](Integer Status) {
        return std::find(Events.begin(), Events.end(), std::to_string(Status)) != Events.end();
    };
    EXPECT_EQ(std::find(Events.begin(), Events.end(), "other sender"), Events.end());
    EXPECT_TRUE(Has(INTERNET_STATUS_SENDING_REQUEST));
    EXPECT_TRUE(Has(INTERNET_STATUS_REQUEST_SENT));
    EXPECT_TRUE(Has(INTERNET_STATUS_RESPONSE_RECEIVED));
}

}  // namespace
