// RFC 6265 cookie parsing, storage and retrieval.
#include "posix/cookies/CookieJar.h"

#include "posix/text/Ascii.h"
#include "posix/text/InternetDate.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace Corvane::Backend {

namespace {

// An IPv4 dotted quad or an IPv6 literal: such hosts never domain-match
// anything but themselves.
bool IsIpAddress(std::string_view host) {
    if (host.find(':') != host.npos) return true;
    if (host.empty()) return false;
    int dots = 0;
    for (char c : host) {
        if (c == '.')
            ++dots;
        else if (!IsAsciiDigit(c))
            return false;
    }
    return dots == 3;
}

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

CookieJar& CookieJar::Process() {
    static CookieJar* jar = new CookieJar;  // never destroyed: used until the process ends
    return *jar;
}

// RFC 6265, 5.2 (parsing) and 5.3 (storage model).
bool CookieJar::Set(const CookieUrl& url, std::string_view setCookie, bool fromHttp, std::int64_t now) {
    const std::size_t semicolon = setCookie.find(';');
    const std::string_view pair = setCookie.substr(0, semicolon);
    const std::size_t equals = pair.find('=');
    if (equals == pair.npos) return false;
    const std::string_view name = Trim(pair.substr(0, equals));
    const std::string_view value = Trim(pair.substr(equals + 1));
    if (name.empty() || HasControl(name) || HasControl(value) || name.size() + value.size() > kMaxCookieBytes)
        return false;

    Cookie cookie;
    cookie.name = name;
    cookie.value = value;
    const std::string host = CanonicalCookieHost(url.host);

    std::optional<std::int64_t> expires, maxAge;
    std::string domainAttribute, pathAttribute;
    std::string_view rest =
        semicolon == setCookie.npos ? std::string_view() : setCookie.substr(semicolon + 1);
    while (!rest.empty()) {
        const std::size_t next = rest.find(';');
        const std::string_view attribute = rest.substr(0, next);
        rest = next == rest.npos ? std::string_view() : rest.substr(next + 1);
        const std::size_t eq = attribute.find('=');
        const std::string_view key = Trim(attribute.substr(0, eq));
        const std::string_view val =
            eq == attribute.npos ? std::string_view() : Trim(attribute.substr(eq + 1));
        if (EqualsIgnoringAsciiCase(key, "expires")) {
            if (auto t = ParseHttpDate(val)) expires = *t;
        } else if (EqualsIgnoringAsciiCase(key, "max-age")) {
            // An optional '-' and digits only; anything else is ignored.
            std::string_view digits = val;
            const bool negative = !digits.empty() && digits.front() == '-';
            if (negative) digits.remove_prefix(1);
            if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsAsciiDigit<char>)) continue;
            std::int64_t seconds = 0;
            for (char c : digits) {
                if (seconds > (std::numeric_limits<std::int64_t>::max() - 9) / 10) break;
                seconds = seconds * 10 + (c - '0');
            }
            maxAge = negative || seconds == 0 ? std::numeric_limits<std::int64_t>::min()
                                              : (seconds > std::numeric_limits<std::int64_t>::max() - now
                                                     ? std::numeric_limits<std::int64_t>::max()
                                                     : now + seconds);
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

    if (maxAge) {
        cookie.persistent = true;
        cookie.expiry = *maxAge;
    } else if (expires) {
        cookie.persistent = true;
        cookie.expiry = *expires;
    }

    if (!domainAttribute.empty()) {
        // A Domain the host is not within is refused, and so is one that is
        // a bare top-level label ("com"), unless it is the host itself: such
        // a cookie would go to every site under that label. For an IP
        // address host the Domain can only be the address itself, which
        // leaves the cookie host-only.
        if (!CookieDomainMatch(host, domainAttribute)) return false;
        if (domainAttribute.find('.') == std::string::npos && domainAttribute != host) return false;
        cookie.domain = domainAttribute;
        cookie.hostOnly = IsIpAddress(host);
    } else {
        cookie.hostOnly = true;
        cookie.domain = host;
    }
    cookie.path = pathAttribute.empty() ? DefaultPath(url.path) : pathAttribute;
    if (cookie.httpOnly && !fromHttp) return false;

    bool stored = false;
    std::lock_guard<std::mutex> lock(FMutex);
    Store(std::move(cookie), fromHttp, now, stored);
    return stored;
}

// Enters a parsed cookie: it replaces the one of the same name, domain and
// path (keeping that one's creation time); an expired one only removes.
void CookieJar::Store(Cookie cookie, bool fromHttp, std::int64_t now, bool& stored) {
    const auto same = std::find_if(FCookies.begin(), FCookies.end(), [&](const Cookie& c) {
        return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    cookie.creation = now;
    cookie.lastAccess = now;
    if (same != FCookies.end()) {
        if (same->httpOnly && !fromHttp) return;
        cookie.creation = same->creation;
        FCookies.erase(same);
    }
    if (cookie.expiry <= now) {
        stored = true;  // the removal is what was asked for
        return;
    }
    const std::string domain = cookie.domain;
    FCookies.push_back(std::move(cookie));
    Evict(domain);
    stored = true;
}

// Keeps the jar within its limits: the least recently used cookies of the
// domain, then of the whole jar, go first.
void CookieJar::Evict(const std::string& domain) {
    const auto byAccess = [](const Cookie& a, const Cookie& b) { return a.lastAccess < b.lastAccess; };
    const auto inDomain = [&](const Cookie& c) { return c.domain == domain; };
    while (static_cast<std::size_t>(std::count_if(FCookies.begin(), FCookies.end(), inDomain)) >
           kMaxPerDomain) {
        auto oldest = FCookies.end();
        for (auto it = FCookies.begin(); it != FCookies.end(); ++it)
            if (inDomain(*it) && (oldest == FCookies.end() || byAccess(*it, *oldest))) oldest = it;
        FCookies.erase(oldest);
    }
    while (FCookies.size() > kMaxCookies)
        FCookies.erase(std::min_element(FCookies.begin(), FCookies.end(), byAccess));
}

std::vector<Cookie> CookieJar::Matching(const CookieUrl& url, bool forHttp, std::int64_t now) {
    const std::string host = CanonicalCookieHost(url.host);
    const std::string_view path = url.path.empty() ? std::string_view("/") : std::string_view(url.path);
    std::vector<Cookie> out;
    std::lock_guard<std::mutex> lock(FMutex);
    std::erase_if(FCookies, [now](const Cookie& c) { return c.expiry <= now; });
    for (Cookie& c : FCookies) {
        if (c.hostOnly ? host != c.domain : !CookieDomainMatch(host, c.domain)) continue;
        if (!CookiePathMatch(path, c.path)) continue;
        if (c.secure && !url.secure) continue;
        if (c.httpOnly && !forHttp) continue;
        c.lastAccess = now;
        out.push_back(c);
    }
    std::stable_sort(out.begin(), out.end(), [](const Cookie& a, const Cookie& b) {
        if (a.path.size() != b.path.size()) return a.path.size() > b.path.size();
        return a.creation < b.creation;
    });
    return out;
}

std::string CookieJar::Header(const CookieUrl& url, std::int64_t now) {
    std::string header;
    for (const Cookie& c : Matching(url, true, now)) {
        if (!header.empty()) header += "; ";
        header += c.name;
        header += '=';
        header += c.value;
    }
    return header;
}

std::vector<Cookie> CookieJar::All(std::int64_t now) {
    std::lock_guard<std::mutex> lock(FMutex);
    std::erase_if(FCookies, [now](const Cookie& c) { return c.expiry <= now; });
    return FCookies;
}

void CookieJar::Insert(Cookie cookie) {
    std::lock_guard<std::mutex> lock(FMutex);
    std::erase_if(FCookies, [&](const Cookie& c) {
        return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
    });
    const std::string domain = cookie.domain;
    FCookies.push_back(std::move(cookie));
    Evict(domain);
}

void CookieJar::Clear() {
    std::lock_guard<std::mutex> lock(FMutex);
    FCookies.clear();
}

}  // namespace Corvane::Backend
