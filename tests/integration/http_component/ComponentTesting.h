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

namespace ComponentTest {

using namespace Corvane;

inline UnicodeString W(const std::string& Text) { return Framework::Utf8ToUtf16(Text); }
inline std::string U8(const UnicodeString& Text) { return Framework::Utf16ToUtf8(Text); }
inline std::string Str(const TBytes& Bytes) { return std::string(Bytes.begin(), Bytes.end()); }
inline TBytes Bytes(const std::string& Text) { return TBytes(Text.begin(), Text.end()); }

/// A base URL of servers.env ("CORVANE_ECHO_URL", ...).
inline UnicodeString ServerUrl(const char* Setting) { return W(TestServers::Setting(Setting)); }

/// A base URL of an HTTPS server of servers.env. Under Wine, whose
/// wininet.dll matches a server's name only against the DNS names of its
/// certificate (wine-certificate-ip-address), the host is named
/// "localhost", also a name of the test certificates, so that their other
/// checks are what the tests see.
inline UnicodeString HttpsServerUrl(const char* Setting)
{
    return W(PlatformDifferences::CertificateCheckedUrl(TestServers::Setting(Setting)));
}

/// The message of the EINetError that Action raises, or "<nothing raised>".
template <class Action>
std::string RaisedMessage(Action&& Run)
{
    try {
        Run();
    } catch (const EINetError& E) {
        return U8(E.Message());
    }
    return "<nothing raised>";
}

/// Whether Action raises EINetError for the platform error Code.
template <class Action>
::testing::AssertionResult RaisesCode(DWORD Code, Action&& Run)
{
    const std::string Message = RaisedMessage(Run);
    const std::string Prefix = "Error " + std::to_string(Code) + ": ";
    if (Message.rfind(Prefix, 0) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected \"" << Prefix << "...\", got \"" << Message << "\"";
}

/// Every case connects beneath a session of its own, so closing it closes
/// exactly the case's components.
class ComponentExchange : public ::testing::Test {
protected:
    /// A component of this case's session, addressed by Url.
    TINetHttp& Component(const UnicodeString& Url, THttpFlags Flags = {})
    {
        FComponents.push_back(std::make_unique<TINetHttp>(nullptr));
        TINetHttp& Http = *FComponents.back();
        Http.SetSession(&Session);
        Http.SetUrl(Url);
        Http.SetFlags(Flags);
        return Http;
    }

    /// Opens the component if needed, then opens and sends a request.
    static void Send(TINetHttp& Http, const UnicodeString& Verb, const UnicodeString& Object,
                     const UnicodeString& Headers = u"", const TBytes& Body = {})
    {
        Http.Open();
        Http.OpenRequest(Verb, Object);
        Http.SendRequest(Headers, Body);
    }

    /// The part of an /echo body after the request head: the body received.
    static std::string EchoedBody(const std::string& Echo)
    {
        const std::size_t End = Echo.find("\r\n\r\n");
        return End == std::string::npos ? std::string("<no head>") : Echo.substr(End + 4);
    }

    /// The request head an /echo body shows.
    static std::string EchoedHead(const std::string& Echo) { return Echo.substr(0, Echo.find("\r\n\r\n") + 2); }

    /// What event handlers record; it outlives the components, which may
    /// still fire events while the fixture ends.
    std::vector<std::string> Events;
    TINetSession Session{nullptr};
    std::vector<std::unique_ptr<TINetHttp>> FComponents;
};

/// A port on 127.0.0.1 that nothing listens on.
inline Word ClosedPort() { return TestServers::ClosedPort(); }

}  // namespace ComponentTest
