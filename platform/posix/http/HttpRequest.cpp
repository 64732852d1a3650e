// HttpOpenRequestW, HttpAddRequestHeadersW, HttpSendRequestW and the request
// handle's reading and options.
#include "posix/http/HttpRequest.h"
#include "posix/async/Async.h"
#include "posix/errors/Barrier.h"

#include "posix/text/InternetDate.h"
#include "posix/connection/OfflineMode.h"
#include "posix/cookies/CookieJar.h"
#include "posix/errors/LastError.h"
#include "posix/handles/Options.h"
#include "posix/http/Proxy.h"
#include "posix/http/Tls.h"
#include "posix/session/Session.h"
#include "posix/text/Ascii.h"
#include "posix/text/Utf.h"

#include <curl/curl.h>

#include <memory>
#include <optional>

#include <algorithm>

namespace Corvane::Backend {

namespace {

bool HasLineBreak(std::u16string_view text) {
    return text.find_first_of(u"\r\n") != std::u16string_view::npos || text.find(u'\0') != text.npos;
}

// The object name as it goes on the request line: a leading '/' when it has
// none, and every byte that may not stand in a URL (controls, blanks,
// non-ASCII as UTF-8) percent-encoded; existing escapes are kept. The name
// is always a path on the connection's server, as on the platform: one that
// reads like an absolute URL ("http://other/x") becomes "/http://other/x",
// so it can neither lead the request (and the connection's credentials) to
// another server nor drop the TLS that INTERNET_FLAG_SECURE asked for.
std::string EscapeObject(std::u16string_view object) {
    const std::string raw = Utf16ToUtf8(object);
    if (raw.empty()) return "/";
    std::string out;
    out.reserve(raw.size() + 8);
    if (raw.front() != '/') out += '/';
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
            c == '`' || c == '{' || c == '|' || c == '}') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// libcurl's URL handle and the texts it hands out, freed whatever happens
// (an allocation that fails throws between getting and freeing them).
struct CurlUrlFree {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlFree>;

// One part of `handle` into `out`; false when it has none (or memory ran
// out, which libcurl does not tell apart).
bool UrlPart(CURLU* handle, CURLUPart which, std::string& out, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(handle, which, &text, flags) != CURLUE_OK || !text) {
        out.clear();
        return false;
    }
    const std::unique_ptr<char, decltype(&curl_free)> owned(text, &curl_free);
    out = text;
    return true;
}

// Scheme, host and port of the URL `handle` holds, for telling whether
// credentials may go to it; nothing when one cannot be read (which must
// never pass for the same origin).
std::optional<UrlOrigin> OriginOf(CURLU* handle) {
    UrlOrigin origin;
    if (!UrlPart(handle, CURLUPART_SCHEME, origin.scheme) || !UrlPart(handle, CURLUPART_HOST, origin.host) ||
        !UrlPart(handle, CURLUPART_PORT, origin.port, CURLU_DEFAULT_PORT))
        return std::nullopt;
    for (std::string* part : {&origin.scheme, &origin.host, &origin.port}) *part = ToLowerAscii(*part);
    return origin;
}

// The parts of an absolute URL, read once; false when libcurl cannot read
// it.
bool SplitUrl(const std::string& url, std::string& scheme, std::string& host, std::string& path,
              std::optional<UrlOrigin>* origin = nullptr) {
    const CurlUrl handle(curl_url());
    if (!handle) return false;
    bool ok = curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK;
    ok = ok && UrlPart(handle.get(), CURLUPART_SCHEME, scheme) && UrlPart(handle.get(), CURLUPART_HOST, host);
    if (ok && !UrlPart(handle.get(), CURLUPART_PATH, path)) path.assign(1, '/');
    if (ok && origin) *origin = OriginOf(handle.get());
    scheme = ToLowerAscii(scheme);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return ok;
}

// A Location value resolved against the URL it came from.
bool ResolveLocation(const std::string& base, const std::string& location, std::string& resolved) {
    const CurlUrl handle(curl_url());
    if (!handle) return false;
    return curl_url_set(handle.get(), CURLUPART_URL, base.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
           curl_url_set(handle.get(), CURLUPART_URL, location.c_str(),
                        CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) == CURLUE_OK &&
           UrlPart(handle.get(), CURLUPART_URL, resolved);
}

bool IsFollowedRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The origin of a URL (see OriginOf).
std::optional<UrlOrigin> Origin(const std::string& url) {
    const CurlUrl handle(curl_url());
    if (!handle ||
        curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return std::nullopt;
    return OriginOf(handle.get());
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra;
        if (c < 0x80)
            extra = 0;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            extra = 1;
        else if ((c & 0xF0) == 0xE0)
            extra = 2;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (text.size() - i <= extra) return false;
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace

std::u16string HeaderText(std::string_view value) {
    if (IsValidUtf8(value)) return Utf8ToUtf16(value);
    std::u16string out(value.size(), u'\0');
    std::transform(value.begin(), value.end(), out.begin(),
                   [](char c) { return static_cast<char16_t>(static_cast<unsigned char>(c)); });
    return out;
}

HttpRequest::HttpRequest(std::shared_ptr<HttpConnection> connection, DWORD_PTR context, std::string verb,
                         std::string object, bool http10, DWORD flags, RequestHeaders headers)
    : Handle(Ops, connection, context),
      FConnection(std::move(connection)),
      FVerb(std::move(verb)),
      FObject(std::move(object)),
      FHttp10(http10),
      FFlags(flags),
      FSecurityFlags(flags &
                     (SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                      SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP | SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS)),
      FHeaders(std::move(headers)),
      FTransfer(*this) {
    FUrl = InitialUrl();
}

// scheme://host[:port]/object, the port only when it is not the scheme's
// default; port 0 on the connection means that default.
std::string HttpRequest::InitialUrl() const {
    const bool secure = (FFlags & INTERNET_FLAG_SECURE) != 0;
    std::string host = FConnection->Server();
    if (host.find(':') != std::string::npos && host.front() != '[') {
        host.insert(host.begin(), '[');
        host += ']';
    }
    const INTERNET_PORT defaultPort = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    const INTERNET_PORT port = FConnection->Port() ? FConnection->Port() : defaultPort;
    std::string url = secure ? "https://" : "http://";
    url += host;
    if (port != defaultPort) {
        url += ':';
        url += std::to_string(port);
    }
    url += FObject;
    return url;
}

DWORD HttpRequest::AddHeaders(std::string_view text, DWORD modifiers) {
    std::lock_guard<std::mutex> lock(FMutex);
    return FHeaders.Apply(text, modifiers);
}

std::string HttpRequest::CurrentVerb() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FSent ? FSentVerb : FVerb;
}

// What libcurl gets for one hop: the application's headers, the cookies for
// the hop's URL, and blanks for the headers libcurl would add on its own that
// the platform does not send.
HopConfig HttpRequest::MakeHop(const Target& target, const std::string& verb, bool withBody,
                               DWORD* cookiesSent) {
    HopConfig hop;
    hop.url = target.url;
    hop.origin = target.origin;
    hop.host = target.host;
    hop.verb = verb;
    hop.http10 = FHttp10;
    hop.timeouts = FConnection->EffectiveTimeouts(&FTimeouts);

    RequestHeaders headers;
    std::string user, password;
    std::u16string proxyUser, proxyPassword;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        headers = FHeaders;
        hop.body = withBody ? FBody : nullptr;
        user = FUser ? Utf16ToUtf8(*FUser) : FConnection->User();
        password = FPassword ? Utf16ToUtf8(*FPassword) : FConnection->Password();
        proxyUser = FProxyUser ? *FProxyUser : FConnection->ProxyUser();
        proxyPassword = FProxyPassword ? *FProxyPassword : FConnection->ProxyPassword();
    }
    if (!withBody && FBody && !FBody->empty()) {
        headers.Remove("Content-Length");
        headers.Remove("Content-Type");
    }
    // Credentials and cookies the application added belong to the origin it
    // addressed: a hop to another scheme, host or port goes without them.
    const std::string initial = InitialUrl();
    const bool sameOrigin = target.origin && (target.url == initial || target.origin == Origin(initial));
    if (!sameOrigin) {
        for (const char* name : {"Authorization", "Proxy-Authorization", "Cookie"}) headers.Remove(name);
    }
    *cookiesSent = 0;
    if (!(FFlags & INTERNET_FLAG_NO_COOKIES)) {
        std::size_t count = 0;
        const std::string cookies = CookieJar::Process().Header(
            CookieUrl{target.host, target.path, target.scheme == "https"}, UnixNow(), &count);
        *cookiesSent = static_cast<DWORD>(count);
        if (!cookies.empty()) {
            const HeaderBlock block{std::string(), headers.Fields()};
            if (const HeaderField* own = block.Find("Cookie"))
                headers.Set("Cookie", own->value + "; " + cookies);
            else
                headers.Set("Cookie", cookies);
        }
    }
    for (const HeaderField& field : headers.Fields()) hop.headers.push_back(field.name + ": " + field.value);
    for (const char* own : {"Accept", "Expect", "Content-Type"})
        if (!headers.Has(own)) hop.headers.push_back(std::string(own) + ":");

    const auto session = SessionOf(FConnection);
    if (session) {
        const SessionSettings settings = session->Settings();
        std::string agent = Utf16ToUtf8(settings.agent);
        // An agent text with a line break would add header lines of its own.
        agent = agent.substr(0, agent.find_first_of("\r\n"));
        hop.userAgent = agent;
        hop.proxy = ProxyFor(settings, target.scheme, target.host);
        // A proxy's challenge (407) is answered with the proxy credentials;
        // without them it is the response.
        if (!hop.proxy.empty() && !proxyUser.empty()) {
            hop.proxyUser = Utf16ToUtf8(proxyUser);
            hop.proxyPassword = Utf16ToUtf8(proxyPassword);
        }
    }
    // Credentials go only to the server the connection was made for, never
    // to another one a redirect leads to.
    hop.useCredentials = !(FFlags & INTERNET_FLAG_NO_AUTH) && !user.empty() && sameOrigin;
    if (hop.useCredentials) {
        hop.user = user;
        hop.password = password;
    }
    return hop;
}

DWORD HttpRequest::KeepCookies(const Target& target, const ResponseHead& head) const {
    if (FFlags & INTERNET_FLAG_NO_COOKIES) return 0;
    const CookieUrl url{target.host, target.path, target.scheme == "https"};
    const std::int64_t now = UnixNow();
    DWORD received = 0;
    for (const HeaderField& field : head.fields) {
        if (!SameHeaderName(field.name, "Set-Cookie")) continue;
        CookieJar::Process().Set(url, field.value, true, now);
        ++received;
    }
    return received;
}

DWORD HttpRequest::Send(std::string_view headers, std::string body) {
    const Transfer::Caller caller(FTransfer);
    if (!caller.Entered()) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    Exchange exchange;
    DWORD error = Prepare(headers, std::move(body), exchange);
    if (error == ERROR_SUCCESS) error = StartHop(exchange);
    return error == ERROR_SUCCESS ? Conclude(exchange) : error;
}

// The operations of one handle run one at a time beneath an asynchronous
// session, so the caller right is not taken: the send's end runs on another
// thread than its start.
std::optional<Async::Result> HttpRequest::SendEvented(const std::shared_ptr<HttpRequest>& self,
                                                      std::string_view headers, std::string body,
                                                      Async::Resume resume) {
    const auto outcome = [](DWORD error) { return Async::Result{error == ERROR_SUCCESS, error}; };
    auto exchange = std::make_shared<Exchange>();
    DWORD error = Prepare(headers, std::move(body), *exchange);
    if (error == ERROR_SUCCESS) error = StartHop(*exchange);
    if (error != ERROR_SUCCESS) return outcome(error);
    std::function<void()> goOn =
        resume([self, exchange, outcome] { return outcome(self->Conclude(*exchange)); });
    switch (FTransfer.WhenHeaders(goOn)) {
    case Transfer::Waiting::Registered:
        return std::nullopt;
    case Transfer::Waiting::Over:
        // The headers came in (or the hop ended) already: a worker goes on
        // all the same, as redirects may wait on the network.
        goOn();
        return std::nullopt;
    case Transfer::Waiting::NoWorker:
        break;
    }
    FTransfer.Release();
    return outcome(ERROR_INTERNET_ASYNC_THREAD_FAILED);
}

DWORD HttpRequest::Prepare(std::string_view headers, std::string body, Exchange& exchange) {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!headers.empty()) {
        const DWORD error = FHeaders.Apply(headers, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
        if (error != ERROR_SUCCESS) return error;
    }
    FBody = std::make_shared<const std::string>(std::move(body));
    FSent = true;
    FSentVerb = FVerb;
    exchange.verb = FVerb;
    exchange.url = InitialUrl();
    exchange.securityFlags = FSecurityFlags;
    // A HEAD request sends no body (and its response has none).
    exchange.withBody = !FBody->empty() && exchange.verb != "HEAD";
    return ERROR_SUCCESS;
}

DWORD HttpRequest::StartHop(Exchange& exchange) {
    Target& target = exchange.target;
    target = Target{exchange.url, {}, {}, {}, {}};
    if (!SplitUrl(exchange.url, target.scheme, target.host, target.path, &target.origin))
        return ERROR_INTERNET_INVALID_URL;
    // Every URL a hop goes to is http or https, whose ports libcurl knows:
    // only memory can have been short.
    if (!target.origin) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD cookiesSent = 0;
    const HopConfig hop = MakeHop(target, exchange.verb, exchange.withBody, &cookiesSent);
    const std::shared_ptr<TransferGroup> group =
        FConnection->Group(hop, exchange.securityFlags & kCertificateIgnoreFlags);
    if (!group) return ERROR_INVALID_HANDLE;
    // The certificate checks are OpenSSL's; with another TLS library
    // under libcurl they would not run as the flags say.
    if (target.scheme == "https" && !TlsLibraryUsable()) return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FUrl = exchange.url;
        FSentVerb = exchange.verb;
    }
    // The number of cookies the hop carries (none with
    // INTERNET_FLAG_NO_COOKIES, which makes no notification either).
    if (cookiesSent > 0) Notify(INTERNET_STATUS_COOKIE_SENT, &cookiesSent, sizeof(cookiesSent));
    return FTransfer.Start(group, hop);
}

DWORD HttpRequest::Conclude(Exchange& exchange) {
    for (;;) {
        if (const DWORD error = FTransfer.WaitForHeaders(); error != ERROR_SUCCESS) return error;
        const Target& target = exchange.target;
        const ResponseHead head = FTransfer.Response();
        // A proxy's refusal of the tunnel speaks for the proxy, not for the
        // server: its cookies and its Location never count for the server.
        if (head.fromProxy) return ERROR_SUCCESS;
        // The number of Set-Cookie fields the response carried, whether the
        // jar took them or not.
        if (DWORD received = KeepCookies(target, head); received > 0)
            Notify(INTERNET_STATUS_COOKIE_RECEIVED, &received, sizeof(received));
        if ((FFlags & INTERNET_FLAG_NO_AUTO_REDIRECT) || !IsFollowedRedirect(head.status))
            return ERROR_SUCCESS;
        const HeaderField* location = head.Find("Location");
        std::string next;
        if (!location || location->value.empty()) return ERROR_SUCCESS;
        if (!ResolveLocation(exchange.url, location->value, next)) return ERROR_HTTP_REDIRECT_FAILED;
        std::string nextScheme, nextHost, nextPath;
        if (!SplitUrl(next, nextScheme, nextHost, nextPath) ||
            (nextScheme != "http" && nextScheme != "https"))
            return ERROR_HTTP_REDIRECT_FAILED;
        if (exchange.redirects++ >= kMaxRedirects) return ERROR_HTTP_REDIRECT_FAILED;
        DWORD securityFlags;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            securityFlags = exchange.securityFlags = FSecurityFlags;
        }
        if (target.scheme == "http" && nextScheme == "https" &&
            !(securityFlags & SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS))
            return ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR;
        if (target.scheme == "https" && nextScheme == "http" &&
            !(securityFlags & SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP))
            return ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;

        // The redirect's own body is read and dropped, so that its
        // connection can serve the next hop.
        FTransfer.Discard(64 << 10);
        const std::u16string wide = Utf8ToUtf16(next);
        Notify(INTERNET_STATUS_REDIRECT, const_cast<char16_t*>(wide.c_str()),
               static_cast<DWORD>((wide.size() + 1) * sizeof(char16_t)));
        // A 303 asks for the result with GET (HEAD stays HEAD); after a 301
        // or 302 only a POST may turn into a GET (RFC 9110, 15.4.2 and
        // 15.4.3): any other method goes on with its body.
        if (head.status == 303 || ((head.status == 301 || head.status == 302) && exchange.verb == "POST")) {
            if (exchange.verb != "HEAD") exchange.verb = "GET";
            exchange.withBody = false;
        }
        exchange.url = std::move(next);
        if (const DWORD error = StartHop(exchange); error != ERROR_SUCCESS) return error;
    }
}

// The request's option and data operations; a friend of HttpRequest.
struct HttpRequestOps {
    static constexpr DWORD kSettableSecurityFlags =
        SECURITY_SET_MASK | SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTP | SECURITY_FLAG_IGNORE_REDIRECT_TO_HTTPS;

