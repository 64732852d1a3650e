// InternetOpenW and the session handle's options.
#include "posix/session/Session.h"

#include "posix/async/Workers.h"
#include "posix/errors/Barrier.h"

#include "posix/errors/LastError.h"
#include "posix/handles/Options.h"
#include "posix/text/Ascii.h"
#include "posix/text/Utf.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace Corvane::Backend {

namespace {

// The value of an environment variable in lower case, else in upper case;
// empty when neither is set (or set empty).
std::u16string Environment(const char* lowerName) {
    if (const char* value = std::getenv(lowerName); value && *value) return Utf8ToUtf16(value);
    const std::string upper = ToUpperAscii(lowerName);
    if (const char* value = std::getenv(upper.c_str()); value && *value) return Utf8ToUtf16(value);
    return {};
}

// A proxy URL from the environment without what a proxy list cannot carry:
// surrounding blanks and a trailing path ("http://proxy:3128/" becomes
// "http://proxy:3128").
std::u16string ProxyServer(std::u16string_view url) {
    url = Trim(url);
    const std::size_t schemeEnd = url.find(u"://");
    const std::size_t authority = schemeEnd == url.npos ? 0 : schemeEnd + 3;
    const std::size_t path = url.find(u'/', authority);
    if (path != url.npos) url = url.substr(0, path);
    return std::u16string(url);
}

// no_proxy ("a.example, .example.org, *") in the platform's form
// ("a.example;*.example.org;*").
std::u16string BypassList(std::u16string_view noProxy) {
    std::u16string out;
    while (!noProxy.empty()) {
        const std::size_t comma = noProxy.find_first_of(u",; ");
        std::u16string_view entry = Trim(noProxy.substr(0, comma));
        noProxy = comma == noProxy.npos ? std::u16string_view() : noProxy.substr(comma + 1);
        if (entry.empty()) continue;
        if (!out.empty()) out += u';';
        if (entry.front() == u'.') out += u'*';
        out += entry;
    }
    return out;
}

// Applies an access type and its lists to `settings`; fails with
// ERROR_INVALID_PARAMETER for an unknown type or a proxy type without a proxy.
DWORD ApplyAccess(SessionSettings& settings, DWORD accessType, std::u16string proxy, std::u16string bypass) {
    switch (accessType) {
    case INTERNET_OPEN_TYPE_DIRECT:
        proxy.clear();
        bypass.clear();
        break;
    case INTERNET_OPEN_TYPE_PROXY:
        if (Trim(proxy).empty()) return ERROR_INVALID_PARAMETER;
        break;
    case INTERNET_OPEN_TYPE_PRECONFIG:
    case INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY: {
        ProxyConfig config = ProxyFromEnvironment();
        proxy = std::move(config.proxy);
        bypass = std::move(config.bypass);
        break;
    }
    default:
        return ERROR_INVALID_PARAMETER;
    }
    settings.accessType = accessType;
    settings.proxyAccessType = proxy.empty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY;
    settings.proxy = std::move(proxy);
    settings.proxyBypass = std::move(bypass);
    return ERROR_SUCCESS;
}

// The session's 32-bit options and the settings they read and write.
struct DwordOption {
    DWORD option;
    DWORD SessionSettings::*field;
};

constexpr DwordOption kDwordOptions[] = {
    {INTERNET_OPTION_CONNECT_TIMEOUT, &SessionSettings::connectTimeout},
    {INTERNET_OPTION_CONNECT_RETRIES, &SessionSettings::connectRetries},
    {INTERNET_OPTION_SEND_TIMEOUT, &SessionSettings::sendTimeout},
    {INTERNET_OPTION_RECEIVE_TIMEOUT, &SessionSettings::receiveTimeout},
    {INTERNET_OPTION_DATA_SEND_TIMEOUT, &SessionSettings::dataSendTimeout},
    {INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &SessionSettings::dataReceiveTimeout},
};

const DwordOption* FindDwordOption(DWORD option) {
    for (const DwordOption& entry : kDwordOptions)
        if (entry.option == option) return &entry;
    return nullptr;
}

// INTERNET_OPTION_PROXY: the record followed, in the same buffer, by the
// texts its two pointers point to (a pointer is null when its list is empty).
DWORD QueryProxy(const SessionSettings& settings, void* buffer, DWORD* size) {
    const auto textBytes = [](const std::u16string& s) {
        return s.empty() ? 0 : static_cast<DWORD>((s.size() + 1) * sizeof(WCHAR));
    };
    const DWORD needed = static_cast<DWORD>(sizeof(INTERNET_PROXY_INFOW)) + textBytes(settings.proxy) +
                         textBytes(settings.proxyBypass);
    if (!buffer || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    auto* info = static_cast<INTERNET_PROXY_INFOW*>(buffer);
    auto* next = reinterpret_cast<WCHAR*>(info + 1);
    const auto place = [&next](const std::u16string& s) -> LPCWSTR {
        if (s.empty()) return nullptr;
        WCHAR* at = next;
        std::memcpy(at, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
        next += s.size() + 1;
        return at;
    };
    info->dwAccessType = settings.proxyAccessType;
    info->lpszProxy = place(settings.proxy);
    info->lpszProxyBypass = place(settings.proxyBypass);
    *size = needed;
    return ERROR_SUCCESS;
}

DWORD SetProxy(SessionSettings& settings, const void* buffer, DWORD size) {
    if (!buffer) return ERROR_INVALID_PARAMETER;
    if (size < sizeof(INTERNET_PROXY_INFOW)) return ERROR_INTERNET_BAD_OPTION_LENGTH;
    INTERNET_PROXY_INFOW info;
    std::memcpy(&info, buffer, sizeof(info));
    return ApplyAccess(settings, info.dwAccessType,
                       info.lpszProxy ? std::u16string(info.lpszProxy) : std::u16string(),
                       info.lpszProxyBypass ? std::u16string(info.lpszProxyBypass) : std::u16string());
}

}  // namespace

// The session kind's option operations; a friend of Session for its settings.
struct SessionOptions {
    static DWORD Query(Handle& handle, DWORD option, void* buffer, DWORD* size) {
        const SessionSettings settings = static_cast<Session&>(handle).Settings();
        if (const DwordOption* entry = FindDwordOption(option))
            return QueryValue(buffer, size, settings.*(entry->field));
        if (option == INTERNET_OPTION_USER_AGENT) return QueryText(buffer, size, settings.agent);
        if (option == INTERNET_OPTION_PROXY) return QueryProxy(settings, buffer, size);
        return kOptionNotHandled;
    }

    static DWORD Set(Handle& handle, DWORD option, const void* buffer, DWORD size) {
        auto& session = static_cast<Session&>(handle);
        std::lock_guard<std::mutex> lock(session.FMutex);
        SessionSettings& settings = session.FSettings;
        if (const DwordOption* entry = FindDwordOption(option))
            return SetValue(buffer, size, settings.*(entry->field));
        if (option == INTERNET_OPTION_USER_AGENT) return SetText(buffer, size, settings.agent);
        if (option == INTERNET_OPTION_PROXY) {
            SessionSettings changed = settings;
            const DWORD error = SetProxy(changed, buffer, size);
            if (error == ERROR_SUCCESS) settings = std::move(changed);
            return error;
        }
        return kOptionNotHandled;
    }
};

const HandleOps Session::Ops = {
    .handleType = INTERNET_HANDLE_TYPE_INTERNET,
    .name = "session",
    .queryOption = &SessionOptions::Query,
    .setOption = &SessionOptions::Set,
    .close = [](Handle& handle) { static_cast<Session&>(handle).LetGoOfWorkers(); },
};

Session::Session(SessionSettings settings)
    : Handle(Ops, nullptr, 0),
      FSettings(std::move(settings)),
      FAsync((FSettings.flags & INTERNET_FLAG_ASYNC) != 0),
      FUsesWorkers(FAsync) {
    if (FUsesWorkers) Workers::Retain();
}

Session::~Session() {
    LetGoOfWorkers();
}

// Everything beneath the session closed before this (its operations ended),
// so the pool has nothing of it left to do.
void Session::LetGoOfWorkers() {
    if (FUsesWorkers.exchange(false)) Workers::Release();
}

SessionSettings Session::Settings() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FSettings;
}

DWORD Session::Flags() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FSettings.flags;
}

