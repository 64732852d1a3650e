// wininet.dll offers no way to list its cookie store or to tell where it is.
#include <Platform/CookieStore.h>

namespace Corvane::CookieStore {

DWORD List(const std::string& /*domain*/, std::vector<StoredCookie>* cookies) {
    if (cookies) cookies->clear();
    return ERROR_NOT_SUPPORTED;
}

DWORD Status(StoreStatus* status) {
    if (status) *status = StoreStatus();
    return ERROR_NOT_SUPPORTED;
}

}  // namespace Corvane::CookieStore
