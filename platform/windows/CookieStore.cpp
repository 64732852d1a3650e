// wininet.dll offers no way to list its cookie store.
#include <Platform/CookieStore.h>

namespace Corvane::CookieStore {

DWORD List(const std::string& /*domain*/, std::vector<StoredCookie>* cookies) {
    cookies->clear();
    return ERROR_NOT_SUPPORTED;
}

}  // namespace Corvane::CookieStore