    // The request's own setting of a credential option (unset: the
    // connection's applies).
    static std::optional<std::u16string>* Credential(HttpRequest& request, DWORD option) {
        switch (option) {
        case INTERNET_OPTION_USERNAME:
            return &request.FUser;
        case INTERNET_OPTION_PASSWORD:
            return &request.FPassword;
        case INTERNET_OPTION_PROXY_USERNAME:
            return &request.FProxyUser;
        default:
            return &request.FProxyPassword;
        }
    }

    static std::u16string ConnectionCredential(const HttpRequest& request, DWORD option) {
        const HttpConnection& connection = *request.FConnection;
        switch (option) {
        case INTERNET_OPTION_USERNAME:
            return Utf8ToUtf16(connection.User());
        case INTERNET_OPTION_PASSWORD:
            return Utf8ToUtf16(connection.Password());
        case INTERNET_OPTION_PROXY_USERNAME:
            return connection.ProxyUser();
        default:
            return connection.ProxyPassword();
        }
    }

    static DWORD Query(Handle& handle, DWORD option, void* buffer, DWORD* size) {
        auto& request = static_cast<HttpRequest&>(handle);
        switch (option) {
        case INTERNET_OPTION_SECURITY_FLAGS: {
            DWORD flags;
            {
                std::lock_guard<std::mutex> lock(request.FMutex);
                flags = request.FSecurityFlags;
            }
            return QueryValue(buffer, size, flags | request.FTransfer.TlsState());
        }
        case INTERNET_OPTION_URL: {
            std::string url;
            {
                std::lock_guard<std::mutex> lock(request.FMutex);
                url = request.FUrl;
            }
            return QueryText(buffer, size, Utf8ToUtf16(url));
        }
        case INTERNET_OPTION_REQUEST_FLAGS:
            return QueryValue(buffer, size, request.FFlags);
        case INTERNET_OPTION_USERNAME:
        case INTERNET_OPTION_PASSWORD:
        case INTERNET_OPTION_PROXY_USERNAME:
        case INTERNET_OPTION_PROXY_PASSWORD: {
            std::optional<std::u16string> own;
            {
                std::lock_guard<std::mutex> lock(request.FMutex);
                own = *Credential(request, option);
            }
            return QueryText(buffer, size, own ? *own : ConnectionCredential(request, option));
        }
        default: {
            TimeoutOverrides overrides;
            {
                std::lock_guard<std::mutex> lock(request.FMutex);
                overrides = request.FTimeouts;
            }
            return QueryTimeoutOption(request.FConnection->EffectiveTimeouts(&overrides), option, buffer,
                                      size);
        }
        }
    }

