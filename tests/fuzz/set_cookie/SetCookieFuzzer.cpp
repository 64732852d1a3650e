// libFuzzer target for the Set-Cookie parser.
//
// The input's first line is the host and path the text came from
// ("host/path", "https:" in front for a secure URL), the rest the Set-Cookie
// value. Besides "no crash", a cookie the parser accepts must:
//  - have a name, no control characters in name or value, and at most
//    kMaxCookieBytes of them together;
//  - be within the host: its domain is the host (host-only) or a domain the
//    host domain-matches, never a public suffix other than the host;
//  - have a path that starts with '/', and no HttpOnly flag unless the text
//    came from HTTP;
//  - come back from the same text parsed again, field for field.
#include "posix/cookies/Cookie.h"
#include "posix/cookies/PublicSuffix.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace Corvane::Backend;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "set-cookie fuzzer: %s\n", what);
    std::abort();
}

bool HasControl(std::string_view s) {
    for (char c : s)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = input.find('\n');
    std::string_view origin = input.substr(0, newline);
    const std::string_view text = newline == input.npos ? std::string_view() : input.substr(newline + 1);
    CookieUrl url;
    if (origin.substr(0, 6) == "https:") {
        url.secure = true;
        origin.remove_prefix(6);
    }
    const std::size_t slash = origin.find('/');
    url.host = origin.substr(0, slash);
    url.path = slash == origin.npos ? "/" : std::string(origin.substr(slash));
    const bool fromHttp = !text.empty() && (text.front() & 1);
    constexpr std::int64_t kNow = 1700000000;

    Cookie cookie;
    if (ParseSetCookie(url, text, fromHttp, kNow, &cookie) != CookieVerdict::kStored) return 0;
    if (cookie.name.empty()) Fail("a cookie without a name");
    if (HasControl(cookie.name) || HasControl(cookie.value)) Fail("a control character in name or value");
    if (cookie.name.size() + cookie.value.size() > kMaxCookieBytes) Fail("a cookie over the size limit");
    const std::string host = CanonicalCookieHost(url.host);
    if (cookie.hostOnly ? cookie.domain != host : !CookieDomainMatch(host, cookie.domain))
        Fail("a cookie for a domain the host is not within");
    if (cookie.domain != host && IsPublicSuffix(cookie.domain)) Fail("a cookie for a public suffix");
    // Filed where the host looks: every cookie a host may get has its key.
    if (CookieKey(cookie.domain) != CookieKey(host)) Fail("a cookie above the host's registrable domain");
    if (cookie.path.size() > kMaxAttributeBytes && cookie.path.size() > url.path.size())
        Fail("a path attribute over the attribute limit");
    if (cookie.path.empty() || cookie.path.front() != '/') Fail("a path that does not start with '/'");
    if (cookie.httpOnly && !fromHttp) Fail("an HttpOnly cookie from a caller other than HTTP");

    Cookie again;
    if (ParseSetCookie(url, text, fromHttp, kNow, &again) != CookieVerdict::kStored)
        Fail("not accepted twice");
    if (again.name != cookie.name || again.value != cookie.value || again.domain != cookie.domain ||
        again.path != cookie.path || again.expiry != cookie.expiry || again.hostOnly != cookie.hostOnly ||
        again.secure != cookie.secure)
        Fail("parsed differently the second time");
    return 0;
}
