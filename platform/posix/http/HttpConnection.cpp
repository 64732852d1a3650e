// InternetConnectW and the HTTP connection handle.
#include "posix/http/HttpConnection.h"

#include "posix/errors/LastError.h"
#include "posix/handles/Options.h"
#include "posix/session/Session.h"
#include "posix/text/Utf.h"

namespace Corvane::Backend {

namespace {

struct TimeoutOption {
    DWORD option;
    std::optional<DWORD> TimeoutOverrides::*override;
    DWORD Timeouts::*effective;
};

constexpr TimeoutOption kTimeoutOptions[] = {
    {INTERNET_OPTION_CONNECT_TIMEOUT, &TimeoutOverrides::connect, &Timeouts::connect},
    {INTERNET_OPTION_SEND_TIMEOUT, &TimeoutOverrides::send, &Timeouts::send},
    {INTERNET_OPTION_RECEIVE_TIMEOUT, &TimeoutOverrides::receive, &Timeouts::receive},
};

const TimeoutOption* FindTimeout(DWORD option) {
    for (const TimeoutOption& entry : kTimeoutOptions)
        if (entry.option == option) return &entry;
    return nullptr;
}

}  // namespace

DWORD QueryTimeoutOption(const Timeouts& effective, DWORD option, void* buffer, DWORD* size) {
    const TimeoutOption* entry = FindTimeout(option);
    return entry ? QueryValue(buffer, size, effective.*(entry->effective)) : kOptionNotHandled;
}

DWORD SetTimeoutOption(TimeoutOverrides& overrides, DWORD option, const void* buffer, DWORD size) {
    const TimeoutOption* entry = FindTimeout(option);
    if (!entry) return kOptionNotHandled;
    DWORD value = 0;
    const DWORD error = SetValue(buffer, size, value);
    if (error == ERROR_SUCCESS) overrides.*(entry->override) = value;
    return error;
}

HttpConnection::HttpConnection(HandleRef session, DWORD_PTR context, std::u16string server,
                               INTERNET_PORT port, std::u16string user, std::u16string password)
    : Handle(Ops, std::move(session), context),
      FServer(Utf16ToUtf8(server)),
      FPort(port),
      FUser(std::move(user)),
      FPassword(std::move(password)) {}

std::string HttpConnection::User() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return Utf16ToUtf8(FUser);
}

std::string HttpConnection::Password() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return Utf16ToUtf8(FPassword);
}

Timeouts HttpConnection::EffectiveTimeouts(const TimeoutOverrides* request) const {
    Timeouts timeouts;
    if (const auto session = SessionOf(Parent())) {
        const SessionSettings settings = session->Settings();
        timeouts.connect = settings.connectTimeout;
        timeouts.send = settings.sendTimeout;
        timeouts.receive = settings.receiveTimeout;
    }
    const auto apply = [&timeouts](const TimeoutOverrides& overrides) {
        for (const TimeoutOption& entry : kTimeoutOptions)
            if (const auto& value = overrides.*(entry.override)) timeouts.*(entry.effective) = *value;
    };
    {
        std::lock_guard<std::mutex> lock(FMutex);
        apply(FTimeouts);
    }
    if (request) apply(*request);
    return timeouts;
}

std::shared_ptr<TransferGroup> HttpConnection::Group(DWORD ignoreFlags) {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FClosing) return nullptr;
    std::shared_ptr<TransferGroup>& group = FGroups[ignoreFlags];
    if (!group) group = std::make_shared<TransferGroup>(*this, ignoreFlags);
    return group;
}

// The connection kind's operations; a friend of HttpConnection.
struct HttpConnectionOps {
    static DWORD Query(Handle& handle, DWORD option, void* buffer, DWORD* size) {
        auto& connection = static_cast<HttpConnection&>(handle);
        if (option == INTERNET_OPTION_USERNAME || option == INTERNET_OPTION_PASSWORD) {
            std::u16string text;
            {
                std::lock_guard<std::mutex> lock(connection.FMutex);
                text = option == INTERNET_OPTION_USERNAME ? connection.FUser : connection.FPassword;
            }
            return QueryText(buffer, size, text);
        }
        return QueryTimeoutOption(connection.EffectiveTimeouts(), option, buffer, size);
    }

