// The cookie jar's storage rules and the date parser, at fixed times.
#include "posix/cookies/CookieJar.h"
#include "posix/text/InternetDate.h"

#include <gtest/gtest.h>

using Corvane::Backend::CookieJar;
using Corvane::Backend::CookieUrl;
using Corvane::Backend::ParseHttpDate;

namespace {

constexpr std::int64_t kNow = 1700000000;  // 2023-11-14

const CookieUrl kHost{"www.Example.com", "/docs/page", false};

}  // namespace

TEST(CookieJarRules, DomainHostOnlyPathAndSecure) {
    CookieJar jar;
    EXPECT_TRUE(jar.Set(kHost, "host=1", true, kNow));
    EXPECT_TRUE(jar.Set(kHost, "wide=2; Domain=.example.com; Path=/", true, kNow));
    EXPECT_TRUE(jar.Set(kHost, "secret=3; Secure; Path=/", true, kNow));
    EXPECT_FALSE(jar.Set(kHost, "foreign=4; Domain=other.com", true, kNow));
    EXPECT_FALSE(jar.Set(kHost, "tld=5; Domain=com", true, kNow)) << "a bare top-level domain";
    EXPECT_FALSE(jar.Set(kHost, "novalue", true, kNow));
    EXPECT_FALSE(jar.Set(kHost, "=nameless", true, kNow));

    EXPECT_EQ(jar.Header({"www.example.com", "/docs/other", false}, kNow), "host=1; wide=2")
        << "the default path is the request's directory, longer paths first";
    EXPECT_EQ(jar.Header({"www.example.com", "/", false}, kNow), "wide=2");
    EXPECT_EQ(jar.Header({"sub.www.example.com", "/docs/x", false}, kNow), "wide=2") << "host-only";
    EXPECT_EQ(jar.Header({"www.example.com", "/", true}, kNow), "wide=2; secret=3");
    EXPECT_EQ(jar.Header({"example.com", "/", true}, kNow), "wide=2");
    EXPECT_EQ(jar.Header({"badexample.com", "/", true}, kNow), "");
    EXPECT_EQ(jar.Header({"www.example.com", "/docsx", false}, kNow), "wide=2") << "path boundary";
}

TEST(CookieJarRules, ReplacementExpiryAndHttpOnly) {
    CookieJar jar;
    const CookieUrl root{"example.org", "/", false};
    ASSERT_TRUE(jar.Set(root, "a=1", true, kNow));
    ASSERT_TRUE(jar.Set(root, "b=1", true, kNow + 1));
    ASSERT_TRUE(jar.Set(root, "a=2", true, kNow + 2));
    EXPECT_EQ(jar.Header(root, kNow + 3), "a=2; b=1") << "a replaced cookie keeps its creation time";

    ASSERT_TRUE(jar.Set(root, "a=3; Max-Age=0", true, kNow + 4));
    EXPECT_EQ(jar.Header(root, kNow + 4), "b=1");
    ASSERT_TRUE(jar.Set(root, "short=1; Max-Age=10; Expires=Fri, 01 Jan 2100 00:00:00 GMT", true, kNow + 5));
    EXPECT_EQ(jar.Header(root, kNow + 14), "b=1; short=1") << "Max-Age wins over Expires";
    EXPECT_EQ(jar.Header(root, kNow + 15), "b=1");
    ASSERT_TRUE(jar.Set(root, "old=1; Expires=Thu, 01 Jan 1970 00:00:00 GMT", true, kNow));
    EXPECT_EQ(jar.Header(root, kNow), "b=1");

    ASSERT_TRUE(jar.Set(root, "h=1; HttpOnly", true, kNow));
    EXPECT_FALSE(jar.Set(root, "h=2", false, kNow)) << "script cannot overwrite an HttpOnly cookie";
    EXPECT_EQ(jar.Matching(root, false, kNow).size(), 1u) << "and does not see it";
    EXPECT_EQ(jar.Header(root, kNow + 5), "h=1; b=1") << "older first at equal path length";
}

TEST(CookieJarRules, IpHostsAreExact) {
    CookieJar jar;
    const CookieUrl ip{"127.0.0.1", "/", false};
    EXPECT_TRUE(jar.Set(ip, "a=1; Domain=127.0.0.1", true, kNow));
    EXPECT_FALSE(jar.Set(ip, "b=1; Domain=0.0.1", true, kNow));
    EXPECT_EQ(jar.Header(ip, kNow), "a=1");
    EXPECT_EQ(jar.Header({"2.127.0.0.1", "/", false}, kNow), "");
}

TEST(HttpDates, TheThreeFormatsAndInvalidOnes) {
    const std::int64_t expected = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
    EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), expected);
    EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), expected);
    EXPECT_EQ(ParseHttpDate("Thu, 01 Jan 2065 00:00:00 GMT"), 2997993600);
    EXPECT_EQ(ParseHttpDate("Mon, 01-Jan-65 00:00:00 GMT"), 2997993600)
        << "two-digit years below 70 are 20xx";
    for (const char* bad :
         {"", "Sun, 06 Nov 1994", "Sun, 31 Feb 1994 08:49:37 GMT", "Sun, 06 Nov 1994 24:00:00 GMT",
          "Sun, 06 Xyz 1994 08:49:37 GMT", "Sun, 06 Nov 1500 08:49:37 GMT"})
        EXPECT_FALSE(ParseHttpDate(bad).has_value()) << bad;
}
