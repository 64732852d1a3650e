// Redirects followed hop by hop, cookies kept and sent across requests and
// hops, and authentication with the connection's credentials.
#include "HttpTestSupport.h"

#include <atomic>
#include <mutex>

using namespace HttpTest;

namespace {

class Follow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FSession);
        FConnection = Connect(FSession.get(), Echo());
        ASSERT_TRUE(FConnection);
    }
    Handle FSession = OpenSession();
    Handle FConnection;
};

std::vector<std::string>& Redirects() {
    static std::vector<std::string> urls;
    return urls;
}

void CALLBACK RecordRedirects(HINTERNET, DWORD_PTR, DWORD status, LPVOID data, DWORD length) {
    if (status != INTERNET_STATUS_REDIRECT) return;
    const auto* text = static_cast<const char16_t*>(data);
    EXPECT_EQ(length, (std::u16string(text).size() + 1) * 2);
    Redirects().push_back(Narrow(text));
}

std::string EchoUrl() {
    return TestServers::Setting("CORVANE_ECHO_URL");
}
std::string EchoTlsUrl() {
    return ValidCertificateUrl(TestServers::Setting("CORVANE_ECHO_TLS_URL"));
}

std::u16string Escaped(const std::string& url) {
    std::u16string out;
    for (char c : url) {
        if (c == ':' || c == '/' || c == '?' || c == '&' || c == '=') {
            static const char hex[] = "0123456789ABCDEF";
            out += u'%';
            out += static_cast<char16_t>(hex[(c >> 4) & 0xF]);
            out += static_cast<char16_t>(hex[c & 0xF]);
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace

TEST_F(Follow, EachRedirectStatusWithItsMethodRule) {
    struct Case {
        int status;
        const char16_t* sent;
        const char* method;  // what reaches the final hop
        bool body;
    } const cases[] = {{301, u"POST", "GET", false},     {302, u"POST", "GET", false},
                       {303, u"POST", "GET", false},     {307, u"POST", "POST", true},
                       {308, u"POST", "POST", true},     {301, u"PUT", "PUT", true},
                       {302, u"DELETE", "DELETE", true}, {303, u"PUT", "GET", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + Narrow(c.sent));
        const Handle request =
            Open(FConnection.get(), c.sent, u"/redirect/2?status=" + Wide(std::to_string(c.status)));
        ASSERT_TRUE(Send(request.get(), "the body")) << GetLastError();
        if (c.status == 308 && PlatformDifferences::Reason("wine-redirect-308")) {
            EXPECT_EQ(StatusCode(request.get()), 308u) << "Wine answers 308 with the redirect itself";
            continue;
        }
        EXPECT_EQ(StatusCode(request.get()), 200u);
        if (Narrow(c.sent) != "POST" && c.status != 303 &&
            PlatformDifferences::Reason("wine-redirect-method")) {
            EXPECT_EQ(Custom(request.get(), "X-Echo-Method"), "GET") << "Wine turns every method into GET";
            continue;
        }
        EXPECT_EQ(Custom(request.get(), "X-Echo-Method"), c.method);
        if (!(c.status == 307 && PlatformDifferences::Reason("wine-redirect-307-body"))) {
            EXPECT_EQ(Custom(request.get(), "X-Echo-Body-Length"), c.body ? "8" : "0");
        }
        if (!PlatformDifferences::Reason("wine-query-request-method")) {
            EXPECT_EQ(Header(request.get(), HTTP_QUERY_REQUEST_METHOD), c.method);
        }
        // The URL up to its terminator: the size given back on success is
        // the DLL's count of characters, the backend's of bytes.
        std::u16string url;
        DWORD size = 0;
        InternetQueryOptionW(request.get(), INTERNET_OPTION_URL, nullptr, &size);
        url.assign(size / 2 + 1, u'\0');
        ASSERT_TRUE(InternetQueryOptionW(request.get(), INTERNET_OPTION_URL, url.data(), &size));
        EXPECT_EQ(Narrow(U(W(url.c_str()))), EchoUrl() + "/echo?status=" + std::to_string(c.status));
    }
}

TEST_F(Follow, RedirectNotificationsCarryTheNewUrl) {
    Redirects().clear();
    ASSERT_NE(InternetSetStatusCallbackW(FConnection.get(), &RecordRedirects),
              INTERNET_INVALID_STATUS_CALLBACK);
    const Handle request = Open(FConnection.get(), u"GET", u"/redirect/3?absolute=1", 0, 7);
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(Redirects(), (std::vector<std::string>{EchoUrl() + "/redirect/2?absolute=1",
                                                     EchoUrl() + "/redirect/1?absolute=1",
                                                     EchoUrl() + "/echo?absolute=1"}));
}

TEST_F(Follow, NoAutoRedirectAndTheLimit) {
    const Handle manual = Open(FConnection.get(), u"GET", u"/redirect/1", INTERNET_FLAG_NO_AUTO_REDIRECT);
    ASSERT_TRUE(Send(manual.get()));
    EXPECT_EQ(StatusCode(manual.get()), 302u);
    EXPECT_EQ(Header(manual.get(), HTTP_QUERY_LOCATION), "/echo");
    EXPECT_EQ(ReadAll(manual.get()), "redirecting to /echo\n");

    const Handle within = Open(FConnection.get(), u"GET", u"/redirect/20");
    ASSERT_TRUE(Send(within.get())) << GetLastError();
    EXPECT_EQ(StatusCode(within.get()), 200u);

    const bool wine = PlatformDifferences::Reason("wine-redirect-failed") != nullptr;
    const Handle beyond = Open(FConnection.get(), u"GET", u"/redirect/21");
    if (wine) {
        ASSERT_TRUE(Send(beyond.get())) << "Wine follows redirects without a limit";
        EXPECT_EQ(StatusCode(beyond.get()), 200u);
    } else {
        EXPECT_FALSE(Send(beyond.get()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_REDIRECT_FAILED));
    }

    const Handle ftp = Open(FConnection.get(), u"GET", u"/redirect-to?url=ftp%3A%2F%2F127.0.0.1%2Ffile");
    if (wine) {
        ASSERT_TRUE(Send(ftp.get())) << "Wine answers with the redirect to another scheme";
        EXPECT_EQ(StatusCode(ftp.get()), 302u);
    } else {
        EXPECT_FALSE(Send(ftp.get()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_REDIRECT_FAILED));
    }
}

TEST_F(Follow, CrossSchemeRedirectsNeedTheirFlag) {
    // Wine follows both kinds whatever the flags: there only the allowed
    // redirects are checked.
    const bool checked = !PlatformDifferences::Reason("wine-redirect-scheme-change");
    const std::u16string toHttps = u"/redirect-to?url=" + Escaped(EchoTlsUrl() + "/echo");
    {
        if (checked) {
            const Handle refused = Open(FConnection.get(), u"GET", toHttps);
            EXPECT_FALSE(Send(refused.get()));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR));
            EXPECT_EQ(StatusCode(refused.get()), 302u) << "the redirect stays readable";
            const Handle wrongFlag =
                Open(FConnection.get(), u"GET", toHttps, INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP);
            EXPECT_FALSE(Send(wrongFlag.get()));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR));
        }
        const Handle allowed =
            Open(FConnection.get(), u"GET", toHttps, INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS);
        ASSERT_TRUE(Send(allowed.get())) << GetLastError();
        EXPECT_EQ(StatusCode(allowed.get()), 200u);
        DWORD flags = 0, size = sizeof(flags);
        ASSERT_TRUE(InternetQueryOptionW(allowed.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size));
        EXPECT_TRUE(flags & SECURITY_FLAG_SECURE);
    }
    {
        const Handle tls = Connect(FSession.get(), ServerOf(EchoTlsUrl()));
        const std::u16string toHttp = u"/redirect-to?url=" + Escaped(EchoUrl() + "/echo");
        if (checked) {
            const Handle refused = Open(tls.get(), u"GET", toHttp, INTERNET_FLAG_SECURE);
            EXPECT_FALSE(Send(refused.get()));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR));
        }
        // The security option allows it as the open flag does.
        const Handle allowed = Open(tls.get(), u"GET", toHttp, INTERNET_FLAG_SECURE);
        DWORD flags = SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP;
        ASSERT_TRUE(InternetSetOptionW(allowed.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags)));
        ASSERT_TRUE(Send(allowed.get())) << GetLastError();
        EXPECT_EQ(StatusCode(allowed.get()), 200u);
    }
}

