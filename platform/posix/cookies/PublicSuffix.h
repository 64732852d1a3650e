// Public suffixes ("com", "co.uk", "github.io") and the registrable domain a
// host belongs to, from libpsl's built-in copy of the public suffix list.
#pragma once

#include <string>
#include <string_view>

namespace Corvane::Backend {

/// An IPv4 dotted quad or an IPv6 literal (without brackets): such hosts
/// have no suffix and domain-match only themselves.
bool IsIpAddress(std::string_view host);

/// Whether `domain` (lower case, no trailing dot) is a public suffix, under
/// which anyone may register names: a cookie's Domain may not be one. An
/// unlisted top-level label counts as one.
bool IsPublicSuffix(std::string_view domain);

/// The key cookies are filed under: the registrable domain of `domain`
/// (its public suffix and one label more), or `domain` itself when it has
/// none (an IP address, a public suffix). A host and every cookie that may
/// be sent to it share the key.
std::string CookieKey(std::string_view domain);

}  // namespace Corvane::Backend
