// Conversions between wininet.dll's conventions and the contract of
// <Platform/WinInet.h>; see WinInetAdapter.h.
#include "windows/WinInetAdapter.h"

#include "src/InternetTime.h"

// After <Platform/WinInet.h>, which brings <windef.h>: the code page
// conversions.
#include <stringapiset.h>
#include <winnls.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace Corvane {

namespace WinInetConventions {

namespace {

// First capacity tried for the server's response, and the most ever asked
// for, in characters (the platform keeps a response of one line or a few).
constexpr DWORD kFirstResponseCapacity = 1024;
constexpr DWORD kMaxResponseCapacity = 1u << 20;

// Reads the whole last response from `Dll` into `Text`. The buffer holds one
// character more than it is described as, always zero, so a DLL that fills
// its buffer without terminating it still leaves a terminated text. A text
// that reaches the described end may be cut short, so the read is repeated
// with twice the room; a DLL that reports ERROR_INSUFFICIENT_BUFFER gets the
// room it asks for. Returns false, with the DLL's error as the last error,
// when it fails otherwise.
bool ReadWholeResponse(LastResponseInfoFunction dll, DWORD& error, std::wstring& text) {
    DWORD capacity = kFirstResponseCapacity;
    for (;;) {
        std::vector<WCHAR> buffer(static_cast<std::size_t>(capacity) + 1, 0);
        DWORD size = capacity;
        error = 0;
        if (!dll(&error, buffer.data(), &size)) {
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || capacity >= kMaxResponseCapacity)
                return false;
            capacity = std::min(kMaxResponseCapacity, std::max(capacity * 2, size + 1));
            continue;
        }
        const std::size_t length = wcsnlen(buffer.data(), capacity);
        if (length + 1 < capacity || capacity >= kMaxResponseCapacity) {
            text.assign(buffer.data(), length);
            return true;
        }
        capacity = std::min(kMaxResponseCapacity, capacity * 2);
    }
}

}  // namespace

BOOL LastResponseInfoInBytes(LastResponseInfoFunction dll, LPDWORD lpdwError, LPWSTR lpszBuffer,
                             LPDWORD lpdwBufferLength) {
    if (!lpdwError || !lpdwBufferLength) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD callerError = ::GetLastError();
    DWORD error = 0;
    std::wstring text;
    if (!ReadWholeResponse(dll, error, text)) return FALSE;
    ::SetLastError(callerError);

    *lpdwError = error;
    if (text.empty()) {
        if (lpszBuffer && *lpdwBufferLength >= sizeof(WCHAR)) lpszBuffer[0] = 0;
        *lpdwBufferLength = 0;
        return TRUE;
    }
    const DWORD textBytes = static_cast<DWORD>(text.size() * sizeof(WCHAR));
    const DWORD needed = textBytes + sizeof(WCHAR);
    if (!lpszBuffer || *lpdwBufferLength < needed) {
        *lpdwBufferLength = needed;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(text.begin(), text.end(), lpszBuffer);
    lpszBuffer[text.size()] = 0;
    *lpdwBufferLength = textBytes;
    return TRUE;
}

BOOL CreateUrlWithinBuffer(CreateUrlFunction dll, LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags,
                           LPWSTR lpszUrl, LPDWORD lpdwUrlLength) {
    if (lpszUrl && lpdwUrlLength) {
        const DWORD callerError = ::GetLastError();
        DWORD neededBytes = 0;
        if (!dll(lpUrlComponents, dwFlags, nullptr, &neededBytes)) {
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return FALSE;
            if (*lpdwUrlLength < neededBytes / sizeof(WCHAR)) {
                *lpdwUrlLength = neededBytes;
                ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
        }
        ::SetLastError(callerError);
    }
    return dll(lpUrlComponents, dwFlags, lpszUrl, lpdwUrlLength);
}

// The directory is read whole into the adapter's buffer, which starts at the
// Windows path limit and doubles (or grows to the size the DLL asks for)
// while the DLL refuses it as too short; one character more than described
// stays zero, so the text is terminated whatever the DLL wrote.
BOOL CurrentDirectoryInBytes(CurrentDirectoryFunction dll, HINTERNET hConnect, LPWSTR lpszCurrentDirectory,
                             LPDWORD lpdwCurrentDirectory) {
    if (!lpdwCurrentDirectory) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    constexpr DWORD kMaxCapacity = 1u << 16;
    DWORD capacity = MAX_PATH + 1;
    std::vector<WCHAR> buffer;
    for (;;) {
        buffer.assign(static_cast<std::size_t>(capacity) + 1, 0);
        DWORD size = capacity;
        if (dll(hConnect, buffer.data(), &size)) break;
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || capacity >= kMaxCapacity) return FALSE;
        capacity = std::min(kMaxCapacity, std::max(capacity * 2, size > capacity ? size : 0));
    }
    const std::size_t length = wcsnlen(buffer.data(), capacity);
    const DWORD textBytes = static_cast<DWORD>(length * sizeof(WCHAR));
    const DWORD needed = textBytes + sizeof(WCHAR);
    if (!lpszCurrentDirectory || *lpdwCurrentDirectory < needed) {
        *lpdwCurrentDirectory = needed;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length), lpszCurrentDirectory);
    lpszCurrentDirectory[length] = 0;
    *lpdwCurrentDirectory = textBytes;
    return TRUE;
}

