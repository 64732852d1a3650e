// One cookie: the record the jar stores, the parts of a URL that select
// cookies, and the parsing of a Set-Cookie text into a record (RFC 6265,
// 5.2 and 5.3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
    /// Microseconds since 1970 on the system clock when the cookie was
    /// first stored: orders cookies created within one second of `creation`
    /// (also across processes).
    std::int64_t sequence = 0;
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

/// What became of a cookie text offered to the jar.
enum class CookieVerdict {
    kStored,
    /// Malformed, too large, a Domain the host is not within or that is a
    /// public suffix.
    kRefused,
    /// An HttpOnly cookie from a caller other than HTTP, or a text that
    /// would replace one.
    kHttpOnly,
    /// The shared file stayed busy (another process) beyond the timeout:
    /// nothing changed, in the file or in memory.
    kBusy,
};

/// Name and value together may not be longer than this.
inline constexpr std::size_t kMaxCookieBytes = 4096;
/// An attribute value longer than this is ignored.
inline constexpr std::size_t kMaxAttributeBytes = 1024;

/// Parses one Set-Cookie value received from `url` (`fromHttp` false: given
/// by an application) into `cookie` with every rule of the storage model
/// applied, except those that depend on what is stored already. Expiry,
/// creation and last-access times are set from `now`; an expiry not after
/// `now` means the text deletes the cookie.
CookieVerdict ParseSetCookie(const CookieUrl& url, std::string_view setCookie, bool fromHttp,
                             std::int64_t now, Cookie* cookie);

/// Host names as cookies compare them: lower case, IPv6 brackets removed.
std::string CanonicalCookieHost(std::string_view host);

/// Whether `host` is within `domain` (RFC 6265 domain-match).
bool CookieDomainMatch(std::string_view host, std::string_view domain);

/// Whether `requestPath` is within `cookiePath` (RFC 6265 path-match).
bool CookiePathMatch(std::string_view requestPath, std::string_view cookiePath);

}  // namespace Corvane::Backend