// The cookies below name their path "/" where the test needs them beyond
// the path that sets them: the path a cookie gets by default differs (see
// CookieWithoutPathHasTheDirectoryOfItsUrl).
TEST_F(Follow, CookiesAreKeptAndSentAcrossRequestsAndHops) {
    {
        const Handle set = Open(FConnection.get(), u"GET",
                                u"/set-cookie?jar_a=1%3B%20Path%3D%2F&jar_b=two%3B%20Path%3D%2Fcookies");
        ASSERT_TRUE(Send(set.get()));
        ReadAll(set.get());
    }
    const Handle other = Connect(FSession.get(), Echo());
    const Handle get = Open(other.get(), u"GET", u"/cookies");
    ASSERT_TRUE(Send(get.get()));
    const std::string cookies = ReadAll(get.get());
    EXPECT_NE(cookies.find("jar_b=two; "), std::string::npos) << cookies << " (longer path first)";
    EXPECT_NE(cookies.find("jar_a=1"), std::string::npos) << cookies;
    EXPECT_EQ(Header(get.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_COOKIE).find("jar_a=1") !=
                  std::string::npos,
              true);

    // Out of the path, jar_b is not sent; a deleted cookie is not either.
    {
        const Handle del =
            Open(FConnection.get(), u"GET", u"/set-cookie?jar_a=gone%3B%20Max-Age%3D0%3B%20Path%3D%2F");
        ASSERT_TRUE(Send(del.get()));
    }
    const Handle echo = Open(FConnection.get(), u"GET", u"/echo");
    ASSERT_TRUE(Send(echo.get()));
    const std::string echoed = ReadAll(echo.get());
    if (!PlatformDifferences::Reason("wine-cookie-max-age")) {
        EXPECT_EQ(echoed.find("jar_a"), std::string::npos) << echoed;
    }
    EXPECT_EQ(echoed.find("jar_b"), std::string::npos) << echoed;

    // A cookie set by a redirect reaches the hop it leads to.
    const Handle hop =
        Open(FConnection.get(), u"GET", u"/set-cookie?jar_hop=1%3B%20Path%3D%2F&_redirect=%2Fcookies");
    ASSERT_TRUE(Send(hop.get()));
    EXPECT_NE(ReadAll(hop.get()).find("jar_hop=1"), std::string::npos);
}

