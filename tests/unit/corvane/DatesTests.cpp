// TimeToSystemTime and TimeFromSystemTime against the mocked platform: the
// exact arguments, the results taken as the platform gives them, and failures
// raised.
#include "TestHelpers.h"

using namespace Corvane;
using namespace CorvaneTest;
using testing::Eq;
using testing::NotNull;

namespace {

const std::u16string kRfc1123 = u"Sun, 06 Nov 1994 08:49:37 GMT";
constexpr SYSTEMTIME kNov6{1994, 11, 0, 6, 8, 49, 37, 0};

bool Same(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return std::memcmp(&a, &b, sizeof(SYSTEMTIME)) == 0;
}

class DatesTest : public testing::Test {
protected:
    testing::NiceMock<MockInternetApi> api;
    ScopedInternetApi use{api};
};

TEST_F(DatesTest, TimeToSystemTimeReturnsThePlatformsRecordOrRaises) {
    EXPECT_CALL(api, InternetTimeToSystemTimeW(WStrEq(kRfc1123), NotNull(), 0u))
        .WillOnce([](LPCWSTR, SYSTEMTIME* time, DWORD) {
            *time = kNov6;
            return TRUE;
        })
        .WillOnce(api.Fail(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(Same(TimeToSystemTime(kRfc1123), kNov6));
    EXPECT_EQ(RaisedMessage([] { TimeToSystemTime(kRfc1123); }).rfind("Error 87: ", 0), 0u);
}

TEST_F(DatesTest, TimeFromSystemTimeHandsOverSixtyBytesAndKeepsAllTwentyNineCharacters) {
    const SYSTEMTIME time = kNov6;
    // What the platform writes comes back as it stands: 29 characters, a
    // shorter text followed by the zeros the result started with.
    const auto writes = [](std::u16string text) {
        return [text](const SYSTEMTIME*, DWORD, LPWSTR buffer, DWORD) {
            std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
            return TRUE;
        };
    };
    EXPECT_CALL(api, InternetTimeFromSystemTimeW(Eq(&time), DWORD{INTERNET_RFC1123_FORMAT}, NotNull(), 60u))
        .WillOnce(writes(kRfc1123))
        .WillOnce(writes(u"Sun"))
        .WillOnce(api.Fail(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(U8(TimeFromSystemTime(time)), U8(kRfc1123));
    EXPECT_EQ(TimeFromSystemTime(time), std::u16string(u"Sun") + std::u16string(26, u'\0'));
    EXPECT_EQ(RaisedMessage([&] { TimeFromSystemTime(time); }).rfind("Error 87: ", 0), 0u);
}

}  // namespace
