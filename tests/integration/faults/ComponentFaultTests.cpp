// Every public operation of the session and HTTP components under every
// fault of the backend: each run raises EINetError or completes with the
// right data, leaks no handle, and leaves the component closed, or open and
// usable.
#include "FaultDriver.h"

#include "TestServers.h"

#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

namespace {

using namespace Corvane;
namespace FI = Corvane::Backend::FaultInjection;

UnicodeString W(const std::string& text) {
    return Framework::Utf8ToUtf16(text);
}

std::string SmallBody() {
    std::ifstream file(TestServers::Setting("CORVANE_DOCROOT") + TestServers::Setting("CORVANE_SMALL_PATH"),
                       std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A whole exchange through a session and an HTTP component of its own:
// every operation a program makes for a GET and a POST, then closing.
struct HttpExchange {
    std::unique_ptr<TINetSession> session;
    std::unique_ptr<TINetHttp> http;
    const std::string base;
    const std::string expected = SmallBody();

    explicit HttpExchange(std::string url) : base(std::move(url)) {}

    // A GET of the small file on an open component, checked byte for byte.
    void Get() {
        http->OpenRequest(u"GET", W(TestServers::Setting("CORVANE_SMALL_PATH")));
        http->SendRequest(u"", AnsiString());
        EXPECT_EQ(http->QueryInfoValue(heStatusCode), 200u);
        EXPECT_EQ(http->ReadData(), expected);
    }

    Faults::Scenario Scenario(const std::string& name) {
        Faults::Scenario s;
        s.name = name;
        s.setup = [this] {
            session = std::make_unique<TINetSession>(nullptr);
            http = std::make_unique<TINetHttp>(nullptr);
            http->SetSession(session.get());
            http->SetUrl(W(base));
            if (base.rfind("https:", 0) == 0) http->SetFlags(THttpFlags{flSecure});
        };
        s.steps = {
            {"Session.Open", [this] { session->Open(); }},
            {"Open", [this] { http->Open(); }},
            {"OpenRequest",
             [this] { http->OpenRequest(u"GET", W(TestServers::Setting("CORVANE_SMALL_PATH"))); }},
            {"AddRequestHeader", [this] { http->AddRequestHeader(u"X-Fault", u"1"); }},
            {"SendRequest", [this] { http->SendRequest(u"", AnsiString()); }},
            {"QueryInfoValue", [this] { EXPECT_EQ(http->QueryInfoValue(heStatusCode), 200u); }},
            {"QueryInfo", [this] { EXPECT_FALSE(http->QueryInfo(heContentType).empty()); }},
            {"SecurityFlags", [this] { (void)http->SecurityFlags(); }},
            {"AvailableData", [this] { (void)http->AvailableData(); }},
            {"ReadData", [this] { EXPECT_EQ(http->ReadData(), expected); }},
            {"CloseRequest", [this] { http->CloseRequest(); }},
            {"Get again", [this] { Get(); }},
            {"Close", [this] { http->Close(); }},
            {"Session.Close", [this] { session->Close(); }},
        };
        // Closed, or open and usable.
        s.recover = [this] {
            if (http->Active()) {
                Get();
                http->Close();
            }
            EXPECT_FALSE(http->Active());
        };
        s.teardown = [this] {
            http.reset();
            session.reset();
        };
        return s;
    }
};

TEST(ComponentFaults, HttpExchangeSurvivesEveryFault) {
    for (const char* setting : {"CORVANE_HTTP_URL", "CORVANE_HTTPS_URL"}) {
        HttpExchange exchange(TestServers::Setting(setting));
        const auto scenario = exchange.Scenario(std::string("HTTP component over ") + setting);
        // Over HTTPS, an allocation that libcurl fails to report (one of its
        // last of an exchange) can leave a TLS connection in its cache that
        // the server resets on the next request; that is libcurl's to fix,
        // so libcurl's allocations are driven over plain HTTP only.
        const bool https = std::string(setting) == "CORVANE_HTTPS_URL";
        for (unsigned kinds : {unsigned(FI::Allocation), unsigned(FI::Curl)}) {
            if (https && kinds == FI::Curl) continue;
            const Faults::Counts counts = Faults::DriveFaults(scenario, kinds);
            EXPECT_GT(counts.injected, 0u) << setting;
            if (HasFailure()) return;
        }
    }
}

}  // namespace
