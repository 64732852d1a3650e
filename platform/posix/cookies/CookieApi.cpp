// InternetGetCookieW and InternetSetCookieW over the process's jar.
#include "posix/cookies/CookieJar.h"
#include "posix/errors/Barrier.h"
#include "posix/errors/LastError.h"
#include "posix/text/InternetDate.h"
#include "posix/text/Utf.h"

#include <cstring>
#include <optional>

using namespace Corvane::Backend;

namespace {

// The host, path and security of an http or https URL; nothing for any
// other URL. The path is taken as written (escapes kept), as the HTTP
// requests give theirs.
std::optional<CookieUrl> CookieUrlOf(LPCWSTR lpszUrl) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = 1;
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(lpszUrl, 0, 0, &parts)) return std::nullopt;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return std::nullopt;
    if (!parts.lpszHostName || parts.dwHostNameLength == 0) return std::nullopt;
    CookieUrl url;
    url.host = Utf16ToUtf8(std::u16string_view(parts.lpszHostName, parts.dwHostNameLength));
    url.path = parts.lpszUrlPath && parts.dwUrlPathLength
                   ? Utf16ToUtf8(std::u16string_view(parts.lpszUrlPath, parts.dwUrlPathLength))
                   : std::string("/");
    url.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return url;
}

// The text InternetGetCookieW answers: the named cookie as "name=value", or
// all of them as a Cookie header carries them; nothing when there is none.
std::optional<std::string> CookieText(const CookieUrl& url, LPCWSTR lpszCookieName) {
    const std::string name = lpszCookieName ? Utf16ToUtf8(lpszCookieName) : std::string();
    std::string text;
    bool any = false;
    for (const Cookie& c : CookieJar::Process().Matching(url, false, UnixNow())) {
        if (!name.empty() && c.name != name) continue;
        if (any) text += "; ";
        text += c.name;
        text += '=';
        text += c.value;
        any = true;
        // The first one is the one a request would give the server first.
        if (!name.empty()) break;
    }
    if (!any) return std::nullopt;
    return text;
}

}  // namespace

// With a null buffer the size the text needs is reported in bytes, its
// terminator included. With a buffer, *lpdwSize is the buffer's room in
// characters, as the platform documents it; a text that does not fit fails
// with ERROR_INSUFFICIENT_BUFFER and the size it needs in bytes, one that
// fits leaves that same size in bytes.
BOOL WINAPI InternetGetCookieW(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPWSTR lpszCookieData,
                               LPDWORD lpdwSize) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpszUrl || !lpdwSize) return Fail(ERROR_INVALID_PARAMETER);
        const std::optional<CookieUrl> url = CookieUrlOf(lpszUrl);
        if (!url) return Fail(ERROR_INVALID_PARAMETER);
        const std::optional<std::string> text = CookieText(*url, lpszCookieName);
        if (!text) return Fail(ERROR_NO_MORE_ITEMS);
        const std::u16string wide = Utf8ToUtf16(*text);
        const DWORD needed = static_cast<DWORD>((wide.size() + 1) * sizeof(WCHAR));
        if (!lpszCookieData) {
            *lpdwSize = needed;
            return TRUE;
        }
        if (*lpdwSize < wide.size() + 1) {
            *lpdwSize = needed;
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(lpszCookieData, wide.c_str(), needed);
        *lpdwSize = needed;
        return TRUE;
    });
}

// With a name the data is the value and its attributes ("1; path=/"); with
// an empty or null name the data is a whole "name=value; ..." text. An
// HttpOnly cookie, or one that would replace an HttpOnly cookie, is refused
// with ERROR_INVALID_OPERATION: only HTTP responses set those. A text the
// jar refuses otherwise (no name, too large, a foreign or public Domain)
// fails with ERROR_INVALID_PARAMETER; a store file another process keeps
// busy beyond the timeout, with ERROR_TIMEOUT (nothing stored).
BOOL WINAPI InternetSetCookieW(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPCWSTR lpszCookieData) {
    return Guarded<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpszUrl || !lpszCookieData) return Fail(ERROR_INVALID_PARAMETER);
        const std::optional<CookieUrl> url = CookieUrlOf(lpszUrl);
        if (!url) return Fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        std::string text;
        if (lpszCookieName && *lpszCookieName) {
            text = Utf16ToUtf8(lpszCookieName);
            // "a=b" or "a;b" as a name would store a cookie of another name.
            if (text.find_first_of("=;") != std::string::npos) return Fail(ERROR_INVALID_PARAMETER);
            text += '=';
        }
        text += Utf16ToUtf8(lpszCookieData);
        switch (CookieJar::Process().Offer(*url, text, false, UnixNow())) {
        case CookieVerdict::kStored:
            return TRUE;
        case CookieVerdict::kHttpOnly:
            return Fail(ERROR_INVALID_OPERATION);
        case CookieVerdict::kBusy:
            return Fail(ERROR_TIMEOUT);
        default:
            return Fail(ERROR_INVALID_PARAMETER);
        }
    });
}
