// The scheme, host and port of a URL, through InternetCrackUrlW.
#include "posix/connection/UrlTarget.h"

#include "posix/text/Utf.h"

namespace Corvane::Backend {

DWORD CrackTarget(std::u16string_view url, bool needPort, UrlTarget* target) {
    if (url.empty()) return ERROR_INTERNET_INVALID_URL;
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1;  // point into the URL
    const DWORD saved = ::GetLastError();
    const BOOL cracked = InternetCrackUrlW(url.data(), static_cast<DWORD>(url.size()), 0, &parts);
    ::SetLastError(saved);
    if (!cracked || !parts.lpszHostName || parts.dwHostNameLength == 0) return ERROR_INTERNET_INVALID_URL;
    std::u16string_view host(parts.lpszHostName, parts.dwHostNameLength);
    if (host.size() > 2 && host.front() == u'[' && host.back() == u']')
        host = host.substr(1, host.size() - 2);
    if (needPort && parts.nPort == INTERNET_INVALID_PORT_NUMBER) return ERROR_INTERNET_INVALID_URL;
    target->scheme = parts.nScheme;
    target->host = Utf16ToUtf8(host);
    target->port = parts.nPort;
    return ERROR_SUCCESS;
}

}  // namespace Corvane::Backend
