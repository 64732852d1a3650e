// InternetConnectW and the table of services.
#include "posix/connect/Connect.h"
#include "posix/errors/Barrier.h"

#include "posix/errors/LastError.h"
#include "posix/session/Session.h"

namespace Corvane::Backend {

// Each service's connect function.
#define CORVANE_SERVICE(service, connect)                                                \
    HINTERNET connect(const HandleRef& session, LPCWSTR server, INTERNET_PORT port,      \
                      LPCWSTR user, LPCWSTR password, DWORD flags, DWORD_PTR context);
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
// ERROR_INTERNET_INCORRECT_HANDLE_TYPE.
HINTERNET WINAPI InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName,
                                  INTERNET_PORT nServerPort, LPCWSTR lpszUserName,
                                  LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                  DWORD_PTR dwContext) {
    return Corvane::Backend::Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        DWORD error = ERROR_INVALID_HANDLE;
        const auto session =
            hInternet ? HandleTable::FindAs<Session>(hInternet, Session::Ops, &error) : nullptr;
        if (!session) return FailWith<HINTERNET>(error, nullptr);
        if (!lpszServerName || !*lpszServerName) return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
        const ServiceConnect connect = FindService(dwService);
        if (!connect) return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
        return connect(session, lpszServerName, nServerPort, lpszUserName, lpszPassword, dwFlags,
                       dwContext);
    });
}
