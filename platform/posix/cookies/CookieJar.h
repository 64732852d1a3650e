// The process's cookie jar: RFC 6265 storage and retrieval of cookies, shared
// by the HTTP requests of every session.
//
// The jar works on raw bytes (cookie names and values are never converted)
// and explicit times (seconds since 1970, UTC), so that callers decide what
// "now" is. It is safe to use from several threads.
//
// What the cookie functions and persistence build on: Set parses and stores
// a Set-Cookie text as received from a URL (also used for texts given by an
// application, with `fromHttp` false); Matching and Header select what a URL
// gets; All and Insert give and take whole records (to save and load
// persistent cookies).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Corvane::Backend {

/// One stored cookie.
struct Cookie {
    std::string name;
    std::string value;
    /// Lower-case host name (host-only) or the Domain attribute without its
    /// leading dot.
    std::string domain;
    std::string path;
    /// Seconds since 1970 (UTC) after which the cookie is gone; for a session
    /// cookie the largest value.
    std::int64_t expiry = INT64_MAX;
    std::int64_t creation = 0;
    std::int64_t lastAccess = 0;
    /// Set from Expires or Max-Age (kept across sessions), else a session
    /// cookie.
    bool persistent = false;
    /// No Domain attribute: only the exact host gets it back.
    bool hostOnly = true;
    bool secure = false;
    bool httpOnly = false;
    /// The SameSite attribute as given (empty when absent).
    std::string sameSite;
};

/// The parts of a URL that cookie matching looks at.
struct CookieUrl {
    /// Host name as in the URL (any case; IPv6 literals with or without
    /// brackets).
    std::string host;
    /// The path, starting with "/", without query or fragment.
    std::string path;
    /// Whether the URL's scheme is a secure one (https).
    bool secure = false;
};

class CookieJar {
public:
    /// At most this many cookies in all, and per domain; the least recently
    /// used go first.
    static constexpr std::size_t kMaxCookies = 3000;
    static constexpr std::size_t kMaxPerDomain = 180;
    /// Name and value together may not be longer than this.
    static constexpr std::size_t kMaxCookieBytes = 4096;

    /// The jar every HTTP request of the process uses.
    static CookieJar& Process();

    /// Parses one Set-Cookie value received from `url` and stores it (or
    /// removes the cookie it replaces when it has already expired). Returns
    /// false when the text was ignored: no name, a Domain the host is not
    /// within, an HttpOnly cookie from a non-HTTP caller over an HttpOnly
    /// one, too large, ...
    bool Set(const CookieUrl& url, std::string_view setCookie, bool fromHttp, std::int64_t now);

    /// The cookies `url` gets, in the order they are sent: longer paths first,
    /// then older ones first. Updates their last-access time. HttpOnly
    /// cookies only when `forHttp`.
    std::vector<Cookie> Matching(const CookieUrl& url, bool forHttp, std::int64_t now);

    /// The Cookie request header value for `url` ("a=1; b=2"); empty when
    /// there is none.
    std::string Header(const CookieUrl& url, std::int64_t now);

    /// Every unexpired cookie.
    std::vector<Cookie> All(std::int64_t now);

    /// Stores a whole record (loading saved cookies): replaces one of the
    /// same name, domain and path.
    void Insert(Cookie cookie);

    /// Removes every cookie.
    void Clear();

private:
    void Store(Cookie cookie, bool fromHttp, std::int64_t now, bool& stored);
    void Evict(const std::string& domain);

    std::mutex FMutex;
    std::vector<Cookie> FCookies;
};

/// Host names as cookies compare them: lower case, IPv6 brackets removed.
std::string CanonicalCookieHost(std::string_view host);

/// Whether `host` is within `domain` (RFC 6265 domain-match).
bool CookieDomainMatch(std::string_view host, std::string_view domain);

/// Whether `requestPath` is within `cookiePath` (RFC 6265 path-match).
bool CookiePathMatch(std::string_view requestPath, std::string_view cookiePath);

}  // namespace Corvane::Backend
