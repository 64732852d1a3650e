// The scheme table of the URL routines.
#include "posix/url/UrlSchemes.h"

#include "posix/text/Ascii.h"

#include <algorithm>
#include <iterator>

namespace Corvane::Backend {

namespace {

constexpr unsigned kHierarchical = kSchemeAlwaysAuthority | kSchemeNeedsAuthority | kSchemeCanonical;

// The numbered schemes first, in INTERNET_SCHEME order, then the schemes
// only canonicalization knows.
constexpr UrlScheme kSchemes[] = {
    {u"ftp", INTERNET_SCHEME_FTP, INTERNET_DEFAULT_FTP_PORT, kHierarchical | kSchemeKeepsBackslashes},
    {u"gopher", INTERNET_SCHEME_GOPHER, INTERNET_DEFAULT_GOPHER_PORT, kHierarchical},
    {u"http", INTERNET_SCHEME_HTTP, INTERNET_DEFAULT_HTTP_PORT, kHierarchical},
    {u"https", INTERNET_SCHEME_HTTPS, INTERNET_DEFAULT_HTTPS_PORT, kHierarchical},
    {u"file", INTERNET_SCHEME_FILE, INTERNET_INVALID_PORT_NUMBER, kSchemeAlwaysAuthority | kSchemeCanonical},
    {u"news", INTERNET_SCHEME_NEWS, INTERNET_INVALID_PORT_NUMBER, kSchemeCanonical},
    {u"mailto", INTERNET_SCHEME_MAILTO, INTERNET_INVALID_PORT_NUMBER, kSchemeCanonical | kSchemeOpaque},
    {u"socks", INTERNET_SCHEME_SOCKS, INTERNET_DEFAULT_SOCKS_PORT, 0},
    {u"javascript", INTERNET_SCHEME_JAVASCRIPT, INTERNET_INVALID_PORT_NUMBER,
     kSchemeCanonical | kSchemeOpaque},
    {u"vbscript", INTERNET_SCHEME_VBSCRIPT, INTERNET_INVALID_PORT_NUMBER, kSchemeCanonical | kSchemeOpaque},
    {u"res", INTERNET_SCHEME_RES, INTERNET_INVALID_PORT_NUMBER, kSchemeCanonical | kSchemeKeepsBackslashes},
    {u"nntp", INTERNET_SCHEME_UNKNOWN, INTERNET_INVALID_PORT_NUMBER, kSchemeCanonical},
    {u"telnet", INTERNET_SCHEME_UNKNOWN, INTERNET_INVALID_PORT_NUMBER, kSchemeCanonical},
    {u"wais", INTERNET_SCHEME_UNKNOWN, INTERNET_INVALID_PORT_NUMBER,
     kSchemeCanonical | kSchemeKeepsBackslashes},
    {u"mk", INTERNET_SCHEME_UNKNOWN, INTERNET_INVALID_PORT_NUMBER,
     kSchemeCanonical | kSchemeKeepsBackslashes | kSchemeNoHostName | kSchemeBackslashKeepsDots},
    {u"shell", INTERNET_SCHEME_UNKNOWN, INTERNET_INVALID_PORT_NUMBER, kSchemeCanonical | kSchemeOpaque},
    {u"snews", INTERNET_SCHEME_UNKNOWN, INTERNET_INVALID_PORT_NUMBER, kSchemeCanonical},
    {u"local", INTERNET_SCHEME_UNKNOWN, INTERNET_INVALID_PORT_NUMBER,
     kSchemeCanonical | kSchemeKeepsBackslashes},
    {u"about", INTERNET_SCHEME_UNKNOWN, INTERNET_INVALID_PORT_NUMBER, kSchemeCanonical | kSchemeOpaque},
};

constexpr std::size_t kNumbered = INTERNET_SCHEME_LAST - INTERNET_SCHEME_FIRST + 1;

// The table is checked where it is written: the numbered rows stand at
// their number's place (FindScheme indexes them), the rest are unnumbered,
// and every name is lower case and appears once.
constexpr bool TableIsWellFormed() {
    for (std::size_t i = 0; i < std::size(kSchemes); ++i) {
        const UrlScheme& row = kSchemes[i];
        const INTERNET_SCHEME expected =
            i < kNumbered ? static_cast<INTERNET_SCHEME>(INTERNET_SCHEME_FIRST + static_cast<int>(i))
                          : INTERNET_SCHEME_UNKNOWN;
        if (row.number != expected || row.name.empty()) return false;
        for (const char16_t c : row.name)
            if (c != ToLowerAscii(c)) return false;
        for (std::size_t j = 0; j < i; ++j)
            if (EqualsIgnoringAsciiCase(kSchemes[j].name, row.name)) return false;
    }
    return true;
}
static_assert(TableIsWellFormed());

}  // namespace

const UrlScheme* FindScheme(std::u16string_view name) {
    const auto row = std::find_if(std::begin(kSchemes), std::end(kSchemes),
                                  [&](const UrlScheme& s) { return EqualsIgnoringAsciiCase(name, s.name); });
    return row == std::end(kSchemes) ? nullptr : row;
}

const UrlScheme* FindScheme(INTERNET_SCHEME number) {
    if (number < INTERNET_SCHEME_FIRST || number > INTERNET_SCHEME_LAST) return nullptr;
    return &kSchemes[number - INTERNET_SCHEME_FIRST];
}

INTERNET_SCHEME SchemeFromName(std::u16string_view name) {
    const UrlScheme* row = FindScheme(name);
    return row ? row->number : INTERNET_SCHEME_UNKNOWN;
}

std::u16string_view SchemeName(INTERNET_SCHEME scheme) {
    const UrlScheme* row = FindScheme(scheme);
    return row ? row->name : std::u16string_view();
}

INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme) {
    const UrlScheme* row = FindScheme(scheme);
    return row ? row->defaultPort : INTERNET_PORT(INTERNET_INVALID_PORT_NUMBER);
}

bool SchemeHas(INTERNET_SCHEME scheme, UrlSchemeTrait trait) {
    const UrlScheme* row = FindScheme(scheme);
    return row && row->Has(trait);
}

}  // namespace Corvane::Backend
