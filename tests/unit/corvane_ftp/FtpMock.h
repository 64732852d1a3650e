// The FTP component against the mocked platform: a fixture whose mock hands
// out fixed session, connection, file, listing and lock handles and logs
// every release in one list, so that tests can read the order of releases.
#pragma once

#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>

#include <gmock/gmock.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MockInternetApi.h"
#include "TestText.h"

namespace FtpUnit {

using namespace Corvane;

inline HINTERNET FakeHandle(std::uintptr_t n) {
    return reinterpret_cast<HINTERNET>(0x1000 + 0x10 * n);
}

inline const HINTERNET kSession = FakeHandle(1);
inline const HINTERNET kConnection = FakeHandle(2);
inline const HINTERNET kFile = FakeHandle(3);
inline const HINTERNET kFind = FakeHandle(4);
inline const HINTERNET kData = FakeHandle(5);
inline const HANDLE kLock = FakeHandle(6);

// The log's names of the fake handles.
inline std::string Name(const void* h) {
    if (h == kSession) return "session";
    if (h == kConnection) return "connection";
    if (h == kFile) return "file";
    if (h == kFind) return "find";
    if (h == kData) return "data";
    if (h == kLock) return "lock";
    return h == nullptr ? "null" : "other";
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

class FtpMockTest : public testing::Test {
protected:
    FtpMockTest() {
        using testing::_;
        using testing::Return;
        ON_CALL(api, InternetOpenW(_, _, _, _, _)).WillByDefault(Return(kSession));
        ON_CALL(api, InternetConnectW(_, _, _, _, _, _, _, _)).WillByDefault(Return(kConnection));
        ON_CALL(api, FtpOpenFileW(_, _, _, _, _)).WillByDefault(Return(kFile));
        ON_CALL(api, FtpFindFirstFileW(_, _, _, _, _)).WillByDefault(Return(kFind));
        ON_CALL(api, InternetLockRequestFile(_, _)).WillByDefault([](HINTERNET, HANDLE* lock) {
            *lock = kLock;
            return TRUE;
        });
        ON_CALL(api, InternetUnlockRequestFile(_)).WillByDefault([this](HANDLE h) {
            Log.push_back("unlock " + Name(h));
            return TRUE;
        });
        ON_CALL(api, InternetCloseHandle(_)).WillByDefault([this](HINTERNET h) {
            Log.push_back("close " + Name(h));
            return TRUE;
        });
        ON_CALL(api, GetModuleHandleW(_)).WillByDefault(&::GetModuleHandleW);
        ON_CALL(api, FormatMessageW(_, _, _, _, _, _, _)).WillByDefault(&::FormatMessageW);
    }

    // The default session is process-wide: a test that opened it through the
    // mock closes it while the mock is still in place.
    ~FtpMockTest() override {
        TINetSession* defaultSession = GetDefaultSession();
        if (defaultSession != nullptr && defaultSession->Active()) defaultSession->Close();
    }

    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
    std::vector<std::string> Log;
};

}  // namespace FtpUnit