bool IsSafeFtpText(LPCWSTR text) {
    if (!text || !*text) return true;
    for (const WCHAR* c = text; *c; ++c)
        if (*c == L'\r' || *c == L'\n') return false;
    BOOL usedDefault = FALSE;
    const int size =
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault) return false;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, bytes.data(), size, nullptr,
                              &usedDefault) != size ||
        usedDefault)
        return false;
    return bytes.find('\xFF') == std::string::npos;
}

DWORD TextLength(const WCHAR* buffer, DWORD capacity) {
    return static_cast<DWORD>(wcsnlen(buffer, capacity));
}

bool IsTextOption(DWORD option) {
    switch (option) {
    case INTERNET_OPTION_USERNAME:
    case INTERNET_OPTION_PASSWORD:
    case INTERNET_OPTION_DATAFILE_NAME:
    case INTERNET_OPTION_URL:
    case INTERNET_OPTION_SECURITY_CERTIFICATE:
    case INTERNET_OPTION_USER_AGENT:
    case INTERNET_OPTION_PROXY_USERNAME:
    case INTERNET_OPTION_PROXY_PASSWORD:
    case INTERNET_OPTION_SECONDARY_CACHE_KEY:
    case INTERNET_OPTION_DATAFILE_EXT:
        return true;
    default:
        return false;
    }
}

DWORD TextOptionBytes(LPCVOID buffer, DWORD describedBytes) {
    return TextLength(static_cast<const WCHAR*>(buffer), describedBytes / sizeof(WCHAR)) *
           static_cast<DWORD>(sizeof(WCHAR));
}

// --- Cookies ---------------------------------------------------------------

namespace {

// At most this many reads when the cookies grow between the size query and
// the read.
constexpr int kCookieReadAttempts = 4;

// Reads every cookie of the URL from `Dll` into `Text`: the size first (in
// bytes, as the DLL reports it without a buffer), then the text into a
// buffer of the adapter's own with one zero character beyond the room it
// is described with. Returns false, with the DLL's error as the last error,
// when the DLL fails (ERROR_NO_MORE_ITEMS for no cookie).
bool ReadAllCookies(GetCookieFunction dll, LPCWSTR url, std::wstring& text) {
    DWORD size = 0;
    if (!dll(url, nullptr, nullptr, &size)) return false;
    for (int attempt = 0;; ++attempt) {
        const DWORD capacity = size / sizeof(WCHAR) + 1;
        std::vector<WCHAR> buffer(static_cast<std::size_t>(capacity) + 1, 0);
        DWORD room = capacity;
        if (dll(url, nullptr, buffer.data(), &room)) {
            text.assign(buffer.data(), wcsnlen(buffer.data(), capacity));
            return true;
        }
        // More cookies arrived in between: the DLL reports the bytes needed.
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || attempt + 1 == kCookieReadAttempts) return false;
        size = std::max(room, size * 2);
    }
}

}  // namespace

