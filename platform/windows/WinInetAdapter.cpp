// Conversions between wininet.dll's conventions and the contract of
// <Platform/WinInet.h>; see WinInetAdapter.h.
#include "windows/WinInetAdapter.h"

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
bool ReadWholeResponse(LastResponseInfoFunction Dll, DWORD& Error, std::wstring& Text) {
    DWORD Capacity = kFirstResponseCapacity;
    for (;;) {
        std::vector<WCHAR> Buffer(static_cast<std::size_t>(Capacity) + 1, 0);
        DWORD Size = Capacity;
        Error = 0;
        if (!Dll(&Error, Buffer.data(), &Size)) {
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || Capacity >= kMaxResponseCapacity)
                return false;
            Capacity = std::min(kMaxResponseCapacity, std::max(Capacity * 2, Size + 1));
            continue;
        }
        const std::size_t Length = wcsnlen(Buffer.data(), Capacity);
        if (Length + 1 < Capacity || Capacity >= kMaxResponseCapacity) {
            Text.assign(Buffer.data(), Length);
            return true;
        }
        Capacity = std::min(kMaxResponseCapacity, Capacity * 2);
    }
}

}  // namespace

BOOL LastResponseInfoInBytes(LastResponseInfoFunction Dll, LPDWORD lpdwError, LPWSTR lpszBuffer,
                             LPDWORD lpdwBufferLength) {
    if (!lpdwError || !lpdwBufferLength) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD CallerError = ::GetLastError();
    DWORD Error = 0;
    std::wstring Text;
    if (!ReadWholeResponse(Dll, Error, Text))
        return FALSE;
    ::SetLastError(CallerError);

    *lpdwError = Error;
    if (Text.empty()) {
        if (lpszBuffer && *lpdwBufferLength >= sizeof(WCHAR))
            lpszBuffer[0] = 0;
        *lpdwBufferLength = 0;
        return TRUE;
    }
    const DWORD TextBytes = static_cast<DWORD>(Text.size() * sizeof(WCHAR));
    const DWORD Needed = TextBytes + sizeof(WCHAR);
    if (!lpszBuffer || *lpdwBufferLength < Needed) {
        *lpdwBufferLength = Needed;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(Text.begin(), Text.end(), lpszBuffer);
    lpszBuffer[Text.size()] = 0;
    *lpdwBufferLength = TextBytes;
    return TRUE;
}

BOOL CreateUrlWithinBuffer(CreateUrlFunction Dll, LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags,
                           LPWSTR lpszUrl, LPDWORD lpdwUrlLength) {
    if (lpszUrl && lpdwUrlLength) {
        const DWORD CallerError = ::GetLastError();
        DWORD NeededBytes = 0;
        if (!Dll(lpUrlComponents, dwFlags, nullptr, &NeededBytes)) {
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
                return FALSE;
            if (*lpdwUrlLength < NeededBytes / sizeof(WCHAR)) {
                *lpdwUrlLength = NeededBytes;
                ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
        }
        ::SetLastError(CallerError);
    }
    return Dll(lpUrlComponents, dwFlags, lpszUrl, lpdwUrlLength);
}

DWORD TextLength(const WCHAR* Buffer, DWORD Capacity) {
    return static_cast<DWORD>(wcsnlen(Buffer, Capacity));
}

bool IsTextOption(DWORD Option) {
    switch (Option) {
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

DWORD TextOptionBytes(LPCVOID Buffer, DWORD DescribedBytes) {
    return TextLength(static_cast<const WCHAR*>(Buffer), DescribedBytes / sizeof(WCHAR)) *
           static_cast<DWORD>(sizeof(WCHAR));
}

}  // namespace WinInetConventions

BOOL WinInetAdapter::InternetGetLastResponseInfoW(LPDWORD lpdwError, LPWSTR lpszBuffer,
                                                  LPDWORD lpdwBufferLength) {
    return WinInetConventions::LastResponseInfoInBytes(&::InternetGetLastResponseInfoW, lpdwError,
                                                       lpszBuffer, lpdwBufferLength);
}

// Text options: the DLL's count of characters on success becomes the
// contract's count of bytes. Failures (and the size needed, already in
// bytes) pass through unchanged.
BOOL WinInetAdapter::InternetQueryOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                          LPDWORD lpdwBufferLength) {
    const DWORD Described = lpdwBufferLength ? *lpdwBufferLength : 0;
    const BOOL Result =
        ForwardingInternetApi::InternetQueryOptionW(hInternet, dwOption, lpBuffer, lpdwBufferLength);
    if (Result && lpBuffer && lpdwBufferLength && WinInetConventions::IsTextOption(dwOption))
        *lpdwBufferLength = WinInetConventions::TextOptionBytes(lpBuffer, Described);
    return Result;
}

BOOL WinInetAdapter::InternetCreateUrlW(LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags,
                                        LPWSTR lpszUrl, LPDWORD lpdwUrlLength) {
    return WinInetConventions::CreateUrlWithinBuffer(&::InternetCreateUrlW, lpUrlComponents, dwFlags,
                                                     lpszUrl, lpdwUrlLength);
}

// On success the length is measured in the buffer, so it never exceeds the
// text the DLL wrote (nor the buffer).
BOOL WinInetAdapter::InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer,
                                              LPDWORD lpdwBufferLength, DWORD dwFlags) {
    const DWORD Described = lpdwBufferLength ? *lpdwBufferLength : 0;
    const BOOL Result = ForwardingInternetApi::InternetCanonicalizeUrlW(lpszUrl, lpszBuffer,
                                                                        lpdwBufferLength, dwFlags);
    if (Result && lpszBuffer && lpdwBufferLength)
        *lpdwBufferLength = WinInetConventions::TextLength(lpszBuffer, Described);
    return Result;
}

}  // namespace Corvane