    // Security flags can only be added: a flag that relaxes a check stays
    // set for the request, the read-only bits (SECURE, strength) are
    // ignored.
    static DWORD Set(Handle& handle, DWORD option, const void* buffer, DWORD size) {
        auto& request = static_cast<HttpRequest&>(handle);
        std::lock_guard<std::mutex> lock(request.FMutex);
        switch (option) {
        case INTERNET_OPTION_SECURITY_FLAGS: {
            DWORD flags = 0;
            const DWORD error = SetValue(buffer, size, flags);
            if (error == ERROR_SUCCESS) request.FSecurityFlags |= flags & kSettableSecurityFlags;
            return error;
        }
        case INTERNET_OPTION_USERNAME:
        case INTERNET_OPTION_PASSWORD:
        case INTERNET_OPTION_PROXY_USERNAME:
        case INTERNET_OPTION_PROXY_PASSWORD: {
            std::u16string text;
            const DWORD error = SetText(buffer, size, text);
            if (error == ERROR_SUCCESS) *Credential(request, option) = std::move(text);
            return error;
        }
        case INTERNET_OPTION_URL:
        case INTERNET_OPTION_REQUEST_FLAGS:
            return ERROR_INTERNET_OPTION_NOT_SETTABLE;
        default:
            return SetTimeoutOption(request.FTimeouts, option, buffer, size);
        }
    }

