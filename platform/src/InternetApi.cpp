// The forwarding InternetApi and the process-wide slot that Platform() reads.
#include <Platform/InternetApi.h>

#include <atomic>

#if defined(_WIN32)
#include "windows/WinInetAdapter.h"
#endif

namespace Corvane {

namespace {

// On Windows the forwarding goes through the adapter, which converts where
// wininet.dll's conventions differ from the contract.
InternetApi& DefaultApi() {
#if defined(_WIN32)
    static WinInetAdapter api;
#else
    static ForwardingInternetApi api;
#endif
    return api;
}

// Null means "the default"; an atomic so a scope installed on one thread is
// seen by calls made on another (asynchronous status callbacks, for one).
std::atomic<InternetApi*> InstalledApi{nullptr};

}  // namespace

InternetApi& Platform() {
    InternetApi* api = InstalledApi.load(std::memory_order_acquire);
    return api ? *api : DefaultApi();
}

ScopedInternetApi::ScopedInternetApi(InternetApi& api)
    : FPrevious(InstalledApi.exchange(&api, std::memory_order_acq_rel)) {}

ScopedInternetApi::~ScopedInternetApi() {
    InstalledApi.store(FPrevious, std::memory_order_release);
}

DWORD ForwardingInternetApi::GetLastError() { return ::GetLastError(); }

void ForwardingInternetApi::SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }

DWORD ForwardingInternetApi::FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                            DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                                            va_list* Arguments) {
    return ::FormatMessageW(dwFlags, lpSource, dwMessageId, dwLanguageId, lpBuffer, nSize,
                            Arguments);
}

HMODULE ForwardingInternetApi::GetModuleHandleW(LPCWSTR lpModuleName) {
    return ::GetModuleHandleW(lpModuleName);
}

BOOL ForwardingInternetApi::InternetGetLastResponseInfoW(LPDWORD lpdwError, LPWSTR lpszBuffer,
                                                         LPDWORD lpdwBufferLength) {
    return ::InternetGetLastResponseInfoW(lpdwError, lpszBuffer, lpdwBufferLength);
}

HINTERNET ForwardingInternetApi::InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType,
                                               LPCWSTR lpszProxy, LPCWSTR lpszProxyBypass,
                                               DWORD dwFlags) {
    return ::InternetOpenW(lpszAgent, dwAccessType, lpszProxy, lpszProxyBypass, dwFlags);
}

BOOL ForwardingInternetApi::InternetCloseHandle(HINTERNET hInternet) {
    return ::InternetCloseHandle(hInternet);
}

INTERNET_STATUS_CALLBACK ForwardingInternetApi::InternetSetStatusCallback(
    HINTERNET hInternet, INTERNET_STATUS_CALLBACK lpfnInternetCallback) {
    return ::InternetSetStatusCallback(hInternet, lpfnInternetCallback);
}

BOOL ForwardingInternetApi::InternetQueryOptionW(HINTERNET hInternet, DWORD dwOption,
                                                 LPVOID lpBuffer, LPDWORD lpdwBufferLength) {
    return ::InternetQueryOptionW(hInternet, dwOption, lpBuffer, lpdwBufferLength);
}

BOOL ForwardingInternetApi::InternetSetOptionW(HINTERNET hInternet, DWORD dwOption,
                                               LPVOID lpBuffer, DWORD dwBufferLength) {
    return ::InternetSetOptionW(hInternet, dwOption, lpBuffer, dwBufferLength);
}

BOOL ForwardingInternetApi::InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                                              LPURL_COMPONENTSW lpUrlComponents) {
    return ::InternetCrackUrlW(lpszUrl, dwUrlLength, dwFlags, lpUrlComponents);
}

BOOL ForwardingInternetApi::InternetCreateUrlW(LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags,
                                               LPWSTR lpszUrl, LPDWORD lpdwUrlLength) {
    return ::InternetCreateUrlW(lpUrlComponents, dwFlags, lpszUrl, lpdwUrlLength);
}

BOOL ForwardingInternetApi::InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer,
                                                     LPDWORD lpdwBufferLength, DWORD dwFlags) {
    return ::InternetCanonicalizeUrlW(lpszUrl, lpszBuffer, lpdwBufferLength, dwFlags);
}

HINTERNET ForwardingInternetApi::InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName,
                                                  INTERNET_PORT nServerPort, LPCWSTR lpszUserName,
                                                  LPCWSTR lpszPassword, DWORD dwService,
                                                  DWORD dwFlags, DWORD_PTR dwContext) {
    return ::InternetConnectW(hInternet, lpszServerName, nServerPort, lpszUserName, lpszPassword,
                              dwService, dwFlags, dwContext);
}

HINTERNET ForwardingInternetApi::HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb,
                                                  LPCWSTR lpszObjectName, LPCWSTR lpszVersion,
                                                  LPCWSTR lpszReferrer, LPCWSTR* lplpszAcceptTypes,
                                                  DWORD dwFlags, DWORD_PTR dwContext) {
    return ::HttpOpenRequestW(hConnect, lpszVerb, lpszObjectName, lpszVersion, lpszReferrer,
                              lplpszAcceptTypes, dwFlags, dwContext);
}

BOOL ForwardingInternetApi::HttpAddRequestHeadersW(HINTERNET hRequest, LPCWSTR lpszHeaders,
                                                   DWORD dwHeadersLength, DWORD dwModifiers) {
    return ::HttpAddRequestHeadersW(hRequest, lpszHeaders, dwHeadersLength, dwModifiers);
}

BOOL ForwardingInternetApi::HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders,
                                             DWORD dwHeadersLength, LPVOID lpOptional,
                                             DWORD dwOptionalLength) {
    return ::HttpSendRequestW(hRequest, lpszHeaders, dwHeadersLength, lpOptional, dwOptionalLength);
}

BOOL ForwardingInternetApi::HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                                           LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
    return ::HttpQueryInfoW(hRequest, dwInfoLevel, lpBuffer, lpdwBufferLength, lpdwIndex);
}

BOOL ForwardingInternetApi::InternetQueryDataAvailable(HINTERNET hFile,
                                                       LPDWORD lpdwNumberOfBytesAvailable,
                                                       DWORD dwFlags, DWORD_PTR dwContext) {
    return ::InternetQueryDataAvailable(hFile, lpdwNumberOfBytesAvailable, dwFlags, dwContext);
}

BOOL ForwardingInternetApi::InternetReadFile(HINTERNET hFile, LPVOID lpBuffer,
                                             DWORD dwNumberOfBytesToRead,
                                             LPDWORD lpdwNumberOfBytesRead) {
    return ::InternetReadFile(hFile, lpBuffer, dwNumberOfBytesToRead, lpdwNumberOfBytesRead);
}

}  // namespace Corvane
