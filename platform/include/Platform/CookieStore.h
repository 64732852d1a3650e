// What the platform's cookie store holds, for tools that show it.
//
// The Internet API reads and writes cookies one URL at a time and has no way
// to list a store. The portable backend keeps its own store and lists it
// here; wininet.dll keeps its store to itself, so on Windows List and Status
// fail with ERROR_NOT_SUPPORTED.
//
// The portable backend's persistent cookies are in an SQLite file that all
// of the user's processes share: $CORVANE_COOKIE_FILE when set, else
// $XDG_DATA_HOME/corvane/cookies.sqlite, else
// ~/.local/share/corvane/cookies.sqlite.
#pragma once

#include <Platform/WinInet.h>

#include <cstdint>
#include <string>
#include <vector>
#include "Platform/PlatformExport.h"

namespace Corvane::CookieStore {

/// One cookie as the store keeps it; texts are UTF-8 as received.
struct CORVANE_PLATFORM_EXPORT StoredCookie {
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

/// Where the store keeps persistent cookies, and whether it can.
struct CORVANE_PLATFORM_EXPORT StoreStatus {
    /// The database file shared by the user's processes (see List's notes);
    /// empty when none could be named (no home folder).
    std::string file;
    /// The file is in use: persistent cookies outlive the process and are
    /// seen by other processes. False when it could not be opened or used
    /// (corrupt, of a newer schema, unwritable): the store then keeps every
    /// cookie in this process's memory and works on without the file.
    bool persistent = false;
    /// Why the file is not (or no longer) in use; empty when it is.
    std::string problem;
};

/// The state of the process's store: ERROR_SUCCESS with `status` filled, or
/// ERROR_NOT_SUPPORTED where the platform does not tell.
CORVANE_PLATFORM_EXPORT DWORD Status(StoreStatus* status);

/// The unexpired cookies whose domain is `domain` or lies within it (every
/// cookie when `domain` is empty), ordered by domain, path and name.
/// Returns ERROR_SUCCESS, or the error that kept the store from answering
/// (ERROR_NOT_SUPPORTED where the platform does not list its store).
CORVANE_PLATFORM_EXPORT DWORD List(const std::string& domain, std::vector<StoredCookie>* cookies);

}  // namespace Corvane::CookieStore
