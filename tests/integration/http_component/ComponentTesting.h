// Helpers for exchanges through the HTTP component against the local test
// servers (see tests/servers/README.md): server URLs as component URLs, a
// fixture with a session of its own, and the usual request round trip.
#pragma once

#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PlatformDifferences.h"
#include "TestServers.h"
#include "TestText.h"

namespace ComponentTest {

using namespace Corvane;

inline UnicodeString W(const std::string& text) {
    return Framework::Utf8ToUtf16(text);
}
inline std::string Str(const TBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
inline TBytes Bytes(const std::string& text) {
    return TBytes(text.begin(), text.end());
}

/// A base URL of servers.env ("CORVANE_ECHO_URL", ...).
inline UnicodeString ServerUrl(const char* setting) {
    return W(TestServers::Setting(setting));
}

/// A base URL of an HTTPS server of servers.env. Under Wine, whose
/// wininet.dll matches a server's name only against the DNS names of its
/// certificate (wine-certificate-ip-address), the host is named
/// "localhost", also a name of the test certificates, so that their other
/// checks are what the tests see.
inline UnicodeString HttpsServerUrl(const char* setting) {
    return W(PlatformDifferences::CertificateCheckedUrl(TestServers::Setting(setting)));
}

/// The message of the EINetError that Action raises, or "<nothing raised>".
template <class Action>
std::string RaisedMessage(Action&& run) {
    try {
        run();
    } catch (const EINetError& e) {
        return U8(e.Message());
    }
    return "<nothing raised>";
}

/// Whether Action raises EINetError for the platform error Code.
template <class Action>
::testing::AssertionResult RaisesCode(DWORD code, Action&& run) {
    const std::string message = RaisedMessage(run);
    const std::string prefix = "Error " + std::to_string(code) + ": ";
    if (message.rfind(prefix, 0) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected \"" << prefix << "...\", got \"" << message << "\"";
}

/// Every case connects beneath a session of its own, so closing it closes
/// exactly the case's components.
class ComponentExchange : public ::testing::Test {
protected:
    /// A component of this case's session, addressed by Url.
    TINetHttp& Component(const UnicodeString& url, THttpFlags flags = {}) {
        FComponents.push_back(std::make_unique<TINetHttp>(nullptr));
        TINetHttp& http = *FComponents.back();
        http.SetSession(&Session);
        http.SetUrl(url);
        http.SetFlags(flags);
        return http;
    }

    /// Opens the component if needed, then opens and sends a request.
    static void Send(TINetHttp& http, const UnicodeString& verb, const UnicodeString& object,
                     const UnicodeString& headers = u"", const TBytes& body = {}) {
        http.Open();
        http.OpenRequest(verb, object);
        http.SendRequest(headers, body);
    }

    /// The part of an /echo body after the request head: the body received.
    static std::string EchoedBody(const std::string& echo) {
        const std::size_t end = echo.find("\r\n\r\n");
        return end == std::string::npos ? std::string("<no head>") : echo.substr(end + 4);
    }

    /// The request head an /echo body shows.
    static std::string EchoedHead(const std::string& echo) {
        return echo.substr(0, echo.find("\r\n\r\n") + 2);
    }

    /// What event handlers record; it outlives the components, which may
    /// still fire events while the fixture ends.
    std::vector<std::string> Events;
    TINetSession Session{nullptr};
    std::vector<std::unique_ptr<TINetHttp>> FComponents;
};

/// A port on 127.0.0.1 that nothing listens on.
inline Word ClosedPort() {
    return TestServers::ClosedPort();
}

}  // namespace ComponentTest
