// What the URL routines know about schemes: the INTERNET_SCHEME number of a
// scheme name, the name of a scheme number, the port a scheme implies and
// whether its URLs always carry an authority ("//host").
#pragma once

#include <Platform/WinInet.h>

#include <string_view>

namespace Corvane::Backend {

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

/// True for the schemes whose URLs are always written with "//" after the
/// colon, host or not: ftp, gopher, http, https and file. The others
/// (mailto:, news:, about:, ...) get "//" only when a host is given.
bool SchemeHasAuthority(INTERNET_SCHEME scheme);

}  // namespace Corvane::Backend
