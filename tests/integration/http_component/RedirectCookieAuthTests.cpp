// Redirects, cookies and authentication through the component: the request
// flags and security flags of the component reach each request and decide
// what the platform does.
#include "ComponentTesting.h"

using namespace ComponentTest;

namespace {

class Follow : public ComponentExchange {
protected:
    // A query value with the characters a URL's query cannot hold as such.
    static UnicodeString Escaped(const UnicodeString& text) {
        UnicodeString out;
        for (char16_t c : text) {
            if (c == u':' || c == u'/' || c == u'?' || c == u'&' || c == u'=') {
                static const char16_t hex[] = u"0123456789ABCDEF";
                out += u'%';
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += c;
            }
        }
        return out;
    }
};

TEST_F(Follow, RedirectsAreFollowedUnlessTheComponentSaysNo) {
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(http, u"GET", u"/redirect/3?trail=1");
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 200u);
    EXPECT_EQ(U8(http.CustomHeaders(u"X-Echo-Target")), "/echo?trail=1");
    http.ReadData();

    // 303 turns a POST into a GET without body; 307 keeps both.
    Send(http, u"POST", u"/redirect/1?status=303", u"", Bytes("payload"));
    EXPECT_EQ(U8(http.CustomHeaders(u"X-Echo-Method")), "GET");
    http.ReadData();
    Send(http, u"POST", u"/redirect/1?status=307", u"", Bytes("payload"));
    EXPECT_EQ(U8(http.CustomHeaders(u"X-Echo-Method")), "POST");
    const std::string echoed = EchoedBody(http.ReadData());
    if (!PlatformDifferences::Reason("wine-redirect-307-body")) {
        EXPECT_EQ(echoed, "payload");
    }

    http.SetFlags({flNoAutoRedirect});
    Send(http, u"GET", u"/redirect/3");
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 302u);
    EXPECT_EQ(U8(http.Headers(heLocation)), "/redirect/2");
}

TEST_F(Follow, CrossSchemeRedirectsNeedTheMatchingFlag) {
    SKIP_IF_PLATFORM_DIFFERS("wine-redirect-scheme-change");
    const UnicodeString tls = HttpsServerUrl("CORVANE_ECHO_TLS_URL");
    const UnicodeString plain = ServerUrl("CORVANE_ECHO_URL");

    TINetHttp& up = Component(plain);
    const UnicodeString toHttps = u"/redirect-to?url=" + Escaped(tls + u"/echo");
    EXPECT_TRUE(RaisesCode(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR, [&] { Send(up, u"GET", toHttps); }));
    up.SetFlags({flIgnoreRedirectToHttp});  // the other direction's flag does not help
    EXPECT_TRUE(RaisesCode(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR, [&] { Send(up, u"GET", toHttps); }));
    up.SetFlags({flIgnoreRedirectToHttps});
    Send(up, u"GET", toHttps);
    EXPECT_EQ(up.QueryInfoValue(heStatusCode), 200u);
    EXPECT_TRUE(up.SecurityFlags().Contains(sfSecureTransfers));

    // Down from HTTPS, allowed through the component's security flags, which
    // it applies to each request it opens.
    TINetHttp& down = Component(tls, {flSecure});
    const UnicodeString toHttp = u"/redirect-to?url=" + Escaped(plain + u"/echo");
    EXPECT_TRUE(RaisesCode(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR, [&] { Send(down, u"GET", toHttp); }));
    down.SetSecurityFlags({sfIgnoreRedirectToHttp});
    Send(down, u"GET", toHttp);
    EXPECT_EQ(down.QueryInfoValue(heStatusCode), 200u);
}

TEST_F(Follow, CookiesLastAcrossRequestsAndComponents) {
    // Wine gives a cookie without a Path the request's whole path as its
    // own; with Path=/ the rest holds on every platform.
    const bool defaultPath = !PlatformDifferences::Reason("wine-cookie-default-path");
    const UnicodeString path = defaultPath ? u"" : u"%3B%20Path%3D%2F";
    TINetHttp& http = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(http, u"GET", u"/set-cookie?component_a=1" + path + u"&component_b=two" + path);
    EXPECT_EQ(U8(http.Headers(heSetCookie)), defaultPath ? "component_a=1" : "component_a=1; Path=/");
    http.ReadData();

    Send(http, u"GET", u"/cookies");
    const std::string sent = http.ReadData();
    EXPECT_NE(sent.find("component_a=1"), std::string::npos) << sent;
    EXPECT_NE(sent.find("component_b=two"), std::string::npos) << sent;

    // Another component of the process sends them too; one with
    // flNoCookies sends none and keeps none.
    TINetHttp& other = Component(ServerUrl("CORVANE_ECHO_URL"));
    Send(other, u"GET", u"/cookies");
    EXPECT_NE(other.ReadData().find("component_a=1"), std::string::npos);

    TINetHttp& without = Component(ServerUrl("CORVANE_ECHO_URL"), {flNoCookies});
    Send(without, u"GET", u"/cookies");
    EXPECT_EQ(U8(without.CustomHeaders(u"X-Cookie-Headers")), "0");
    Send(without, u"GET", u"/set-cookie?component_c=3" + path);
    without.ReadData();
    Send(http, u"GET", u"/cookies");
    EXPECT_EQ(http.ReadData().find("component_c"), std::string::npos);
}

TEST_F(Follow, CredentialsOfTheUrlAnswerBasicAndDigest) {
    const std::string base = TestServers::Setting("CORVANE_ECHO_URL");
    const std::string withCredentials = "http://" + TestServers::Setting("CORVANE_TEST_USER") + ":" +
                                        TestServers::Setting("CORVANE_TEST_PASSWORD") + "@" + base.substr(7);
    TINetHttp& http = Component(W(withCredentials));
    EXPECT_EQ(U8(http.UserName()), "corvane");
    for (const char16_t* path : {u"/basic", u"/digest"}) {
        SCOPED_TRACE(U8(path));
        if (path == std::u16string_view(u"/digest") && PlatformDifferences::Reason("wine-digest")) continue;
        Send(http, u"GET", path);
        EXPECT_EQ(http.QueryInfoValue(heStatusCode), 200u);
        http.ReadData();
    }

    // flNoAuth: the challenge is the response.
    http.SetFlags({flNoAuth});
    Send(http, u"GET", u"/basic");
    EXPECT_EQ(http.QueryInfoValue(heStatusCode), 401u);

    // wininet.dll keeps credentials that a server accepted and answers its
    // later challenges with them, whoever asks.
    if (PlatformDifferences::Reason("credential-cache")) return;
    TINetHttp& anonymous = Component(W(base));
    Send(anonymous, u"GET", u"/basic");
    EXPECT_EQ(anonymous.QueryInfoValue(heStatusCode), 401u);
    EXPECT_EQ(U8(anonymous.Headers(heWWWAuthenticate)), "Basic realm=\"corvane-test\"");

    // Wrong credentials are refused as well.
    TINetHttp& wrong = Component(W("http://corvane:wrong@" + base.substr(7)));
    Send(wrong, u"GET", u"/digest");
    EXPECT_EQ(wrong.QueryInfoValue(heStatusCode), 401u);
}

}  // namespace
