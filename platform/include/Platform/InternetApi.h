// The seam between the components and the platform's Internet API.
//
// Components never call the C functions of <Platform/WinInet.h> directly: they
// call Platform(), an InternetApi with one method per platform function, named
// and typed exactly as the C function. The default implementation forwards to
// the C functions of the platform in use (the portable backend, or
// wininet.dll on Windows); unit tests install a scripted implementation with
// ScopedInternetApi.
//
// Adding a platform function to the seam: declare a pure virtual method here
// with the C function's exact name and signature, its forwarding override in
// ForwardingInternetApi (platform/src/InternetApi.cpp), and its MOCK_METHOD in
// tests/support/MockInternetApi.h.
#pragma once

#include <Platform/WinInet.h>

namespace Corvane {

/// One method per platform function that the components call. Every method
/// behaves as the C function of the same name does, including what it leaves
/// in the calling thread's last error.
class InternetApi {
public:
    virtual ~InternetApi() = default;

    // Kernel services.
    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD dwErrCode) = 0;
    virtual DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                 DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                                 va_list* Arguments) = 0;
    virtual HMODULE GetModuleHandleW(LPCWSTR lpModuleName) = 0;

    // Errors, sessions, handles and options.
    virtual BOOL InternetGetLastResponseInfoW(LPDWORD lpdwError, LPWSTR lpszBuffer,
                                              LPDWORD lpdwBufferLength) = 0;
    virtual HINTERNET InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy,
                                    LPCWSTR lpszProxyBypass, DWORD dwFlags) = 0;
    virtual BOOL InternetCloseHandle(HINTERNET hInternet) = 0;
    virtual INTERNET_STATUS_CALLBACK InternetSetStatusCallback(
        HINTERNET hInternet, INTERNET_STATUS_CALLBACK lpfnInternetCallback) = 0;
    virtual BOOL InternetQueryOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                      LPDWORD lpdwBufferLength) = 0;
    virtual BOOL InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                    DWORD dwBufferLength) = 0;

    // URLs.
    virtual BOOL InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                                   LPURL_COMPONENTSW lpUrlComponents) = 0;
    virtual BOOL InternetCreateUrlW(LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags,
                                    LPWSTR lpszUrl, LPDWORD lpdwUrlLength) = 0;
    virtual BOOL InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer,
                                          LPDWORD lpdwBufferLength, DWORD dwFlags) = 0;

    // Connections, HTTP requests and reading data.
    virtual HINTERNET InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName,
                                       INTERNET_PORT nServerPort, LPCWSTR lpszUserName,
                                       LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                       DWORD_PTR dwContext) = 0;
    virtual HINTERNET HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb,
                                       LPCWSTR lpszObjectName, LPCWSTR lpszVersion,
                                       LPCWSTR lpszReferrer, LPCWSTR* lplpszAcceptTypes,
                                       DWORD dwFlags, DWORD_PTR dwContext) = 0;
    virtual BOOL HttpAddRequestHeadersW(HINTERNET hRequest, LPCWSTR lpszHeaders,
                                        DWORD dwHeadersLength, DWORD dwModifiers) = 0;
    virtual BOOL HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                                  LPVOID lpOptional, DWORD dwOptionalLength) = 0;
    virtual BOOL HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                                LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) = 0;
    virtual BOOL InternetQueryDataAvailable(HINTERNET hFile, LPDWORD lpdwNumberOfBytesAvailable,
                                            DWORD dwFlags, DWORD_PTR dwContext) = 0;
    virtual BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                                  LPDWORD lpdwNumberOfBytesRead) = 0;

protected:
    InternetApi() = default;
    InternetApi(const InternetApi&) = default;
    InternetApi& operator=(const InternetApi&) = default;
};

/// The default implementation: each method calls the C function of the same
/// name of the platform in use.
class ForwardingInternetApi : public InternetApi {
public:
    DWORD GetLastError() override;
    void SetLastError(DWORD dwErrCode) override;
    DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                         LPWSTR lpBuffer, DWORD nSize, va_list* Arguments) override;
    HMODULE GetModuleHandleW(LPCWSTR lpModuleName) override;

    BOOL InternetGetLastResponseInfoW(LPDWORD lpdwError, LPWSTR lpszBuffer,
                                      LPDWORD lpdwBufferLength) override;
    HINTERNET InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy,
                            LPCWSTR lpszProxyBypass, DWORD dwFlags) override;
    BOOL InternetCloseHandle(HINTERNET hInternet) override;
    INTERNET_STATUS_CALLBACK InternetSetStatusCallback(
        HINTERNET hInternet, INTERNET_STATUS_CALLBACK lpfnInternetCallback) override;
    BOOL InternetQueryOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                              LPDWORD lpdwBufferLength) override;
    BOOL InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                            DWORD dwBufferLength) override;

    BOOL InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                           LPURL_COMPONENTSW lpUrlComponents) override;
    BOOL InternetCreateUrlW(LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags, LPWSTR lpszUrl,
                            LPDWORD lpdwUrlLength) override;
    BOOL InternetCanonicalizeUrlW(LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength,
                                  DWORD dwFlags) override;

    HINTERNET InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName,
                               INTERNET_PORT nServerPort, LPCWSTR lpszUserName, LPCWSTR lpszPassword,
                               DWORD dwService, DWORD dwFlags, DWORD_PTR dwContext) override;
    HINTERNET HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName,
                               LPCWSTR lpszVersion, LPCWSTR lpszReferrer,
                               LPCWSTR* lplpszAcceptTypes, DWORD dwFlags,
                               DWORD_PTR dwContext) override;
    BOOL HttpAddRequestHeadersW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                                DWORD dwModifiers) override;
    BOOL HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                          LPVOID lpOptional, DWORD dwOptionalLength) override;
    BOOL HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                        LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) override;
    BOOL InternetQueryDataAvailable(HINTERNET hFile, LPDWORD lpdwNumberOfBytesAvailable,
                                    DWORD dwFlags, DWORD_PTR dwContext) override;
    BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                          LPDWORD lpdwNumberOfBytesRead) override;
};

/// The implementation installed for the process: the forwarding one unless a
/// ScopedInternetApi has replaced it.
InternetApi& Platform();

/// For tests: installs `api` as the process's InternetApi for the lifetime of
/// this object and restores the previously installed one when destroyed.
/// Scopes nest (restore in reverse order of creation). `api` must outlive the
/// scope. Typical use:
///
///     testing::NiceMock<MockInternetApi> api;
///     Corvane::ScopedInternetApi use(api);
class ScopedInternetApi {
public:
    explicit ScopedInternetApi(InternetApi& api);
    ~ScopedInternetApi();
    ScopedInternetApi(const ScopedInternetApi&) = delete;
    ScopedInternetApi& operator=(const ScopedInternetApi&) = delete;

private:
    InternetApi* FPrevious;
};

}  // namespace Corvane