    // The body's calls: only once the request was sent, and one caller at a
    // time (Transfer::Caller).
    template <typename Call>
    static DWORD OnBody(Handle& handle, Call&& call) {
        auto& request = static_cast<HttpRequest&>(handle);
        {
            std::lock_guard<std::mutex> lock(request.FMutex);
            if (!request.FSent) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
        }
        const Transfer::Caller caller(request.FTransfer);
        if (!caller.Entered()) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
        return call(request.FTransfer);
    }

    static DWORD Read(Handle& handle, void* buffer, DWORD toRead, DWORD* read) {
        return OnBody(handle, [&](Transfer& transfer) { return transfer.Read(buffer, toRead, read); });
    }

    static DWORD ReadNow(Handle& handle, void* buffer, DWORD toRead, DWORD* read) {
        return OnBody(handle, [&](Transfer& transfer) { return transfer.Read(buffer, toRead, read, false); });
    }
    static bool Ready(Handle& handle, DWORD wanted) {
        auto& request = static_cast<HttpRequest&>(handle);
        {
            std::lock_guard<std::mutex> lock(request.FMutex);
            if (!request.FSent) return true;
        }
        return request.FTransfer.Ready(wanted);
    }
    static DWORD Available(Handle& handle, DWORD* available) {
        return OnBody(handle, [&](Transfer& transfer) { return transfer.Available(available); });
    }