std::wstring CookieNamed(std::wstring_view list, std::wstring_view name) {
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find(L';', start);
        if (end == std::wstring_view::npos) end = list.size();
        std::wstring_view piece = list.substr(start, end - start);
        while (!piece.empty() && piece.front() == L' ') piece.remove_prefix(1);
        const std::size_t equals = piece.find(L'=');
        if (piece.substr(0, equals) == name) {
            std::wstring cookie(name);
            cookie += L'=';
            if (equals != std::wstring_view::npos) cookie += piece.substr(equals + 1);
            return cookie;
        }
        start = end + 1;
    }
    return {};
}

BOOL CookieWithContractSizes(GetCookieFunction dll, LPCWSTR lpszUrl, LPCWSTR lpszCookieName,
                             LPWSTR lpszCookieData, LPDWORD lpdwSize) {
    if (!lpdwSize) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD callerError = ::GetLastError();
    std::wstring text;
    if (!ReadAllCookies(dll, lpszUrl, text)) return FALSE;
    if (lpszCookieName && *lpszCookieName) text = CookieNamed(text, lpszCookieName);
    if (text.empty()) {
        ::SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    if (lpszCookieData && *lpdwSize < text.size() + 1) {
        *lpdwSize = needed;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (lpszCookieData) std::copy(text.c_str(), text.c_str() + text.size() + 1, lpszCookieData);
    *lpdwSize = needed;
    ::SetLastError(callerError);
    return TRUE;
}

BOOL SetCookieByContract(SetCookieFunction dll, LPCWSTR lpszUrl, LPCWSTR lpszCookieName,
                         LPCWSTR lpszCookieData) {
    const DWORD callerError = ::GetLastError();
    ::SetLastError(0);
    if (dll(lpszUrl, lpszCookieName && *lpszCookieName ? lpszCookieName : nullptr, lpszCookieData)) {
        ::SetLastError(callerError);
        return TRUE;
    }
    if (::GetLastError() == 0) ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

}  // namespace WinInetConventions

namespace {

// Whether any of `Texts` would not reach an FTP server as it is.
template <class... Texts>
bool AnyUnsafe(Texts... texts) {
    return !(WinInetConventions::IsSafeFtpText(texts) && ...);
}

// The failure of a call refused before it reached the DLL.
template <class Result>
Result Refused(Result failed) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return failed;
}

}  // namespace

BOOL WinInetAdapter::InternetGetLastResponseInfoW(LPDWORD lpdwError, LPWSTR lpszBuffer,
                                                  LPDWORD lpdwBufferLength) {
    return WinInetConventions::LastResponseInfoInBytes(&::InternetGetLastResponseInfoW, lpdwError, lpszBuffer,
                                                       lpdwBufferLength);
}

// Text options: the DLL's count of characters on success becomes the
// contract's count of bytes. Failures (and the size needed, already in
// bytes) pass through unchanged.
BOOL WinInetAdapter::InternetQueryOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                          LPDWORD lpdwBufferLength) {
    const DWORD described = lpdwBufferLength ? *lpdwBufferLength : 0;
    const BOOL result =
        ForwardingInternetApi::InternetQueryOptionW(hInternet, dwOption, lpBuffer, lpdwBufferLength);
    if (result && lpBuffer && lpdwBufferLength && WinInetConventions::IsTextOption(dwOption))
        *lpdwBufferLength = WinInetConventions::TextOptionBytes(lpBuffer, described);
    return result;
}

BOOL WinInetAdapter::InternetCreateUrlW(LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags, LPWSTR lpszUrl,
                                        LPDWORD lpdwUrlLength) {
    return WinInetConventions::CreateUrlWithinBuffer(&::InternetCreateUrlW, lpUrlComponents, dwFlags, lpszUrl,
                                                     lpdwUrlLength);
}

