// InternetConnectW and the table of services.
#include "posix/connect/Connect.h"
#include "posix/errors/Barrier.h"

#include "posix/errors/LastError.h"
#include "posix/session/Session.h"

#include <arpa/inet.h>

#include <string>

#include <string_view>

namespace Corvane::Backend {

// Each service's connect function.
#define CORVANE_SERVICE(service, connect)                                                         \
    HINTERNET connect(const HandleRef& session, LPCWSTR server, INTERNET_PORT port, LPCWSTR user, \
                      LPCWSTR password, DWORD flags, DWORD_PTR context);
#include "posix/connect/Services.def"
#undef CORVANE_SERVICE

namespace {

struct Service {
    DWORD service;
    ServiceConnect connect;
};

constexpr Service kServices[] = {
#define CORVANE_SERVICE(service, connect) {service, &connect},
#include "posix/connect/Services.def"
#undef CORVANE_SERVICE
};

// A character no host name or address holds that would change what a URL
// built with the name addresses: '@' makes what stands before it user
// information ("good@evil" is the host "evil"), '/', '\\', '?' and '#' end
// the authority, and blanks and controls split or hide it. IPv6 addresses,
// with or without brackets, and international names pass.
bool EndsOrHidesTheHost(char16_t c) {
    return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == u'@' || c == u'/' || c == u'\\' || c == u'?' ||
           c == u'#' || (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 || c == 0x3000 ||
           c == 0xFEFF;
}

bool IsServerName(std::u16string_view name) {
    for (const char16_t c : name)
        if (EndsOrHidesTheHost(c)) return false;
    // Brackets only around a whole IPv6 address: "[::1]:8080" would carry a
    // port of its own past the one given.
    if (name.find_first_of(u"[]") == std::u16string_view::npos) return true;
    if (name.size() < 3 || name.front() != u'[' || name.back() != u']') return false;
    std::string inside;
    for (const char16_t c : name.substr(1, name.size() - 2)) {
        if (c > 0x7F) return false;
        inside += static_cast<char>(c);
    }
    in6_addr address{};
    return inet_pton(AF_INET6, inside.c_str(), &address) == 1;
}

}  // namespace

ServiceConnect FindService(DWORD service) {
    for (const Service& entry : kServices)
        if (entry.service == service) return entry.connect;
    return nullptr;
}

}  // namespace Corvane::Backend

using namespace Corvane::Backend;

// Opens a connection handle beneath a session. A null or empty server name
// fails with ERROR_INVALID_PARAMETER, a service the backend does not offer
// with ERROR_INVALID_PARAMETER, a handle that is not a session with
// ERROR_INTERNET_INCORRECT_HANDLE_TYPE. A server name that is no host name
// (IsServerName) fails at once with ERROR_INTERNET_NAME_NOT_RESOLVED, the
// error the platform gives when it tries to reach such a name: no service
// ever builds an address from it.
HINTERNET WINAPI InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                                  LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                  DWORD_PTR dwContext) {
    return Corvane::Backend::Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        DWORD error = ERROR_INVALID_HANDLE;
        const auto session =
            hInternet ? HandleTable::FindAs<Session>(hInternet, Session::Ops, &error) : nullptr;
        if (!session) return FailWith<HINTERNET>(error, nullptr);
        if (!lpszServerName || !*lpszServerName) return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
        if (!IsServerName(lpszServerName))
            return FailWith<HINTERNET>(ERROR_INTERNET_NAME_NOT_RESOLVED, nullptr);
        const ServiceConnect connect = FindService(dwService);
        if (!connect) return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
        return connect(session, lpszServerName, nServerPort, lpszUserName, lpszPassword, dwFlags, dwContext);
    });
}
