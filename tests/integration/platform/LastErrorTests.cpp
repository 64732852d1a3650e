// The calling thread's last error and last server response.
#include "BackendTesting.h"

#include "posix/errors/LastError.h"

#include <atomic>
#include <barrier>
#include <thread>
#include <vector>

using namespace BackendTesting;
using Corvane::Backend::ClearLastResponseInfo;
using Corvane::Backend::SetLastResponseInfo;

namespace {

TEST(LastError, EachThreadKeepsItsOwn) {
    constexpr int kThreads = 6;
    std::barrier sync(kThreads);
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ::SetLastError(1000 + i);
            sync.arrive_and_wait();  // every thread has written before any reads
            for (int round = 0; round < 1000; ++round) {
                if (::GetLastError() != static_cast<DWORD>(1000 + i)) ++mismatches;
                ::SetLastError(1000 + i);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

class LastResponse : public testing::Test {
protected:
    void SetUp() override { ClearLastResponseInfo(); }
    void TearDown() override { ClearLastResponseInfo(); }
};

TEST_F(LastResponse, WithoutAResponseSucceedsWithSizeZero) {
    DWORD error = 1, size = 0;
    ArmLastError();
    EXPECT_TRUE(Succeeded(InternetGetLastResponseInfoW(&error, nullptr, &size)));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(size, 0u);
}

TEST_F(LastResponse, ReportsBytesWithTerminatorWhenTheBufferIsMissingOrShort) {
    const std::u16string text = u"550 No such file.\r\n";
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    SetLastResponseInfo(550, text);

    DWORD error = 0, size = 0;
    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetGetLastResponseInfoW(&error, nullptr, &size), ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, needed);
    EXPECT_EQ(error, 550u);

    // One byte short: still refused, and nothing is written.
    std::u16string buffer(text.size() + 1, u'#');
    size = needed - 1;
    ArmLastError();
    EXPECT_TRUE(
        FailedWith(InternetGetLastResponseInfoW(&error, buffer.data(), &size), ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, needed);
    EXPECT_EQ(buffer, std::u16string(text.size() + 1, u'#'));

    // Exactly enough: the text and its terminator; the size without it.
    size = needed;
    ArmLastError();
    EXPECT_TRUE(Succeeded(InternetGetLastResponseInfoW(&error, buffer.data(), &size)));
    EXPECT_EQ(std::u16string(buffer.c_str()), text);
    EXPECT_EQ(size, needed - sizeof(WCHAR));
}

TEST_F(LastResponse, RefusesMissingOutParameters) {
    DWORD error = 0, size = 0;
    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetGetLastResponseInfoW(nullptr, nullptr, &size), ERROR_INVALID_PARAMETER));
    ArmLastError();
    EXPECT_TRUE(FailedWith(InternetGetLastResponseInfoW(&error, nullptr, nullptr), ERROR_INVALID_PARAMETER));
}

TEST_F(LastResponse, IsKeptPerThread) {
    SetLastResponseInfo(226, u"226 Transfer complete.\r\n");
    DWORD otherSize = 99, otherError = 99;
    std::thread([&] {
        InternetGetLastResponseInfoW(&otherError, nullptr, &otherSize);
        SetLastResponseInfo(421, u"421 Bye.\r\n");
    }).join();
    EXPECT_EQ(otherSize, 0u);
    EXPECT_EQ(otherError, 0u);

    DWORD error = 0, size = 0;
    InternetGetLastResponseInfoW(&error, nullptr, &size);
    EXPECT_EQ(error, 226u);
    EXPECT_EQ(size, sizeof(u"226 Transfer complete.\r\n"));
}

}  // namespace
