// Requests through real forward proxies (tinyproxy): plain HTTP in absolute
// form and HTTPS through a CONNECT tunnel, to an open proxy and to one that
// asks for credentials, which the proxy credentials of the connection or of
// the request answer. Without them the proxy's 407 is the response, for a
// tunnel too. NO_PROXY in the environment changes nothing: the session's
// own bypass list decides.
#include "HttpTestSupport.h"

#include <cstdlib>

using namespace HttpTest;

namespace {

class Proxy : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
#if !defined(_WIN32)
        // libcurl on its own would send every host direct with these.
        setenv("NO_PROXY", "*", 1);
        setenv("no_proxy", "*", 1);
#endif
    }
};

bool SetText(HINTERNET handle, DWORD option, const std::u16string& text) {
    return InternetSetOptionW(handle, option, const_cast<char16_t*>(text.c_str()),
                              static_cast<DWORD>(text.size()));
}

std::string OptionText(HINTERNET handle, DWORD option) {
    std::u16string text(256, u'\0');
    DWORD size = static_cast<DWORD>(text.size() * 2);
    if (!InternetQueryOptionW(handle, option, text.data(), &size)) return "<failed>";
    return Narrow(U(W(text.c_str())));
}

}  // namespace

TEST_F(Proxy, PlainAndTunnelledRequestsWithAndWithoutCredentials) {
    enum Credentials { None, OnConnection, OnRequest, Wrong };
    struct Case {
        const char* proxy;
        bool secure;
        Credentials credentials;
        DWORD status;
    } const cases[] = {
        {"CORVANE_PROXY", false, None, 200},
        {"CORVANE_PROXY", true, None, 200},
        {"CORVANE_AUTH_PROXY", false, None, 407},
        {"CORVANE_AUTH_PROXY", true, None, 407},
        {"CORVANE_AUTH_PROXY", false, OnConnection, 200},
        {"CORVANE_AUTH_PROXY", true, OnRequest, 200},
        // tinyproxy refuses wrong credentials with a 401 of its own.
        {"CORVANE_AUTH_PROXY", false, Wrong, 401},
        {"CORVANE_AUTH_PROXY", true, Wrong, 401},
    };
    const std::u16string user = Wide(TestServers::Setting("CORVANE_PROXY_USER"));
    const std::u16string password = Wide(TestServers::Setting("CORVANE_PROXY_PASSWORD"));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.proxy) + (c.secure ? " https " : " http ") +
                     std::to_string(c.credentials));
        const std::u16string proxy = Wide(TestServers::Setting(c.proxy));
        const Handle session(
            InternetOpenW(W(u"CorvaneTest/1.0"), INTERNET_OPEN_TYPE_PROXY, W(proxy.c_str()), W(u""), 0));
        ASSERT_TRUE(session) << GetLastError();
        const Server server =
            c.secure ? ServerOf(ValidCertificateUrl(TestServers::Setting("CORVANE_ECHO_TLS_URL"))) : Echo();
        const Handle connection = Connect(session.get(), server);
        if (c.credentials == OnConnection) {
            ASSERT_TRUE(SetText(connection.get(), INTERNET_OPTION_PROXY_USERNAME, user)) << GetLastError();
            ASSERT_TRUE(SetText(connection.get(), INTERNET_OPTION_PROXY_PASSWORD, password))
                << GetLastError();
        }
        const Handle request = Open(connection.get(), u"GET", u"/echo", c.secure ? INTERNET_FLAG_SECURE : 0);
        if (c.credentials == OnRequest || c.credentials == Wrong) {
            ASSERT_TRUE(SetText(request.get(), INTERNET_OPTION_PROXY_USERNAME, user)) << GetLastError();
            ASSERT_TRUE(SetText(request.get(), INTERNET_OPTION_PROXY_PASSWORD,
                                c.credentials == Wrong ? u"wrong" : password));
        }
        // The request tells the user name it answers with.
        EXPECT_EQ(OptionText(request.get(), INTERNET_OPTION_PROXY_USERNAME),
                  c.credentials == None ? "" : Narrow(user));

        ASSERT_TRUE(Send(request.get())) << GetLastError();
        EXPECT_EQ(StatusCode(request.get()), c.status);
        const std::string body = ReadAll(request.get());
        if (c.status != 200) {
            const DWORD challenge =
                c.status == 407 ? HTTP_QUERY_PROXY_AUTHENTICATE : HTTP_QUERY_WWW_AUTHENTICATE;
            EXPECT_NE(Header(request.get(), challenge).find("Basic realm=\"Tinyproxy\""), std::string::npos);
            continue;
        }
        EXPECT_EQ(body.rfind("GET /echo HTTP/1.", 0), 0u) << body;
        // A plain request shows the proxy it went through; a tunnelled one
        // passes it unread.
        const std::string via = " " + TestServers::Setting("CORVANE_PROXY_NAME") + " (tinyproxy";
        EXPECT_EQ(body.find(via) != std::string::npos, !c.secure) << body;
    }
}