    static void Close(Handle& handle) { static_cast<HttpRequest&>(handle).FTransfer.Release(); }
};

const HandleOps HttpRequest::Ops = {
    .handleType = INTERNET_HANDLE_TYPE_HTTP_REQUEST,
    .name = "http request",
    .queryOption = &HttpRequestOps::Query,
    .setOption = &HttpRequestOps::Set,
    .read = &HttpRequestOps::Read,
    .close = &HttpRequestOps::Close,
    .queryDataAvailable = &HttpRequestOps::Available,
    .ready = &HttpRequestOps::Ready,
    .readNow = &HttpRequestOps::ReadNow,
};

}  // namespace Corvane::Backend

using namespace Corvane::Backend;

namespace {

// A text argument given with a length: -1 means zero-terminated; trailing
// zeros (a length that counted the terminator) are dropped.
std::u16string_view TextArgument(LPCWSTR text, DWORD length) {
    if (!text) return {};
    std::u16string_view view =
        length == static_cast<DWORD>(-1) ? std::u16string_view(text) : std::u16string_view(text, length);
    while (!view.empty() && view.back() == u'\0') view.remove_suffix(1);
    return view;
}

}  // namespace

// Opens a request beneath an HTTP connection. No network traffic; the
// request goes out with HttpSendRequestW. A verb that is not a token (it
// would break the request line) and a referrer or media type holding a line
// break fail with ERROR_INVALID_PARAMETER.
HINTERNET WINAPI HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName,
                                  LPCWSTR lpszVersion, LPCWSTR lpszReferrer, LPCWSTR* lplpszAcceptTypes,
                                  DWORD dwFlags, DWORD_PTR dwContext) {
    return Corvane::Backend::Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
        DWORD error = ERROR_INVALID_HANDLE;
        const auto connection =
            hConnect ? HandleTable::FindAs<HttpConnection>(hConnect, HttpConnection::Ops, &error) : nullptr;
        if (!connection) return FailWith<HINTERNET>(error, nullptr);

        const std::string verb = lpszVerb && *lpszVerb ? Utf16ToUtf8(lpszVerb) : "GET";
        if (!IsToken(verb)) return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
        const std::string object = EscapeObject(lpszObjectName ? lpszObjectName : u"");
        const std::string version = lpszVersion ? Utf16ToUtf8(lpszVersion) : "";
        const bool http10 = SameHeaderName(version, "HTTP/1.0");

        RequestHeaders headers;
        if (lpszReferrer && *lpszReferrer) {
            if (HasLineBreak(lpszReferrer)) return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
            headers.Set("Referer", Utf16ToUtf8(lpszReferrer));
        }
        if (lplpszAcceptTypes) {
            std::string accept;
            for (LPCWSTR* type = lplpszAcceptTypes; *type; ++type) {
                if (!**type) continue;
                if (HasLineBreak(*type)) return FailWith<HINTERNET>(ERROR_INVALID_PARAMETER, nullptr);
                if (!accept.empty()) accept += ", ";
                accept += Utf16ToUtf8(*type);
            }
            if (!accept.empty()) headers.Set("Accept", accept);
        }
        if (dwFlags & (INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE)) {
            headers.Set("Pragma", "no-cache");
            headers.Set("Cache-Control", "no-cache");
        }

        auto request = std::make_shared<HttpRequest>(connection, dwContext, verb, object, http10, dwFlags,
                                                     std::move(headers));
        const HINTERNET value = HandleTable::Register(request, &error);
        return value ? value : FailWith<HINTERNET>(error, nullptr);
    });
}

