// The HTTP request handle (HttpOpenRequestW): what is to be sent (verb,
// object, headers, flags), the exchange itself with redirects followed hop by
// hop, and the response as HttpQueryInfoW and InternetReadFile see it.
#pragma once

#include "posix/async/Async.h"
#include "posix/handles/Handle.h"
#include "posix/http/HttpConnection.h"
#include "posix/http/Headers.h"
#include "posix/http/Transfer.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace Corvane::Backend {

class HttpRequest : public Handle {
public:
    static const HandleOps Ops;

    /// At most this many redirects are followed for one send.
    static constexpr int kMaxRedirects = 20;

    /// `verb` is a token, `object` the escaped target ("/path?query"),
    /// `headers` those the open call implies (Referer, Accept, no-cache).
    HttpRequest(std::shared_ptr<HttpConnection> connection, DWORD_PTR context, std::string verb,
                std::string object, bool http10, DWORD flags, RequestHeaders headers);

    /// HttpAddRequestHeadersW with the text in UTF-8.
    DWORD AddHeaders(std::string_view text, DWORD modifiers);

    /// HttpSendRequestW: adds `headers` (add-or-replace), sends the request
    /// with the body, follows redirects, and returns once the final
    /// response's headers are in.
    DWORD Send(std::string_view headers, std::string body);

    /// Send beneath an asynchronous session, started on a worker thread: the
    /// hop is handed to libcurl, and the wait for its headers holds no
    /// thread (Transfer::WhenHeaders); `resume` goes on with the rest
    /// (redirects followed as Send does) once they are in. The result when
    /// the send ended at once, else nothing. `self` is this request.
    std::optional<Async::Result> SendEvented(const std::shared_ptr<HttpRequest>& self,
                                             std::string_view headers, std::string body,
                                             Async::Resume resume);

    /// HttpQueryInfoW (see QueryInfo.cpp).
    DWORD QueryInfo(DWORD level, void* buffer, DWORD* size, DWORD* index);

private:
    friend struct HttpRequestOps;

    struct Target {
        std::string url;
        std::string scheme;
        std::string host;  // without brackets
        std::string path;  // path only, for cookies
        std::optional<UrlOrigin> origin;
    };

    // What a send carries from hop to hop.
    struct Exchange {
        std::string verb;
        std::string url;
        DWORD securityFlags = 0;
        bool withBody = false;
        int redirects = 0;
        Target target;
    };
    // The steps of a send: the request's headers and body taken, a hop
    // started, and once its headers are in, what follows (the hops of
    // redirects up to the final response).
    DWORD Prepare(std::string_view headers, std::string body, Exchange& exchange);
    DWORD StartHop(Exchange& exchange);
    DWORD Conclude(Exchange& exchange);

    std::string InitialUrl() const;
    HopConfig MakeHop(const Target& target, const std::string& verb, bool withBody, DWORD* cookiesSent);
    DWORD KeepCookies(const Target& target, const ResponseHead& head) const;
    HeaderBlock RequestBlock();
    std::string CurrentVerb() const;

    const std::shared_ptr<HttpConnection> FConnection;
    mutable std::mutex FMutex;
    const std::string FVerb;
    const std::string FObject;
    const bool FHttp10;
    const DWORD FFlags;
    DWORD FSecurityFlags;
    RequestHeaders FHeaders;
    std::shared_ptr<const std::string> FBody;
    std::string FUrl;
    std::string FSentVerb;
    bool FSent = false;
    TimeoutOverrides FTimeouts;
    // Credentials set on the request; where unset, the connection's apply.
    std::optional<std::u16string> FUser;
    std::optional<std::u16string> FPassword;
    std::optional<std::u16string> FProxyUser;
    std::optional<std::u16string> FProxyPassword;
    Transfer FTransfer;
};

/// A header value as UTF-16: UTF-8 when it is valid UTF-8, else each byte
/// as the character of that code (Latin-1).
std::u16string HeaderText(std::string_view value);

}  // namespace Corvane::Backend
