// What the platform's cookie store holds, for tools that show it.
//
// The Internet API reads and writes cookies one URL at a time and has no way
// to list a store. The portable backend keeps its own store and lists it
// here; wininet.dll keeps its store to itself, so on Windows List fails with
// ERROR_NOT_SUPPORTED.
#pragma once

#include <Platform/WinInet.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Corvane::CookieStore {

/// One cookie as the store keeps it; texts are UTF-8 as received.
struct StoredCookie {
    std::string name;
    std::string value;
    /// The host (host-only cookies) or the Domain attribute, without a
    /// leading dot, in lower case.
    std::string domain;
    std::string path;
    /// Seconds since 1970-01-01 UTC after which the cookie is gone; the
    /// largest value for a session cookie.
    std::int64_t expiry = INT64_MAX;
    /// Kept across processes (it had Expires or Max-Age).
    bool persistent = false;
    /// Sent to its exact host only (it had no Domain attribute).
    bool hostOnly = true;
    bool secure = false;
    bool httpOnly = false;
};

/// The unexpired cookies whose domain is `domain` or lies within it (every
/// cookie when `domain` is empty), ordered by domain, path and name.
/// Returns ERROR_SUCCESS, or the error that kept the store from answering
/// (ERROR_NOT_SUPPORTED where the platform does not list its store).
DWORD List(const std::string& domain, std::vector<StoredCookie>* cookies);

}  // namespace Corvane::CookieStore
