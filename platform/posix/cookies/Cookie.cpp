// Parsing a Set-Cookie text into the record the jar stores.
#include "posix/cookies/Cookie.h"

#include "posix/cookies/PublicSuffix.h"
#include "posix/text/Ascii.h"
#include "posix/text/InternetDate.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>

namespace Corvane::Backend {

namespace {

// The default path of a request path (RFC 6265, 5.1.4): its directory.
std::string DefaultPath(std::string_view path) {
    if (path.empty() || path.front() != '/') return "/";
    const std::size_t slash = path.rfind('/');
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

bool HasControl(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
    });
}

// A Max-Age value as an expiry time: an optional '-' and digits only (else
// nothing: the attribute is ignored); zero or negative is the earliest time.
std::optional<std::int64_t> MaxAgeExpiry(std::string_view value, std::int64_t now) {
    constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();
    const bool negative = !value.empty() && value.front() == '-';
    if (negative) value.remove_prefix(1);
    if (value.empty() || !std::all_of(value.begin(), value.end(), IsAsciiDigit<char>)) return std::nullopt;
    std::int64_t seconds = 0;
    for (char c : value) {
        if (seconds > (kLatest - 9) / 10) break;
        seconds = seconds * 10 + (c - '0');
    }
    if (negative || seconds == 0) return std::numeric_limits<std::int64_t>::min();
    return seconds > kLatest - now ? kLatest : now + seconds;
}

}  // namespace

std::string CanonicalCookieHost(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    std::string out = ToLowerAscii(host);
    while (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

bool CookieDomainMatch(std::string_view host, std::string_view domain) {
    if (host == domain) return true;
    if (IsIpAddress(host) || host.size() <= domain.size()) return false;
    return host.substr(host.size() - domain.size()) == domain && host[host.size() - domain.size() - 1] == '.';
}

bool CookiePathMatch(std::string_view requestPath, std::string_view cookiePath) {
    if (requestPath == cookiePath) return true;
    if (requestPath.size() < cookiePath.size() || requestPath.substr(0, cookiePath.size()) != cookiePath)
        return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

// RFC 6265, 5.2 (parsing) and 5.3 (storage model).
CookieVerdict ParseSetCookie(const CookieUrl& url, std::string_view setCookie, bool fromHttp,
                             std::int64_t now, Cookie* out) {
    const std::size_t semicolon = setCookie.find(';');
    const std::string_view pair = setCookie.substr(0, semicolon);
    const std::size_t equals = pair.find('=');
    if (equals == pair.npos) return CookieVerdict::kRefused;
    const std::string_view name = Trim(pair.substr(0, equals));
    const std::string_view value = Trim(pair.substr(equals + 1));
    if (name.empty() || HasControl(name) || HasControl(value) || name.size() + value.size() > kMaxCookieBytes)
        return CookieVerdict::kRefused;

    Cookie cookie;
    cookie.name = name;
    cookie.value = value;
    const std::string host = CanonicalCookieHost(url.host);
    if (host.empty()) return CookieVerdict::kRefused;

    std::optional<std::int64_t> expires, maxAge;
    std::string domainAttribute, pathAttribute;
    std::string_view rest =
        semicolon == setCookie.npos ? std::string_view() : setCookie.substr(semicolon + 1);
    // Controls anywhere refuse the text; an attribute value longer than
    // kMaxAttributeBytes is ignored (RFC 6265bis), so a path cannot carry
    // what the limit keeps out of name and value.
    if (HasControl(rest)) return CookieVerdict::kRefused;
    while (!rest.empty()) {
        const std::size_t next = rest.find(';');
        const std::string_view attribute = rest.substr(0, next);
        rest = next == rest.npos ? std::string_view() : rest.substr(next + 1);
        const std::size_t eq = attribute.find('=');
        const std::string_view key = Trim(attribute.substr(0, eq));
        const std::string_view val =
            eq == attribute.npos ? std::string_view() : Trim(attribute.substr(eq + 1));
        if (val.size() > kMaxAttributeBytes) continue;
        if (EqualsIgnoringAsciiCase(key, "expires")) {
            if (auto t = ParseHttpDate(val)) expires = *t;
        } else if (EqualsIgnoringAsciiCase(key, "max-age")) {
            if (auto t = MaxAgeExpiry(val, now)) maxAge = *t;
        } else if (EqualsIgnoringAsciiCase(key, "domain")) {
            std::string_view d = val;
            if (!d.empty() && d.front() == '.') d.remove_prefix(1);
            if (!d.empty()) domainAttribute = CanonicalCookieHost(d);
        } else if (EqualsIgnoringAsciiCase(key, "path")) {
            if (!val.empty() && val.front() == '/')
                pathAttribute = val;
            else
                pathAttribute.clear();
        } else if (EqualsIgnoringAsciiCase(key, "secure")) {
            cookie.secure = true;
        } else if (EqualsIgnoringAsciiCase(key, "httponly")) {
            cookie.httpOnly = true;
        } else if (EqualsIgnoringAsciiCase(key, "samesite")) {
            cookie.sameSite = val;
        }
    }
    if (cookie.httpOnly && !fromHttp) return CookieVerdict::kHttpOnly;

    // Max-Age wins over Expires.
    if (maxAge || expires) {
        cookie.persistent = true;
        cookie.expiry = maxAge ? *maxAge : *expires;
    }

    // A Domain that is a public suffix ("com", "co.uk") would send the
    // cookie to every site under it: refused, unless it is the host itself,
    // which then gets a host-only cookie. A Domain the host is not within is
    // refused. For an IP address host the Domain can only be the address
    // itself, which leaves the cookie host-only.
    if (!domainAttribute.empty() && IsPublicSuffix(domainAttribute)) {
        if (domainAttribute != host) return CookieVerdict::kRefused;
        domainAttribute.clear();
    }
    if (!domainAttribute.empty()) {
        // Within the host, and within the host's own registrable domain: a
        // site under a suffix of its own ("b.s3.example-host.com") may not
        // set cookies for the domain above that suffix, whose other sites
        // would get them.
        if (!CookieDomainMatch(host, domainAttribute) || CookieKey(domainAttribute) != CookieKey(host))
            return CookieVerdict::kRefused;
        cookie.domain = domainAttribute;
        cookie.hostOnly = IsIpAddress(host);
    } else {
        cookie.hostOnly = true;
        cookie.domain = host;
    }
    cookie.path = pathAttribute.empty() ? DefaultPath(url.path) : pathAttribute;
    cookie.creation = now;
    cookie.sequence = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    cookie.lastAccess = now;
    *out = std::move(cookie);
    return CookieVerdict::kStored;
}

}  // namespace Corvane::Backend