// See RequestHeaders::Apply for the modifiers and errors. A null text fails
// with ERROR_INVALID_PARAMETER; an empty one adds nothing.
BOOL WINAPI HttpAddRequestHeadersW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                                   DWORD dwModifiers) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        DWORD error = ERROR_INVALID_HANDLE;
        const auto request =
            hRequest ? HandleTable::FindAs<HttpRequest>(hRequest, HttpRequest::Ops, &error) : nullptr;
        if (!request) return Fail(error);
        if (!lpszHeaders) return Fail(ERROR_INVALID_PARAMETER);
        return Outcome(
            request->AddHeaders(Utf16ToUtf8(TextArgument(lpszHeaders, dwHeadersLength)), dwModifiers));
    });
}

// Sends the request and returns when the final response's headers are in
// (beneath an asynchronous session: completes then). The headers and the body
// are copied: the caller's buffers are free again on return.
BOOL WINAPI HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                             LPVOID lpOptional, DWORD dwOptionalLength) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        DWORD error = ERROR_INVALID_HANDLE;
        const auto request =
            hRequest ? HandleTable::FindAs<HttpRequest>(hRequest, HttpRequest::Ops, &error) : nullptr;
        if (!request) return Fail(error);
        if (!lpOptional && dwOptionalLength) return Fail(ERROR_INVALID_PARAMETER);
        if (OfflineMode::IsOffline(request)) return Fail(ERROR_INTERNET_OFFLINE);
        std::string body;
        if (dwOptionalLength) body.assign(static_cast<const char*>(lpOptional), dwOptionalLength);
        std::string headers = Utf16ToUtf8(TextArgument(lpszHeaders, lpszHeaders ? dwHeadersLength : 0));
        if (Async::IsAsync(*request)) {
            return Fail(Async::BeginEvented(request, [request, headers = std::move(headers),
                                                      body = std::move(body)](Async::Resume resume) mutable {
                return request->SendEvented(request, headers, std::move(body), std::move(resume));
            }));
        }
        return Outcome(request->Send(headers, std::move(body)));
    });
}

BOOL WINAPI HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength,
                           LPDWORD lpdwIndex) {
    return Corvane::Backend::Guarded<BOOL>(FALSE, [&]() -> BOOL {
        DWORD error = ERROR_INVALID_HANDLE;
        const auto request =
            hRequest ? HandleTable::FindAs<HttpRequest>(hRequest, HttpRequest::Ops, &error) : nullptr;
        if (!request) return Fail(error);
        return Outcome(request->QueryInfo(dwInfoLevel, lpBuffer, lpdwBufferLength, lpdwIndex));
    });
}