// A cookie without a path attribute gets the directory of the URL that set
// it (here "/"), so it is sent to the server's other paths.
TEST_F(Follow, CookieWithoutPathHasTheDirectoryOfItsUrl) {
    SKIP_IF_PLATFORM_DIFFERS("wine-cookie-default-path");
    {
        const Handle set = Open(FConnection.get(), u"GET", u"/set-cookie?jar_root=1");
        ASSERT_TRUE(Send(set.get()));
        ReadAll(set.get());
    }
    const Handle get = Open(FConnection.get(), u"GET", u"/cookies");
    ASSERT_TRUE(Send(get.get()));
    EXPECT_NE(ReadAll(get.get()).find("jar_root=1"), std::string::npos);
}

TEST_F(Follow, NoCookiesNeitherSendsNorKeeps) {
    {
        const Handle set = Open(FConnection.get(), u"GET", u"/set-cookie?jar_kept=1%3B%20Path%3D%2F");
        ASSERT_TRUE(Send(set.get()));
        const Handle ignored = Open(FConnection.get(), u"GET", u"/set-cookie?jar_ignored=1%3B%20Path%3D%2F",
                                    INTERNET_FLAG_NO_COOKIES);
        ASSERT_TRUE(Send(ignored.get()));
    }
    const Handle without = Open(FConnection.get(), u"GET", u"/cookies", INTERNET_FLAG_NO_COOKIES);
    ASSERT_TRUE(Send(without.get()));
    EXPECT_EQ(ReadAll(without.get()).find("jar_"), std::string::npos);
    const Handle with = Open(FConnection.get(), u"GET", u"/cookies");
    ASSERT_TRUE(Send(with.get()));
    const std::string cookies = ReadAll(with.get());
    EXPECT_NE(cookies.find("jar_kept=1"), std::string::npos);
    EXPECT_EQ(cookies.find("jar_ignored"), std::string::npos);
}

