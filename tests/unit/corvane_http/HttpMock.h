// The HTTP component against the mocked platform: a fixture whose mock hands
// out fixed session, connection and request handles, logs every close, and
// leaves the URL routines to the real ones so that Url behaves as it does in
// an application.
#pragma once

#include <Corvane/Corvane.h>
#include <Corvane/Http.h>
#include <Framework/Forms.h>
#include <Framework/SysUtils.h>

#include <gmock/gmock.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "MockInternetApi.h"
#include "TestText.h"

namespace HttpUnit {

using namespace Corvane;

inline HINTERNET FakeHandle(std::uintptr_t n) {
    return reinterpret_cast<HINTERNET>(0x1000 + 0x10 * n);
}

inline const HINTERNET kSession = FakeHandle(1);
inline const HINTERNET kConnection = FakeHandle(2);
inline const HINTERNET kRequest = FakeHandle(3);

inline std::string Closed(HINTERNET h) {
    return "close " + std::to_string(reinterpret_cast<std::uintptr_t>(h));
}

// A wide-string argument equal to Expected; a null pointer never matches.
MATCHER_P(WStrEq, Expected, "points to u\"" + Framework::Utf16ToUtf8(Expected) + "\"") {
    return arg != nullptr &&
           std::u16string(reinterpret_cast<const char16_t*>(arg)) == std::u16string(Expected);
}

// The message of the EINetError that Action raises, or "<nothing raised>".
inline std::string RaisedMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const EINetError& e) {
        return U8(e.Message());
    }
    return "<nothing raised>";
}

inline const std::string kClosedMessage = "Can't perform this operation on a closed session";
inline const std::string kOpenMessage = "Can't perform this operation on an open session";

class HttpMockTest : public testing::Test {
protected:
    HttpMockTest() {
        using testing::_;
        using testing::Return;
        ON_CALL(api, InternetOpenW(_, _, _, _, _)).WillByDefault(Return(kSession));
        ON_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _)).WillByDefault(Return(kConnection));
        ON_CALL(api, HttpOpenRequestW(_, _, _, _, _, _, _, _)).WillByDefault(Return(kRequest));
        ON_CALL(api, HttpSendRequestW(_, _, _, _, _)).WillByDefault(Return(TRUE));
        ON_CALL(api, HttpAddRequestHeadersW(_, _, _, _)).WillByDefault(Return(TRUE));
        ON_CALL(api, InternetSetOptionW(_, _, _, _)).WillByDefault(Return(TRUE));
        ON_CALL(api, InternetCloseHandle(_)).WillByDefault([this](HINTERNET h) {
            Log.push_back(Closed(h));
            return TRUE;
        });
        ON_CALL(api, InternetCrackUrlW(_, _, _, _)).WillByDefault(&::InternetCrackUrlW);
        ON_CALL(api, InternetCreateUrlW(_, _, _, _)).WillByDefault(&::InternetCreateUrlW);
        ON_CALL(api, InternetCanonicalizeUrlW(_, _, _, _)).WillByDefault(&::InternetCanonicalizeUrlW);
        ON_CALL(api, GetModuleHandleW(_)).WillByDefault(&::GetModuleHandleW);
        // The platform's message tables; a failed lookup leaves its reason
        // in the mock's last error, as it does in the platform's.
        ON_CALL(api, FormatMessageW(_, _, _, _, _, _, _))
            .WillByDefault([this](DWORD flags, LPCVOID source, DWORD id, DWORD language, LPWSTR buffer,
                                  DWORD size, va_list* arguments) {
                const DWORD length = ::FormatMessageW(flags, source, id, language, buffer, size, arguments);
                if (length == 0) api.SetMockLastError(::GetLastError());
                return length;
            });
    }

    // The default session is process-wide: a test that opened it through the
    // mock closes it while the mock is still in place.
    ~HttpMockTest() override {
        TINetSession* defaultSession = GetDefaultSession();
        if (defaultSession != nullptr && defaultSession->Active()) defaultSession->Close();
    }

    // For scripted actions: records Code as the last error and returns FALSE.
    BOOL FailWith(DWORD code) {
        api.SetMockLastError(code);
        return FALSE;
    }

    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    std::vector<std::string> Log;
};

}  // namespace HttpUnit
