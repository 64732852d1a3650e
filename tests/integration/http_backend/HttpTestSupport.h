// Helpers for the HTTP backend tests: server addresses, handles that close
// themselves, and the usual query and read loops over the C API.
#pragma once

#include "PlatformDifferences.h"
#include "TestServers.h"
#include "WideText.h"

#include <Platform/WinInet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace HttpTest {

using WideText::U;
using WideText::W;

// Host and port of a base URL such as "http://127.0.0.1:8080".
struct Server {
    std::u16string host;
    INTERNET_PORT port = 0;
    bool secure = false;
};

inline Server ServerOf(const std::string& url) {
    Server server;
    server.secure = url.rfind("https://", 0) == 0;
    const std::string rest = url.substr(url.find("://") + 3);
    const std::size_t colon = rest.rfind(':');
    server.host = std::u16string(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(colon));
    server.port = static_cast<INTERNET_PORT>(std::stoi(rest.substr(colon + 1)));
    return server;
}

// A server URL of the test servers as a request that checks the server's
// certificate must name it.
inline std::string ValidCertificateUrl(std::string url) {
    return PlatformDifferences::CertificateCheckedUrl(std::move(url));
}

inline Server Echo() {
    return ServerOf(TestServers::Setting("CORVANE_ECHO_URL"));
}
inline Server EchoTls() {
    return ServerOf(TestServers::Setting("CORVANE_ECHO_TLS_URL"));
}
inline Server Nginx() {
    return ServerOf(TestServers::Setting("CORVANE_HTTP_URL"));
}

inline std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}
inline std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += static_cast<char>(c);
    return out;
}

// A handle closed at the end of its scope.
class Handle {
public:
    Handle() = default;
    explicit Handle(HINTERNET value) : FValue(value) {}
    ~Handle() { Close(); }
    Handle(Handle&& other) noexcept : FValue(other.FValue) { other.FValue = nullptr; }
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            Close();
            FValue = other.FValue;
            other.FValue = nullptr;
        }
        return *this;
    }
    HINTERNET get() const { return FValue; }
    explicit operator bool() const { return FValue != nullptr; }
    void Close() {
        if (FValue) InternetCloseHandle(FValue);
        FValue = nullptr;
    }
    HINTERNET release() {
        HINTERNET value = FValue;
        FValue = nullptr;
        return value;
    }

private:
    HINTERNET FValue = nullptr;
};

inline Handle OpenSession() {
    return Handle(InternetOpenW(W(u"CorvaneTest/1.0"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
}

inline Handle Connect(HINTERNET session, const Server& server, const std::u16string& user = u"",
                      const std::u16string& password = u"", DWORD_PTR context = 0) {
    return Handle(InternetConnectW(session, W(server.host.c_str()), server.port, W(user.c_str()),
                                   W(password.c_str()), INTERNET_SERVICE_HTTP, 0, context));
}

inline Handle Open(HINTERNET connection, const std::u16string& verb, const std::u16string& object,
                   DWORD flags = 0, DWORD_PTR context = 0) {
    return Handle(HttpOpenRequestW(connection, W(verb.c_str()), W(object.c_str()), W(u""), W(u""), nullptr,
                                   flags, context));
}

inline bool Send(HINTERNET request, const std::string& body = {}, const std::u16string& headers = {}) {
    return HttpSendRequestW(request, headers.empty() ? nullptr : W(headers.c_str()),
                            static_cast<DWORD>(headers.size()),
                            body.empty() ? nullptr : const_cast<char*>(body.data()),
                            static_cast<DWORD>(body.size())) != FALSE;
}

// The body to its end, read as the component does: a piece the size of what
// is available each time. Fails the test on an error.
inline std::string ReadAll(HINTERNET request) {
    std::string body;
    for (;;) {
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
            ADD_FAILURE() << "InternetQueryDataAvailable failed: " << GetLastError();
            return body;
        }
        std::string piece(available ? available : 1, '\0');
        DWORD read = 0;
        if (!InternetReadFile(request, piece.data(), static_cast<DWORD>(piece.size()), &read)) {
            ADD_FAILURE() << "InternetReadFile failed: " << GetLastError();
            return body;
        }
        if (read == 0) return body;
        body.append(piece.data(), read);
    }
}

// A text query with the size query first, as the component makes it.
// Returns false (with the last error) when either call fails.
inline bool QueryText(HINTERNET request, DWORD level, std::u16string& out, DWORD* index = nullptr) {
    DWORD size = 0;
    if (HttpQueryInfoW(request, level, nullptr, &size, index)) return false;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    std::u16string buffer(size / 2, u'\0');
    if (!HttpQueryInfoW(request, level, buffer.data(), &size, index)) return false;
    buffer.resize(size / 2);
    out = buffer;
    return true;
}

inline std::string Header(HINTERNET request, DWORD level) {
    std::u16string value;
    return QueryText(request, level, value) ? Narrow(value) : std::string("<none>");
}

inline std::string Custom(HINTERNET request, const std::string& name, DWORD index = 0) {
    std::u16string buffer = Wide(name);
    buffer.resize(std::max<std::size_t>(buffer.size() + 1, 256), u'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * 2);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, buffer.data(), &size, index ? &index : nullptr))
        return "<none>";
    return Narrow(buffer.substr(0, size / 2));
}

inline DWORD StatusCode(HINTERNET request) {
    DWORD code = 0, size = sizeof(code);
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
        return 0;
    return code;
}

inline std::string Bytes(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A port on 127.0.0.1 that nothing listens on.
inline INTERNET_PORT ClosedPort() {
    return TestServers::ClosedPort();
}

}  // namespace HttpTest