TEST_F(Follow, SecureCookiesOnlyOverTls) {
    // Cookies belong to a host name: the plain requests name the server as
    // the TLS one must.
    const Handle connection = Connect(FSession.get(), ServerOf(ValidCertificateUrl(EchoUrl())));
    {
        const Handle set =
            Open(connection.get(), u"GET", u"/set-cookie?jar_secure=1%3B%20Secure%3B%20Path%3D%2F");
        ASSERT_TRUE(Send(set.get()));
    }
    const Handle plain = Open(connection.get(), u"GET", u"/cookies");
    ASSERT_TRUE(Send(plain.get()));
    if (!PlatformDifferences::Reason("wine-secure-cookies")) {
        EXPECT_EQ(ReadAll(plain.get()).find("jar_secure"), std::string::npos);
    }
    const Handle tls = Connect(FSession.get(), ServerOf(EchoTlsUrl()));
    const Handle secure = Open(tls.get(), u"GET", u"/cookies", INTERNET_FLAG_SECURE);
    ASSERT_TRUE(Send(secure.get())) << GetLastError();
    EXPECT_NE(ReadAll(secure.get()).find("jar_secure=1"), std::string::npos);
}

TEST_F(Follow, BasicAndDigestWithAndWithoutCredentials) {
    const std::u16string user = Wide(TestServers::Setting("CORVANE_TEST_USER"));
    const std::u16string password = Wide(TestServers::Setting("CORVANE_TEST_PASSWORD"));
    const Handle anonymous(FConnection.release());
    const Handle known = Connect(FSession.get(), Echo(), user, password);
    const Handle wrong = Connect(FSession.get(), Echo(), user, u"wrong");
    struct Case {
        HINTERNET connection;
        const char16_t* path;
        DWORD flags;
        DWORD status;
    } const cases[] = {
        {anonymous.get(), u"/basic", 0, 401},  {known.get(), u"/basic", 0, 200},
        {wrong.get(), u"/basic", 0, 401},      {known.get(), u"/basic", INTERNET_FLAG_NO_AUTH, 401},
        {anonymous.get(), u"/digest", 0, 401}, {known.get(), u"/digest/x?y=1", 0, 200},
        {wrong.get(), u"/digest", 0, 401},     {known.get(), u"/digest", INTERNET_FLAG_NO_AUTH, 401},
    };
    const bool digest = !PlatformDifferences::Reason("wine-digest");
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.path) + " flags " + std::to_string(c.flags));
        if (!digest && c.status == 200 && Narrow(c.path).rfind("/digest", 0) == 0) continue;
        const Handle request = Open(c.connection, u"POST", c.path, c.flags);
        ASSERT_TRUE(Send(request.get(), "payload")) << GetLastError();
        EXPECT_EQ(StatusCode(request.get()), c.status);
        const std::string body = ReadAll(request.get());
        if (c.status == 401) {
            EXPECT_NE(Header(request.get(), HTTP_QUERY_WWW_AUTHENTICATE), "<none>");
        } else {
            EXPECT_NE(body.find("authenticated as corvane"), std::string::npos);
        }
    }
}