    static DWORD Set(Handle& handle, DWORD option, const void* buffer, DWORD size) {
        auto& connection = static_cast<HttpConnection&>(handle);
        std::lock_guard<std::mutex> lock(connection.FMutex);
        if (option == INTERNET_OPTION_USERNAME) return SetText(buffer, size, connection.FUser);
        if (option == INTERNET_OPTION_PASSWORD) return SetText(buffer, size, connection.FPassword);
        return SetTimeoutOption(connection.FTimeouts, option, buffer, size);
    }

    // Its requests are closed by now; the kept-alive connections close here
    // and report it on this handle.
    static void Close(Handle& handle) {
        auto& connection = static_cast<HttpConnection&>(handle);
        std::map<DWORD, std::shared_ptr<TransferGroup>> groups;
        {
            std::lock_guard<std::mutex> lock(connection.FMutex);
            connection.FClosing = true;
            groups.swap(connection.FGroups);
        }
        for (auto& [flags, group] : groups) {
            std::vector<StatusEvent> events = group->Shutdown();
            DeliverEvents(events);
        }
    }
};

const HandleOps HttpConnection::Ops = {
    INTERNET_HANDLE_TYPE_CONNECT_HTTP,
    "http connection",
    &HttpConnectionOps::Query,
    &HttpConnectionOps::Set,
    nullptr,
    nullptr,
    nullptr,
    &HttpConnectionOps::Close,
    nullptr,
};

namespace {

// InternetConnectW for INTERNET_SERVICE_HTTP: no network traffic yet.
HINTERNET ConnectHttp(const std::shared_ptr<Session>& session, LPCWSTR server, INTERNET_PORT port,
                      LPCWSTR user, LPCWSTR password, DWORD_PTR context) {
    auto connection = std::make_shared<HttpConnection>(session, context, server, port,
                                                       user ? user : u"", password ? password : u"");
    DWORD error = ERROR_SUCCESS;
    const HINTERNET value = HandleTable::Register(connection, &error);
    return value ? value : FailWith<HINTERNET>(error, nullptr);
}

// The services InternetConnectW knows, one entry each (FTP adds its own).
struct Service {
    DWORD service;
    HINTERNET (*connect)(const std::shared_ptr<Session>& session, LPCWSTR server, INTERNET_PORT port,
                         LPCWSTR user, LPCWSTR password, DWORD_PTR context);
};

constexpr Service kServices[] = {
    {INTERNET_SERVICE_HTTP, &ConnectHttp},
};

}  // namespace

}  // namespace Corvane::Backend

using namespace Corvane::Backend;

// Opens a connection handle beneath a session. A null or empty server name
// fails with ERROR_INVALID_PARAMETER, a service the backend does not offer
// with ERROR_INVALID_PARAMETER, a handle that is not a session with
// ERROR_INTERNET_INCORRECT_HANDLE_TYPE. The flags are accepted and not used.
HINTERNET WINAPI InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName,
                                  INTERNET_PORT nServerPort, LPCWSTR lpszUserName,
                                  LPCWSTR lpszPassword, DWORD dwService, DWORD /*dwFlags*/,
                                  DWORD_PTR dwContext) {
    DWORD error = ERROR_INVALID_HANDLE;
    const auto session =
        hInternet ? HandleTable::FindAs<Session>(hInternet, Session::Ops, &error) : nullptr;
    if (!session) return FailWith<HINTERNET>(error, nullptr);
    if (!lpszServerName || !*lpszServerName) return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
    for (const Service& entry : kServices)
        if (entry.service == dwService)
            return entry.connect(session, lpszServerName, nServerPort, lpszUserName, lpszPassword,
                                 dwContext);
    return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
}
