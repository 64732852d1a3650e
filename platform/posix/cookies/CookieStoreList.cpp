// Listing the backend's cookie store, and its state, for tools.
#include <Platform/CookieStore.h>

#include "posix/cookies/CookieJar.h"
#include "posix/text/InternetDate.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <tuple>

namespace Corvane::CookieStore {

DWORD List(const std::string& domain, std::vector<StoredCookie>* cookies) {
    using namespace Corvane::Backend;
    if (!cookies) return ERROR_INVALID_PARAMETER;
    cookies->clear();
    try {
        // ".example.com" names the same domain as a Domain attribute does.
        std::string_view asked = domain;
        if (!asked.empty() && asked.front() == '.') asked.remove_prefix(1);
        const std::string within = CanonicalCookieHost(asked);
        for (Cookie& c : CookieJar::Process().All(UnixNow())) {
            if (!within.empty() && !CookieDomainMatch(c.domain, within)) continue;
            cookies->push_back({std::move(c.name), std::move(c.value), std::move(c.domain), std::move(c.path),
                                c.expiry, c.persistent, c.hostOnly, c.secure, c.httpOnly});
        }
        std::sort(cookies->begin(), cookies->end(), [](const StoredCookie& a, const StoredCookie& b) {
            return std::tie(a.domain, a.path, a.name) < std::tie(b.domain, b.path, b.name);
        });
    } catch (const std::bad_alloc&) {
        cookies->clear();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

DWORD Status(StoreStatus* status) {
    if (!status) return ERROR_INVALID_PARAMETER;
    try {
        const Backend::CookieJarStatus state = Backend::CookieJar::Process().Status();
        *status = {state.file, state.persistent, state.problem};
    } catch (const std::bad_alloc&) {
        *status = StoreStatus();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

}  // namespace Corvane::CookieStore
