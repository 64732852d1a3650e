// The URL schemes the URL routines know, in one table: each scheme's name,
// INTERNET_SCHEME number, default port and the traits that cracking,
// composing and canonicalizing its URLs depend on. A scheme is added by
// adding its row in UrlSchemes.cpp; no routine keeps a list of its own.
#pragma once

#include <Platform/WinInet.h>

#include <string_view>

namespace Corvane::Backend {

/// What sets a scheme's URLs apart, as bits of UrlScheme::traits.
enum UrlSchemeTrait : unsigned {
    /// Written with "//" after the colon, host or not (ftp, gopher, http,
    /// https, file); other schemes get "//" only when a host is given.
    kSchemeAlwaysAuthority = 1u << 0,
    /// A URL without "//" after the colon is no URL of the scheme (ftp,
    /// gopher, http, https).
    kSchemeNeedsAuthority = 1u << 1,
    /// Canonicalization has rules for the scheme. One without them is
    /// canonicalized as any unknown scheme is, as the platform does with
    /// socks:.
    kSchemeCanonical = 1u << 2,
    /// Canonicalization keeps what follows the colon as written (about:,
    /// javascript:, mailto:, shell:, vbscript:).
    kSchemeOpaque = 1u << 3,
    /// Canonicalization keeps '\' as written rather than writing '/' (ftp:,
    /// local:, mk:, res:, wais:, as for unknown schemes).
    kSchemeKeepsBackslashes = 1u << 4,
    /// "//" after the colon does not start a host name (mk:).
    kSchemeNoHostName = 1u << 5,
    /// A '\' after "." or ".." does not make it a dot segment (mk:).
    kSchemeBackslashKeepsDots = 1u << 6,
};

/// One row of the scheme table.
struct UrlScheme {
    std::u16string_view name;   ///< in lower case
    INTERNET_SCHEME number;     ///< INTERNET_SCHEME_UNKNOWN for a scheme the platform does not number
    INTERNET_PORT defaultPort;  ///< INTERNET_INVALID_PORT_NUMBER (0) for none
    unsigned traits;            ///< UrlSchemeTrait bits

    constexpr bool Has(UrlSchemeTrait trait) const { return (traits & trait) != 0; }
};

/// The row of a scheme name, compared without regard to case; null for a
/// name the table does not hold (an empty name included).
const UrlScheme* FindScheme(std::u16string_view name);

/// The row of a numbered scheme (INTERNET_SCHEME_FTP .. INTERNET_SCHEME_RES);
/// null for any other value.
const UrlScheme* FindScheme(INTERNET_SCHEME number);

/// The INTERNET_SCHEME of a scheme name, compared without regard to case;
/// INTERNET_SCHEME_UNKNOWN for a name the platform does not number (an empty
/// name included).
INTERNET_SCHEME SchemeFromName(std::u16string_view name);

/// The lower-case name of a numbered scheme (INTERNET_SCHEME_FTP ..
/// INTERNET_SCHEME_RES); empty for any other value.
std::u16string_view SchemeName(INTERNET_SCHEME scheme);

/// The port a URL of the scheme stands for when it names none: http 80,
/// https 443, ftp 21, gopher 70, socks 1080; INTERNET_INVALID_PORT_NUMBER (0)
/// for every other scheme.
INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme);

/// Whether the scheme has the trait; false for a value that numbers no
/// scheme.
bool SchemeHas(INTERNET_SCHEME scheme, UrlSchemeTrait trait);

}  // namespace Corvane::Backend