std::shared_ptr<Session> SessionOf(const HandleRef& handle) {
    for (Handle* h = handle.get(); h; h = h->Parent().get())
        if (&h->Ops() == &Session::Ops) return std::static_pointer_cast<Session>(h->shared_from_this());
    return nullptr;
}

// A scheme's own proxy becomes "scheme=server"; all_proxy, when set, becomes
// the entry without a scheme that serves the others.
ProxyConfig ProxyFromEnvironment() {
    ProxyConfig config;
    static constexpr struct {
        const char* variable;
        std::u16string_view scheme;
    } kSchemes[] = {{"http_proxy", u"http"}, {"https_proxy", u"https"}, {"ftp_proxy", u"ftp"}};
    for (const auto& [variable, scheme] : kSchemes) {
        const std::u16string server = ProxyServer(Environment(variable));
        if (server.empty()) continue;
        if (!config.proxy.empty()) config.proxy += u' ';
        config.proxy.append(scheme).append(u"=").append(server);
    }
    if (const std::u16string all = ProxyServer(Environment("all_proxy")); !all.empty()) {
        if (!config.proxy.empty()) config.proxy += u' ';
        config.proxy += all;
    }
    if (!config.proxy.empty()) config.bypass = BypassList(Environment("no_proxy"));
    return config;
}

}  // namespace Corvane::Backend

using namespace Corvane::Backend;

// Opens a session. The agent may be null (no agent). Unknown access types,
// INTERNET_OPEN_TYPE_PROXY without a proxy, and flags other than
// INTERNET_FLAG_ASYNC and INTERNET_FLAG_OFFLINE fail with
// ERROR_INVALID_PARAMETER. The proxy arguments count only for
// INTERNET_OPEN_TYPE_PROXY; the preconfigured types take the environment's.
HINTERNET WINAPI InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy,
                               LPCWSTR lpszProxyBypass, DWORD dwFlags) {
    return Corvane::Backend::Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        constexpr DWORD kAccepted = INTERNET_FLAG_ASYNC | INTERNET_FLAG_OFFLINE;
        if (dwFlags & ~kAccepted) return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
        SessionSettings settings;
        settings.agent = lpszAgent ? lpszAgent : u"";
        settings.flags = dwFlags;
        const DWORD error = ApplyAccess(settings, dwAccessType, lpszProxy ? lpszProxy : u"",
                                        lpszProxyBypass ? lpszProxyBypass : u"");
        if (error != ERROR_SUCCESS) return FailWith<HINTERNET>(error, nullptr);

        DWORD registerError = ERROR_SUCCESS;
        const HINTERNET value =
            HandleTable::Register(std::make_shared<Session>(std::move(settings)), &registerError);
        return value ? value : FailWith<HINTERNET>(registerError, nullptr);
    });
}
