// Choice of the proxy for one HTTP request from a session's proxy list and
// bypass list.
#pragma once

#include <string>
#include <string_view>

namespace Corvane::Backend {

struct SessionSettings;

/// The proxy URL ("http://host:port") that a request with `scheme` ("http"
/// or "https") to `host` goes through, or an empty text for a direct
/// connection: the session is direct, its list has no entry for the scheme,
/// or the host is on the bypass list.
///
/// The list holds entries separated by blanks, each
/// "[scheme=][scheme://]host[:port]"; an entry for the scheme wins over one
/// without "scheme=". Bypass entries are separated by ';' (',' and blanks
/// are accepted too); '*' matches any run of characters, "<local>" every
/// host name without a dot, and matching ignores case.
std::string ProxyFor(const SessionSettings& settings, std::string_view scheme, std::string_view host);

/// Whether `host` is on the bypass list `bypass` (see ProxyFor).
bool BypassesProxy(std::string_view bypass, std::string_view host);

}  // namespace Corvane::Backend
