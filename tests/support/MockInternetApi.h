// A GoogleMock InternetApi for unit tests of the components.
//
// Install it for the length of a test:
//
//     testing::NiceMock<MockInternetApi> api;
//     Corvane::ScopedInternetApi use(api);
//
// The mock keeps a last error of its own, per thread: by default
// GetLastError reads it and SetLastError writes it, so a test can still
// EXPECT_CALL(api, SetLastError(0)) and a scripted failure reads back as it
// would from the platform. Script a failure with Fail(code), which sets that
// last error and returns the failure value of the call (FALSE, a null handle,
// 0, or INTERNET_INVALID_STATUS_CALLBACK):
//
//     EXPECT_CALL(api, InternetOpenW(_, _, _, _, _))
//         .WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED));
#pragma once

#include <Platform/InternetApi.h>

#include <gmock/gmock.h>

#include <map>
#include <mutex>
#include <thread>
#include <type_traits>

class MockInternetApi : public Corvane::InternetApi {
public:
    /// Converts to the failure value of whatever the mocked call returns.
    struct FailureResult {
        template <typename T>
        operator T() const {
            if constexpr (std::is_same_v<T, INTERNET_STATUS_CALLBACK>)
                return INTERNET_INVALID_STATUS_CALLBACK;
            else
                return T{};
        }
    };

    MockInternetApi() {
        using testing::_;
        ON_CALL(*this, GetLastError()).WillByDefault([this] { return LastError(); });
        ON_CALL(*this, SetLastError(_)).WillByDefault([this](DWORD code) { SetMockLastError(code); });
    }

    MOCK_METHOD(DWORD, GetLastError, (), (override));
    MOCK_METHOD(void, SetLastError, (DWORD dwErrCode), (override));
    MOCK_METHOD(DWORD, FormatMessageW,
                (DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                 LPWSTR lpBuffer, DWORD nSize, va_list* Arguments),
                (override));
    MOCK_METHOD(HMODULE, GetModuleHandleW, (LPCWSTR lpModuleName), (override));

    MOCK_METHOD(BOOL, InternetGetLastResponseInfoW,
                (LPDWORD lpdwError, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength), (override));
    MOCK_METHOD(HINTERNET, InternetOpenW,
                (LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy,
                 LPCWSTR lpszProxyBypass, DWORD dwFlags),
                (override));
    MOCK_METHOD(BOOL, InternetCloseHandle, (HINTERNET hInternet), (override));
    MOCK_METHOD(INTERNET_STATUS_CALLBACK, InternetSetStatusCallback,
                (HINTERNET hInternet, INTERNET_STATUS_CALLBACK lpfnInternetCallback), (override));
    MOCK_METHOD(BOOL, InternetQueryOptionW,
                (HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, LPDWORD lpdwBufferLength),
                (override));
    MOCK_METHOD(BOOL, InternetSetOptionW,
                (HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength),
                (override));
    MOCK_METHOD(BOOL, InternetCrackUrlW,
                (LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags, LPURL_COMPONENTSW lpUrlComponents),
                (override));
    MOCK_METHOD(BOOL, InternetCreateUrlW,
                (LPURL_COMPONENTSW lpUrlComponents, DWORD dwFlags, LPWSTR lpszUrl, LPDWORD lpdwUrlLength),
                (override));
    MOCK_METHOD(BOOL, InternetCanonicalizeUrlW,
                (LPCWSTR lpszUrl, LPWSTR lpszBuffer, LPDWORD lpdwBufferLength, DWORD dwFlags),
                (override));
    MOCK_METHOD(HINTERNET, InternetConnectW,
                (HINTERNET hInternet, LPCWSTR lpszServerName, INTERNET_PORT nServerPort,
                 LPCWSTR lpszUserName, LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                 DWORD_PTR dwContext),
                (override));
    MOCK_METHOD(HINTERNET, HttpOpenRequestW,
                (HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName, LPCWSTR lpszVersion,
                 LPCWSTR lpszReferrer, LPCWSTR* lplpszAcceptTypes, DWORD dwFlags,
                 DWORD_PTR dwContext),
                (override));
    MOCK_METHOD(BOOL, HttpAddRequestHeadersW,
                (HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, DWORD dwModifiers),
                (override));
    MOCK_METHOD(BOOL, HttpSendRequestW,
                (HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength, LPVOID lpOptional,
                 DWORD dwOptionalLength),
                (override));
    MOCK_METHOD(BOOL, HttpQueryInfoW,
                (HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer, LPDWORD lpdwBufferLength,
                 LPDWORD lpdwIndex),
                (override));
    MOCK_METHOD(BOOL, InternetQueryDataAvailable,
                (HINTERNET hFile, LPDWORD lpdwNumberOfBytesAvailable, DWORD dwFlags,
                 DWORD_PTR dwContext),
                (override));
    MOCK_METHOD(BOOL, InternetReadFile,
                (HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                 LPDWORD lpdwNumberOfBytesRead),
                (override));

    /// The mock's last error on the calling thread (0 until set).
    DWORD LastError() const {
        std::lock_guard<std::mutex> lock(FMutex);
        auto it = FLastErrors.find(std::this_thread::get_id());
        return it == FLastErrors.end() ? 0 : it->second;
    }

    /// Sets the mock's last error on the calling thread, without going
    /// through the mocked SetLastError (so no expectation sees it).
    void SetMockLastError(DWORD code) {
        std::lock_guard<std::mutex> lock(FMutex);
        FLastErrors[std::this_thread::get_id()] = code;
    }

    /// An action for any mocked call: sets the mock's last error on the
    /// calling thread to `code` and returns the call's failure value.
    auto Fail(DWORD code) {
        return [this, code](auto&&...) {
            SetMockLastError(code);
            return FailureResult{};
        };
    }

private:
    mutable std::mutex FMutex;
    std::map<std::thread::id, DWORD> FLastErrors;
};
