// The HTTP connection handle (InternetConnectW with INTERNET_SERVICE_HTTP).
#include "posix/http/HttpConnection.h"

#include "posix/errors/LastError.h"
#include "posix/handles/Options.h"
#include "posix/http/ConnectionPool.h"
#include "posix/session/Session.h"
#include "posix/text/Utf.h"

namespace Corvane::Backend {

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

std::u16string HttpConnection::ProxyUser() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FProxyUser;
}

std::u16string HttpConnection::ProxyPassword() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FProxyPassword;
}

Timeouts HttpConnection::EffectiveTimeouts(const TimeoutOverrides* request) const {
    Timeouts timeouts = SessionTimeouts(Parent());
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FTimeouts.ApplyTo(timeouts);
    }
    if (request) request->ApplyTo(timeouts);
    return timeouts;
}

std::shared_ptr<TransferGroup> HttpConnection::Group(const HopConfig& hop, DWORD ignoreFlags) {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FClosing) return nullptr;
    }
    return ConnectionPool::Process().Group(hop, ignoreFlags);
}

// The connection kind's operations; a friend of HttpConnection.
struct HttpConnectionOps {
    // The credential text an option names, or null.
    static std::u16string* Credential(HttpConnection& connection, DWORD option) {
        switch (option) {
        case INTERNET_OPTION_USERNAME:
            return &connection.FUser;
        case INTERNET_OPTION_PASSWORD:
            return &connection.FPassword;
        case INTERNET_OPTION_PROXY_USERNAME:
            return &connection.FProxyUser;
        case INTERNET_OPTION_PROXY_PASSWORD:
            return &connection.FProxyPassword;
        default:
            return nullptr;
        }
    }

    static DWORD Query(Handle& handle, DWORD option, void* buffer, DWORD* size) {
        auto& connection = static_cast<HttpConnection&>(handle);
        if (const std::u16string* credential = Credential(connection, option)) {
            std::u16string text;
            {
                std::lock_guard<std::mutex> lock(connection.FMutex);
                text = *credential;
            }
            return QueryText(buffer, size, text);
        }
        return QueryTimeoutOption(connection.EffectiveTimeouts(), option, buffer, size);
    }

    static DWORD Set(Handle& handle, DWORD option, const void* buffer, DWORD size) {
        auto& connection = static_cast<HttpConnection&>(handle);
        std::lock_guard<std::mutex> lock(connection.FMutex);
        if (std::u16string* credential = Credential(connection, option))
            return SetText(buffer, size, *credential);
        return SetTimeoutOption(connection.FTimeouts, option, buffer, size);
    }

    // Its requests are closed by now. The kept-alive connections stay in
    // the process's pool for other handles to the same server.
    static void Close(Handle& handle) {
        auto& connection = static_cast<HttpConnection&>(handle);
        std::lock_guard<std::mutex> lock(connection.FMutex);
        connection.FClosing = true;
    }
};

const HandleOps HttpConnection::Ops = {
    .handleType = INTERNET_HANDLE_TYPE_CONNECT_HTTP,
    .name = "http connection",
    .queryOption = &HttpConnectionOps::Query,
    .setOption = &HttpConnectionOps::Set,
    .close = &HttpConnectionOps::Close,
};

// InternetConnectW for INTERNET_SERVICE_HTTP: no network traffic yet.
HINTERNET ConnectHttp(const HandleRef& session, LPCWSTR server, INTERNET_PORT port, LPCWSTR user,
                      LPCWSTR password, DWORD /*flags*/, DWORD_PTR context) {
    auto connection = std::make_shared<HttpConnection>(session, context, server, port, user ? user : u"",
                                                       password ? password : u"");
    DWORD error = ERROR_SUCCESS;
    const HINTERNET value = HandleTable::Register(connection, &error);
    return value ? value : FailWith<HINTERNET>(error, nullptr);
}

}  // namespace Corvane::Backend
