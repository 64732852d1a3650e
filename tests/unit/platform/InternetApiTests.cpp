// The seam: which InternetApi Platform() answers, how scopes replace and
// restore it, and the test double's own per-thread last error.
#include "MockInternetApi.h"
#include "WideText.h"

#include <Platform/InternetApi.h>

#include <gtest/gtest.h>

#include <thread>

using testing::_;
using testing::NiceMock;
using testing::Return;
using testing::StrictMock;
using WideText::W;

namespace {

TEST(PlatformSeam, DefaultIsForwardingToTheBackend) {
    Corvane::InternetApi& api = Corvane::Platform();
    EXPECT_NE(dynamic_cast<Corvane::ForwardingInternetApi*>(&api), nullptr);

    // The forwarding methods reach the C functions: a last error set through
    // the seam is the thread's last error.
    api.SetLastError(ERROR_INTERNET_TIMEOUT);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    ::SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(api.GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_NE(api.GetModuleHandleW(W(u"wininet.dll")), nullptr);
}

TEST(PlatformSeam, ScopesNestAndRestoreInReverseOrder) {
    Corvane::InternetApi& original = Corvane::Platform();
    NiceMock<MockInternetApi> outer;
    NiceMock<MockInternetApi> inner;
    {
        Corvane::ScopedInternetApi useOuter(outer);
        EXPECT_EQ(&Corvane::Platform(), &outer);
        {
            Corvane::ScopedInternetApi useInner(inner);
            EXPECT_EQ(&Corvane::Platform(), &inner);
        }
        EXPECT_EQ(&Corvane::Platform(), &outer);
    }
    EXPECT_EQ(&Corvane::Platform(), &original);
}

TEST(PlatformSeam, CallsThroughPlatformReachTheInstalledMock) {
    StrictMock<MockInternetApi> api;
    Corvane::ScopedInternetApi use(api);
    const auto session = reinterpret_cast<HINTERNET>(0x1234);
    EXPECT_CALL(api, InternetOpenW(_, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0))
        .WillOnce(Return(session));
    EXPECT_EQ(Corvane::Platform().InternetOpenW(W(u"agent"), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0),
              session);
}

TEST(MockInternetApi, LastErrorIsKeptPerThreadAndApartFromThePlatform) {
    NiceMock<MockInternetApi> api;
    api.SetLastError(5);
    ::SetLastError(77);
    EXPECT_EQ(api.GetLastError(), 5u) << "the platform's code does not reach the mock";
    // The other way round only "not the mock's code": on Windows the mock's
    // own per-thread bookkeeping (TLS lookups) may clear the platform's.
    api.SetLastError(6);
    EXPECT_NE(::GetLastError(), 6u) << "the mock's code does not reach the platform";
    api.SetLastError(5);
    DWORD seenOnOtherThread = 1;
    std::thread([&] {
        seenOnOtherThread = api.GetLastError();
        api.SetLastError(9);
    }).join();
    EXPECT_EQ(seenOnOtherThread, 0u);
    EXPECT_EQ(api.GetLastError(), 5u);
}

TEST(MockInternetApi, ExpectedSetLastErrorStillRecordsTheCode) {
    NiceMock<MockInternetApi> api;
    api.SetMockLastError(12);
    EXPECT_CALL(api, SetLastError(0u));
    api.SetLastError(0);
    EXPECT_EQ(api.GetLastError(), 0u);
}

TEST(MockInternetApi, FailSetsTheLastErrorAndReturnsTheFailureValue) {
    NiceMock<MockInternetApi> api;
    EXPECT_CALL(api, InternetOpenW(_, _, _, _, _)).WillOnce(api.Fail(ERROR_INTERNET_NAME_NOT_RESOLVED));
    EXPECT_CALL(api, InternetCloseHandle(_)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_CALL(api, InternetSetStatusCallback(_, _)).WillOnce(api.Fail(ERROR_INVALID_HANDLE));
    EXPECT_CALL(api, FormatMessageW(_, _, _, _, _, _, _)).WillOnce(api.Fail(ERROR_MR_MID_NOT_FOUND));

    EXPECT_EQ(api.InternetOpenW(W(u""), 0, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(api.GetLastError(), static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
    EXPECT_EQ(api.InternetCloseHandle(nullptr), FALSE);
    EXPECT_EQ(api.GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(api.InternetSetStatusCallback(nullptr, nullptr), INTERNET_INVALID_STATUS_CALLBACK);
    WCHAR buffer[8];
    EXPECT_EQ(api.FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, nullptr, 1, 0, buffer, 8, nullptr), 0u);
    EXPECT_EQ(api.GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

}  // namespace
