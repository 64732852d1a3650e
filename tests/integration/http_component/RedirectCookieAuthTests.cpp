// Redirects, cookies and authentication through the component: the request
// flags and security flags of the component reach each request and decide
// what the platform does.
#include "ComponentTesting.h"

using namespace ComponentTest;

namespace {

class Follow : public ComponentExchange {
protected:
    // A query value with the characters a URL's query cannot hold as such.
    static UnicodeString Escaped(const UnicodeString& Text)
    {
        UnicodeString Out;
        for (char16_t C : Text) {
            if (C == u':' || C == u'/' || C == u'?' || C == u'&' || C == u'=') {
                static const char16_t Hex[] = u"0123456789ABCDEF";
                Out += u'%';
                Out += Hex[C >> 4];
                Out += Hex[C & 15];
            } else {
                Out += C;
            }
        }
        return Out;
    }
};

TEST_F(Follow, RedirectsAreFollowedUnlessTheComponentSaysNo)
{
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(Http, u"GET", u"/redirect/3?trail=1");
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 200u);
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Echo-Target")), "/echo?trail=1");
    Http.ReadData();

    // 303 turns a POST into a GET without body; 307 keeps both.
    Send(Http, u"POST", u"/redirect/1?status=303", u"", Bytes("payload"));
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Echo-Method")), "GET");
    Http.ReadData();
    Send(Http, u"POST", u"/redirect/1?status=307", u"", Bytes("payload"));
    EXPECT_EQ(U8(Http.CustomHeaders(u"X-Echo-Method")), "POST");
    const std::string Echoed = EchoedBody(Http.ReadData());
    if (!PlatformDifferences::Reason("wine-redirect-307-body")) {
        EXPECT_EQ(Echoed, "payload");
    }

    Http.SetFlags({flNoAutoRedirect});
    Send(Http, u"GET", u"/redirect/3");
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 302u);
    EXPECT_EQ(U8(Http.Headers(heLocation)), "/redirect/2");
}

TEST_F(Follow, CrossSchemeRedirectsNeedTheMatchingFlag)
{
    SKIP_IF_PLATFORM_DIFFERS("wine-redirect-scheme-change");
    const UnicodeString Tls = HttpsServerUrl("CORVANE_ECHO_TLS_URL");
    const UnicodeString Plain = ServerUrl("CORVANE_ECHO_URL");

    TINetHttp& Up = Component(Plain);
    const UnicodeString ToHttps = u"/redirect-to?url=" + Escaped(Tls + u"/echo");
    EXPECT_TRUE(RaisesCode(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR, [&] { Send(Up, u"GET", ToHttps); }));
    Up.SetFlags({flIgnoreRedirectToHttp});  // the other direction's flag does not help
    EXPECT_TRUE(RaisesCode(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR, [&] { Send(Up, u"GET", ToHttps); }));
    Up.SetFlags({flIgnoreRedirectToHttps});
    Send(Up, u"GET", ToHttps);
    EXPECT_EQ(Up.QueryInfoValue(heStatusCode), 200u);
    EXPECT_TRUE(Up.SecurityFlags().Contains(sfSecureTransfers));

    // Down from HTTPS, allowed through the component's security flags, which
    // it applies to each request it opens.
    TINetHttp& Down = Component(Tls, {flSecure});
    const UnicodeString ToHttp = u"/redirect-to?url=" + Escaped(Plain + u"/echo");
    EXPECT_TRUE(RaisesCode(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, [&] { Send(Down, u"GET", ToHttp); }));
    Down.SetSecurityFlags({sfIgnoreRedirectToHttp});
    Send(Down, u"GET", ToHttp);
    EXPECT_EQ(Down.QueryInfoValue(heStatusCode), 200u);
}

TEST_F(Follow, CookiesLastAcrossRequestsAndComponents)
{
    // Wine gives a cookie without a Path the request's whole path as its
    // own; with Path=/ the rest holds on every platform.
    const bool DefaultPath = !PlatformDifferences::Reason("wine-cookie-default-path");
    const UnicodeString Path = DefaultPath ? u"" : u"%3B%20Path%3D%2F";
    TINetHttp& Http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(Http, u"GET", u"/set-cookie?component_a=1" + Path + u"&component_b=two" + Path);
    EXPECT_EQ(U8(Http.Headers(heSetCookie)), DefaultPath ? "component_a=1" : "component_a=1; Path=/");
    Http.ReadData();

    Send(Http, u"GET", u"/cookies");
    const std::string Sent = Http.ReadData();
    EXPECT_NE(Sent.find("component_a=1"), std::string::npos) << Sent;
    EXPECT_NE(Sent.find("component_b=two"), std::string::npos) << Sent;

    // Another component of the process sends them too; one with
    // flNoCookies sends none and keeps none.
    TINetHttp& Other = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(Other, u"GET", u"/cookies");
    EXPECT_NE(Other.ReadData().find("component_a=1"), std::string::npos);

    TINetHttp& Without = Component(ServerUrl("CORVANE_ECHO_URL"), {flNoCookies});
    Send(Without, u"GET", u"/cookies");
    EXPECT_EQ(U8(Without.CustomHeaders(u"X-Cookie-Headers")), "0");
    Send(Without, u"GET", u"/set-cookie?component_c=3" + Path);
    Without.ReadData();
    Send(Http, u"GET", u"/cookies");
    EXPECT_EQ(Http.ReadData().find("component_c"), std::string::npos);
}

TEST_F(Follow, CredentialsOfTheUrlAnswerBasicAndDigest)
{
    const std::string Base = TestServers::Setting("CORVANE_ECHO_URL");
    const std::string WithCredentials = "http://" + TestServers::Setting("CORVANE_TEST_USER") + ":" +
                                        TestServers::Setting("CORVANE_TEST_PASSWORD") + "@" + Base.substr(7);
    TINetHttp& Http = Component(W(WithCredentials));
    EXPECT_EQ(U8(Http.UserName()), "corvane");
    for (const char16_t* Path : {u"/basic", u"/digest"}) {
        SCOPED_TRACE(U8(Path));
        if (Path == std::u16string_view(u"/digest") && PlatformDifferences::Reason("wine-digest")) continue;
        Send(Http, u"GET", Path);
        EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 200u);
        Http.ReadData();
    }

    // flNoAuth: the challenge is the response.
    Http.SetFlags({flNoAuth});
    Send(Http, u"GET", u"/basic");
    EXPECT_EQ(Http.QueryInfoValue(heStatusCode), 401u);

    // wininet.dll keeps credentials that a server accepted and answers its
    // later challenges with them, whoever asks.
    if (PlatformDifferences::Reason("credential-cache")) return;
    TINetHttp& Anonymous = Component(W(Base));
    Send(Anonymous, u"GET", u"/basic");
    EXPECT_EQ(Anonymous.QueryInfoValue(heStatusCode), 401u);
    EXPECT_EQ(U8(Anonymous.Headers(heWWWAuthenticate)), "Basic realm=\"corvane-test\"");

    // Wrong credentials are refused as well.
    TINetHttp& Wrong = Component(W("http://corvane:wrong@" + Base.substr(7)));
    Send(Wrong, u"GET", u"/digest");
    EXPECT_EQ(Wrong.QueryInfoValue(heStatusCode), 401u);
}

}  // namespace
