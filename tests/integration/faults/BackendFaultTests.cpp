// A complete HTTP exchange through the C API, and the URL routines, under
// every fault of the backend: a failing call returns the platform's failure
// value with a last error, and closing what was opened leaves no handle.
#include "FaultDriver.h"

#include "TestServers.h"

#include <Corvane/Corvane.h>
#include <Platform/ZoneCrossing.h>

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace {

namespace FI = Corvane::Backend::FaultInjection;

// A failed call raises, as the component would, after checking that it set
// a last error.
void Require(bool ok) {
    if (ok) return;
    const DWORD error = GetLastError();
    EXPECT_NE(error, 0u) << "a call failed without a last error";
    Corvane::Check(false);
}

HINTERNET Required(HINTERNET handle) {
    Require(handle != nullptr);
    return handle;
}

struct CExchange {
    HINTERNET session = nullptr, connection = nullptr, request = nullptr;
    std::string host;
    INTERNET_PORT port = 0;
    DWORD flags = 0;
    std::string body;

    void CloseAll() {
        // Closing the session closes what is beneath it.
        for (HINTERNET* handle : {&request, &connection, &session})
            if (*handle) {
                EXPECT_TRUE(InternetCloseHandle(*handle) || GetLastError() == ERROR_INVALID_HANDLE);
                *handle = nullptr;
            }
    }

    Faults::Scenario Scenario(const std::string& name) {
        Faults::Scenario s;
        s.name = name;
        s.setup = [this] { body.clear(); };
        const std::string path = TestServers::Setting("CORVANE_SMALL_PATH");
        const std::u16string object(path.begin(), path.end());
        s.steps = {
            {"InternetOpenW",
             [this] {
                 session = Required(InternetOpenW(u"Faults", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
             }},
            {"InternetConnectW",
             [this] {
                 const std::u16string server(host.begin(), host.end());
                 connection = Required(
                     InternetConnectW(session, server.c_str(), port, u"", u"", INTERNET_SERVICE_HTTP, 0, 0));
             }},
            {"HttpOpenRequestW",
             [this, object] {
                 request = Required(HttpOpenRequestW(connection, u"GET", object.c_str(), nullptr, nullptr,
                                                     nullptr, flags, 0));
             }},
            {"HttpAddRequestHeadersW",
             [this] {
                 Require(HttpAddRequestHeadersW(request, u"X-Fault: 1", DWORD(-1), HTTP_ADDREQ_FLAG_ADD));
             }},
            {"HttpSendRequestW", [this] { Require(HttpSendRequestW(request, nullptr, 0, nullptr, 0)); }},
            {"HttpQueryInfoW",
             [this] {
                 WCHAR text[64];
                 DWORD size = sizeof(text);
                 Require(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE, text, &size, nullptr));
                 EXPECT_EQ(std::u16string(text), u"200");
                 // A request that got through sent every header it was given.
                 WCHAR head[2048];
                 size = sizeof(head);
                 Require(HttpQueryInfoW(request,
                                        HTTP_QUERY_RAW_HEADERS_CRLF | HTTP_QUERY_FLAG_REQUEST_HEADERS, head,
                                        &size, nullptr));
                 EXPECT_NE(std::u16string(head).find(u"\r\nX-Fault: 1\r\n"), std::u16string::npos);
             }},
            {"InternetQueryOptionW",
             [this] {
                 DWORD value = 0, size = sizeof(value);
                 Require(InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &value, &size));
             }},
            {"InternetReadFile",
             [this] {
                 for (;;) {
                     DWORD available = 0, read = 0;
                     Require(InternetQueryDataAvailable(request, &available, 0, 0));
                     char piece[4096];
                     Require(InternetReadFile(request, piece, sizeof(piece), &read));
                     if (read == 0) break;
                     body.append(piece, read);
                 }
                 EXPECT_EQ(body.size(), 100u);
             }},
            {"InternetCloseHandle", [this] { CloseAll(); }},
        };
        s.recover = [this] {};
        s.teardown = [this] { CloseAll(); };
        return s;
    }
};

TEST(BackendFaults, CApiExchangeFailsCleanlyAtEveryFault) {
    for (const char* setting : {"CORVANE_HTTP_URL", "CORVANE_HTTPS_URL"}) {
        CExchange exchange;
        const std::string url = TestServers::Setting(setting);
        const std::size_t hostStart = url.find("://") + 3, colon = url.rfind(':');
        exchange.host = url.substr(hostStart, colon - hostStart);
        exchange.port = static_cast<INTERNET_PORT>(std::stoi(url.substr(colon + 1)));
        exchange.flags = url.rfind("https", 0) == 0 ? INTERNET_FLAG_SECURE : 0;
        const auto scenario = exchange.Scenario(std::string("C API exchange over ") + setting);
        Faults::DriveFaults(scenario, FI::Allocation | FI::Curl);
        if (HasFailure()) return;
    }
}

// A zone-crossing handler is the application's code: what it allocates
// never fails by the backend's fault plan.
DWORD AllocatingHandler(const char* from, const char* to, bool, void*) {
    try {
        return (std::string(from) + to).empty() ? ERROR_CANCELLED : ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        ADD_FAILURE() << "an allocation of the application's handler failed";
        return ERROR_CANCELLED;
    }
}

TEST(BackendFaults, UrlRoutinesFailCleanlyAtEveryFault) {
    Faults::Scenario s;
    s.name = "URL routines";
    s.setup = [] {};
    s.steps = {
        {"InternetCrackUrlW",
         [] {
             WCHAR host[64], path[64];
             URL_COMPONENTSW parts{};
             parts.dwStructSize = sizeof(parts);
             parts.lpszHostName = host;
             parts.dwHostNameLength = 64;
             parts.lpszUrlPath = path;
             parts.dwUrlPathLength = 64;
             Require(InternetCrackUrlW(u"http://h%41st.test:81/a%20b?q", 0, ICU_DECODE | ICU_ESCAPE, &parts));
             EXPECT_EQ(std::u16string(host), u"hAst.test");
         }},
        {"InternetCreateUrlW",
         [] {
             URL_COMPONENTSW parts{};
             parts.dwStructSize = sizeof(parts);
             parts.lpszScheme = const_cast<LPWSTR>(u"https");
             parts.lpszHostName = const_cast<LPWSTR>(u"example.test");
             parts.lpszUrlPath = const_cast<LPWSTR>(u"/a b");
             WCHAR url[128];
             DWORD length = 128;
             Require(InternetCreateUrlW(&parts, ICU_ESCAPE, url, &length));
         }},
        {"InternetCanonicalizeUrlW",
         [] {
             WCHAR url[128];
             DWORD length = 128;
             Require(InternetCanonicalizeUrlW(u"http://example.test/a/../b c", url, &length, 0));
             EXPECT_EQ(std::u16string(url), u"http://example.test/b%20c");
         }},
        {"InternetConfirmZoneCrossingA",
         [] {
             char from[] = "http://example.test/a", to[] = "https://example.test/b";
             Corvane::ZoneCrossing::SetHandler(&AllocatingHandler, nullptr);
             const DWORD result = InternetConfirmZoneCrossingA(nullptr, from, to, FALSE);
             Corvane::ZoneCrossing::SetHandler(nullptr, nullptr);
             // The code returned is the one left as the last error.
             if (result != ERROR_SUCCESS) {
                 EXPECT_EQ(GetLastError(), result);
             }
             Require(result == ERROR_SUCCESS);
         }},
    };
    s.teardown = [] {};
    const Faults::Counts counts = Faults::DriveFaults(s, FI::Allocation);
    EXPECT_GT(counts.points, 0u);
}

}  // namespace