// On success the length is measured in the buffer, so it never exceeds the
// text the DLL wrote (nor the buffer).
BOOL WinInetAdapter::InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength,
                                              DWORD dwFlags) {
    const DWORD described = lpdwBufferLength ? *lpdwBufferLength : 0;
    const BOOL result =
        ForwardingInternetApi::InternetCanonicalizeUrlW(lpszUrl, lpszBuffer, lpdwBufferLength, dwFlags);
    if (result && lpszBuffer && lpdwBufferLength)
        *lpdwBufferLength = WinInetConventions::TextLength(lpszBuffer, described);
    return result;
}

// The DLL's characters become the contract's bytes.
BOOL WinInetAdapter::FtpGetCurrentDirectoryW(HINTERNET hConnect, LPWSTR lpszCurrentDirectory,
                                             LPDWORD lpdwCurrentDirectory) {
    return WinInetConventions::CurrentDirectoryInBytes(&::FtpGetCurrentDirectoryW, hConnect,
                                                       lpszCurrentDirectory, lpdwCurrentDirectory);
}

// Dates are read by the shared parser alone (see the top of WinInetAdapter.h).
BOOL WinInetAdapter::InternetTimeToSystemTimeW(LPCWSTR lpszTime, SYSTEMTIME* pst, DWORD /*dwReserved*/) {
    if (!lpszTime || !pst || !InternetTime::Parse(std::wstring_view(lpszTime), *pst))
        return Refused<BOOL>(FALSE);
    return TRUE;
}

BOOL WinInetAdapter::InternetTimeFromSystemTimeW(const SYSTEMTIME* pst, DWORD dwRFC, LPWSTR lpszTime,
                                                 DWORD cbTime) {
    if (!pst || !lpszTime || dwRFC != INTERNET_RFC1123_FORMAT ||
        !InternetTime::IsValid(*pst, InternetTime::kLastFormattedYear))
        return Refused<BOOL>(FALSE);
    WCHAR text[InternetTime::kFormattedLength + 1] = {};
    if (cbTime < sizeof(text)) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    SYSTEMTIME time = *pst;
    time.wDayOfWeek = InternetTime::DayOfWeek(time.wYear, time.wMonth, time.wDay);
    if (!ForwardingInternetApi::InternetTimeFromSystemTimeW(&time, dwRFC, text, sizeof(text))) return FALSE;
    text[InternetTime::kFormattedLength] = 0;
    std::copy(std::begin(text), std::end(text), lpszTime);
    return TRUE;
}

// FTP: names and commands go to the server as one line each (see the top of
// WinInetAdapter.h).
HINTERNET WinInetAdapter::InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName,
                                           INTERNET_PORT nServerPort, LPCWSTR lpszUserName,
                                           LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                           DWORD_PTR dwContext) {
    if (dwService == INTERNET_SERVICE_FTP && AnyUnsafe(lpszUserName, lpszPassword))
        return Refused<HINTERNET>(nullptr);
    return ForwardingInternetApi::InternetConnectW(hInternet, lpszServerName, nServerPort, lpszUserName,
                                                   lpszPassword, dwService, dwFlags, dwContext);
}

BOOL WinInetAdapter::FtpCommandW(HINTERNET hConnect, BOOL fExpectResponse, DWORD dwFlags, LPCWSTR lpszCommand,
                                 DWORD_PTR dwContext, HINTERNET* phFtpCommand) {
    if (AnyUnsafe(lpszCommand)) return Refused<BOOL>(FALSE);
    ::SetLastError(ERROR_SUCCESS);
    const BOOL result = ForwardingInternetApi::FtpCommandW(hConnect, fExpectResponse, dwFlags, lpszCommand,
                                                           dwContext, phFtpCommand);
    if (!result && ::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_NOT_SUPPORTED);
    return result;
}

BOOL WinInetAdapter::FtpCreateDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory) {
    if (AnyUnsafe(lpszDirectory)) return Refused<BOOL>(FALSE);
    return ForwardingInternetApi::FtpCreateDirectoryW(hConnect, lpszDirectory);
}

BOOL WinInetAdapter::FtpDeleteFileW(HINTERNET hConnect, LPCWSTR lpszFileName) {
    if (AnyUnsafe(lpszFileName)) return Refused<BOOL>(FALSE);
    return ForwardingInternetApi::FtpDeleteFileW(hConnect, lpszFileName);
}

