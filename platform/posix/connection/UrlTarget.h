// What the connection functions read of a URL: its scheme, host and port.
#pragma once

#include <Platform/WinInet.h>

#include <string>
#include <string_view>

namespace Corvane::Backend {

/// The server a URL addresses.
struct UrlTarget {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    std::string host;  ///< UTF-8, IPv6 literals without their brackets
    INTERNET_PORT port = INTERNET_INVALID_PORT_NUMBER;
};

/// Cracks `url` (InternetCrackUrlW's rules) into `target`. Returns
/// ERROR_SUCCESS, or ERROR_INTERNET_INVALID_URL for a text that is no URL
/// or names no host (or, with `needPort`, no port: a scheme without a
/// default port and none given).
DWORD CrackTarget(std::u16string_view url, bool needPort, UrlTarget* target);

}  // namespace Corvane::Backend
