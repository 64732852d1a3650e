// The scheme table of the URL routines.
#include "posix/url/UrlSchemes.h"

#include "posix/url/UrlText.h"

namespace Corvane::Backend {

namespace {

struct SchemeInfo {
    INTERNET_SCHEME scheme;
    std::u16string_view name;
    INTERNET_PORT defaultPort;
    bool hasAuthority;
};

// One row per numbered scheme, in INTERNET_SCHEME order.
constexpr SchemeInfo Schemes[] = {
    {INTERNET_SCHEME_FTP, u"ftp", INTERNET_DEFAULT_FTP_PORT, true},
    {INTERNET_SCHEME_GOPHER, u"gopher", INTERNET_DEFAULT_GOPHER_PORT, true},
    {INTERNET_SCHEME_HTTP, u"http", INTERNET_DEFAULT_HTTP_PORT, true},
    {INTERNET_SCHEME_HTTPS, u"https", INTERNET_DEFAULT_HTTPS_PORT, true},
    {INTERNET_SCHEME_FILE, u"file", INTERNET_INVALID_PORT_NUMBER, true},
    {INTERNET_SCHEME_NEWS, u"news", INTERNET_INVALID_PORT_NUMBER, false},
    {INTERNET_SCHEME_MAILTO, u"mailto", INTERNET_INVALID_PORT_NUMBER, false},
    {INTERNET_SCHEME_SOCKS, u"socks", INTERNET_DEFAULT_SOCKS_PORT, false},
    {INTERNET_SCHEME_JAVASCRIPT, u"javascript", INTERNET_INVALID_PORT_NUMBER, false},
    {INTERNET_SCHEME_VBSCRIPT, u"vbscript", INTERNET_INVALID_PORT_NUMBER, false},
    {INTERNET_SCHEME_RES, u"res", INTERNET_INVALID_PORT_NUMBER, false},
};

const SchemeInfo* Find(INTERNET_SCHEME scheme) {
    for (const SchemeInfo& info : Schemes)
        if (info.scheme == scheme) return &info;
    return nullptr;
}

}  // namespace

INTERNET_SCHEME SchemeFromName(std::u16string_view name) {
    for (const SchemeInfo& info : Schemes)
        if (EqualsIgnoringAsciiCase(name, info.name)) return info.scheme;
    return INTERNET_SCHEME_UNKNOWN;
}

std::u16string_view SchemeName(INTERNET_SCHEME scheme) {
    const SchemeInfo* info = Find(scheme);
    return info ? info->name : std::u16string_view();
}

INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme) {
    const SchemeInfo* info = Find(scheme);
    return info ? info->defaultPort : INTERNET_PORT(INTERNET_INVALID_PORT_NUMBER);
}

bool SchemeHasAuthority(INTERNET_SCHEME scheme) {
    const SchemeInfo* info = Find(scheme);
    return info && info->hasAuthority;
}

}  // namespace Corvane::Backend