HINTERNET WinInetAdapter::FtpFindFirstFileW(HINTERNET hConnect, LPCWSTR lpszSearchFile,
                                            LPWIN32_FIND_DATAW lpFindFileData, DWORD dwFlags,
                                            DWORD_PTR dwContext) {
    if (AnyUnsafe(lpszSearchFile)) return Refused<HINTERNET>(nullptr);
    const LPCWSTR search = lpszSearchFile && *lpszSearchFile ? lpszSearchFile : nullptr;
    return ForwardingInternetApi::FtpFindFirstFileW(hConnect, search, lpFindFileData, dwFlags, dwContext);
}

BOOL WinInetAdapter::FtpGetFileW(HINTERNET hConnect, LPCWSTR lpszRemoteFile, LPCWSTR lpszNewFile,
                                 BOOL fFailIfExists, DWORD dwFlagsAndAttributes, DWORD dwFlags,
                                 DWORD_PTR dwContext) {
    if (AnyUnsafe(lpszRemoteFile)) return Refused<BOOL>(FALSE);
    return ForwardingInternetApi::FtpGetFileW(hConnect, lpszRemoteFile, lpszNewFile, fFailIfExists,
                                              dwFlagsAndAttributes, dwFlags, dwContext);
}

HINTERNET WinInetAdapter::FtpOpenFileW(HINTERNET hConnect, LPCWSTR lpszFileName, DWORD dwAccess,
                                       DWORD dwFlags, DWORD_PTR dwContext) {
    if (AnyUnsafe(lpszFileName)) return Refused<HINTERNET>(nullptr);
    return ForwardingInternetApi::FtpOpenFileW(hConnect, lpszFileName, dwAccess, dwFlags, dwContext);
}

BOOL WinInetAdapter::FtpPutFileW(HINTERNET hConnect, LPCWSTR lpszLocalFile, LPCWSTR lpszNewRemoteFile,
                                 DWORD dwFlags, DWORD_PTR dwContext) {
    if (AnyUnsafe(lpszNewRemoteFile)) return Refused<BOOL>(FALSE);
    return ForwardingInternetApi::FtpPutFileW(hConnect, lpszLocalFile, lpszNewRemoteFile, dwFlags, dwContext);
}

BOOL WinInetAdapter::FtpRemoveDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory) {
    if (AnyUnsafe(lpszDirectory)) return Refused<BOOL>(FALSE);
    return ForwardingInternetApi::FtpRemoveDirectoryW(hConnect, lpszDirectory);
}

BOOL WinInetAdapter::FtpRenameFileW(HINTERNET hConnect, LPCWSTR lpszExisting, LPCWSTR lpszNew) {
    if (AnyUnsafe(lpszExisting, lpszNew)) return Refused<BOOL>(FALSE);
    return ForwardingInternetApi::FtpRenameFileW(hConnect, lpszExisting, lpszNew);
}

BOOL WinInetAdapter::FtpSetCurrentDirectoryW(HINTERNET hConnect, LPCWSTR lpszDirectory) {
    if (AnyUnsafe(lpszDirectory)) return Refused<BOOL>(FALSE);
    return ForwardingInternetApi::FtpSetCurrentDirectoryW(hConnect, lpszDirectory);
}

// Cookies: names and sizes as the contract gives them (see the top of
// WinInetAdapter.h).
BOOL WinInetAdapter::InternetGetCookieW(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPWSTR lpszCookieData,
                                        LPDWORD lpdwSize) {
    return WinInetConventions::CookieWithContractSizes(&::InternetGetCookieW, lpszUrl, lpszCookieName,
                                                       lpszCookieData, lpdwSize);
}

BOOL WinInetAdapter::InternetSetCookieW(LPCWSTR lpszUrl, LPCWSTR lpszCookieName, LPCWSTR lpszCookieData) {
    return WinInetConventions::SetCookieByContract(&::InternetSetCookieW, lpszUrl, lpszCookieName,
                                                   lpszCookieData);
}

}  // namespace Corvane