// Credentials belong to the connection's server: a redirect to another
// host (localhost is not 127.0.0.1) takes neither the connection's
// credentials along nor the credentials and cookies the application added.
TEST_F(Follow, CredentialsStayWithTheirServer) {
    const Handle known = Connect(FSession.get(), Echo(), Wide(TestServers::Setting("CORVANE_TEST_USER")),
                                 Wide(TestServers::Setting("CORVANE_TEST_PASSWORD")));
    const std::string elsewhere = "http://localhost:" + TestServers::Setting("CORVANE_ECHO_PORT");
    const Handle request = Open(known.get(), u"GET", u"/redirect-to?url=" + Escaped(elsewhere + "/basic"));
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(StatusCode(request.get()), 401u);
    EXPECT_EQ(Header(request.get(), HTTP_QUERY_FLAG_REQUEST_HEADERS | HTTP_QUERY_AUTHORIZATION), "<none>");

    const std::u16string own =
        u"Authorization: Bearer app-token\r\nProxy-Authorization: Basic YXBwOnByb3h5\r\nCookie: "
        u"own_cookie=1\r\n";
    for (const std::string& to : {EchoUrl(), elsewhere}) {
        SCOPED_TRACE(to);
        const Handle hop = Open(FConnection.get(), u"GET", u"/redirect-to?url=" + Escaped(to + "/echo"));
        ASSERT_TRUE(Send(hop.get(), {}, own)) << GetLastError();
        const std::string echoed = ReadAll(hop.get());
        const bool kept = to == EchoUrl() || PlatformDifferences::Reason("wine-redirect-added-credentials");
        for (const char* sent : {"Bearer app-token", "YXBwOnByb3h5", "own_cookie=1"})
            EXPECT_EQ(echoed.find(sent) != std::string::npos, kept) << sent << " in " << echoed;
    }
}

// An object name that reads like an absolute URL is a path on the
// connection's server like any other: it leads neither the request nor the
// connection's credentials to another server, nor out of TLS.
TEST_F(Follow, AbsoluteObjectNameIsAPathOnTheConnectionsServer) {
    const std::u16string user = Wide(TestServers::Setting("CORVANE_TEST_USER"));
    const std::u16string password = Wide(TestServers::Setting("CORVANE_TEST_PASSWORD"));
    const Handle plain = Connect(FSession.get(), Echo(), user, password);
    const Handle tls = Connect(FSession.get(), ServerOf(EchoTlsUrl()), user, password);
    const std::string foreign = "http://origin.corvane.invalid:1/echo";
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        const Handle request = Open(secure ? tls.get() : plain.get(), u"GET", Wide(foreign + "?x=1"),
                                    secure ? INTERNET_FLAG_SECURE : 0);
        ASSERT_TRUE(Send(request.get())) << GetLastError();
        EXPECT_EQ(StatusCode(request.get()), 404u);
        EXPECT_EQ(ReadAll(request.get()), "no such endpoint: /" + foreign + "\n");
        std::u16string url(512, u'\0');
        DWORD size = static_cast<DWORD>(url.size() * 2);
        ASSERT_TRUE(InternetQueryOptionW(request.get(), INTERNET_OPTION_URL, url.data(), &size));
        EXPECT_EQ(Narrow(U(W(url.c_str()))), (secure ? EchoTlsUrl() : EchoUrl()) + "/" + foreign + "?x=1");
        DWORD flags = 0;
        size = sizeof(flags);
        ASSERT_TRUE(InternetQueryOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, &size));
        EXPECT_EQ((flags & SECURITY_FLAG_SECURE) != 0, secure);
    }
}

// The usual answer to a 401: set credentials on the request and send it
// again on the same handle.
TEST_F(Follow, ResendWithCredentialsSetOnTheRequest) {
    // Wine cannot answer a digest challenge; there the basic one stands in.
    const bool digest = !PlatformDifferences::Reason("wine-digest");
    const Handle request = Open(FConnection.get(), u"GET", digest ? u"/digest" : u"/basic");
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(StatusCode(request.get()), 401u);
    const std::u16string user = Wide(TestServers::Setting("CORVANE_TEST_USER"));
    const std::u16string password = Wide(TestServers::Setting("CORVANE_TEST_PASSWORD"));
    ASSERT_TRUE(InternetSetOptionW(request.get(), INTERNET_OPTION_USERNAME,
                                   const_cast<char16_t*>(user.c_str()), static_cast<DWORD>(user.size())));
    ASSERT_TRUE(InternetSetOptionW(request.get(), INTERNET_OPTION_PASSWORD,
                                   const_cast<char16_t*>(password.c_str()),
                                   static_cast<DWORD>(password.size())));
    ASSERT_TRUE(Send(request.get())) << GetLastError();
    EXPECT_EQ(StatusCode(request.get()), 200u);
    EXPECT_EQ(ReadAll(request.get()),
              digest ? "authenticated as corvane (digest)\n" : "authenticated as corvane (basic)\n");
}
