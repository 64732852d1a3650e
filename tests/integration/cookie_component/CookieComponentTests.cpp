// The cookie component against the platform's store: what it writes reads
// back by name and in the URL's list, a missing name reads as empty, and
// the store's refusals raise. Only session cookies are set, so nothing
// outlives the test's process.
#include <Corvane/Corvane.h>
#include <Framework/SysUtils.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "PlatformDifferences.h"
#include "TestText.h"

using namespace Corvane;

namespace {

// The "name=value" pieces of a cookie list, sorted.
std::vector<std::string> Pieces(const std::string& list) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= list.size() && !list.empty()) {
        std::size_t end = list.find("; ", start);
        if (end == std::string::npos) end = list.size();
        pieces.push_back(list.substr(start, end - start));
        start = end + 2;
    }
    std::sort(pieces.begin(), pieces.end());
    return pieces;
}

TEST(CookieComponent, WritesReadBackByNameAndInTheListAndRefusalsRaise) {
    TINetCookie cookie(nullptr);
    cookie.SetUrl(u"http://shop.corvane.test/cart/");
    cookie.SetCookieName(u"a");
    ASSERT_EQ(Raised([&] { cookie.SetCookieData(u"1"); }), "<nothing raised>");
    cookie.SetCookieName(u"b");
    cookie.SetCookieData(u"2; path=/");
    cookie.SetCookieName(u"");  // the data names the cookie
    cookie.SetCookieData(u"c=3");

    // By name: only that cookie, as "name=value".
    for (const auto& [name, expected] :
         {std::pair{u"a", "a=1"}, std::pair{u"b", "b=2"}, std::pair{u"c", "c=3"}}) {
        cookie.SetCookieName(name);
        EXPECT_EQ(U8(cookie.CookieData()), expected);
    }
    // Without a name: every cookie of the URL.
    cookie.SetCookieName(u"");
    EXPECT_EQ(Pieces(U8(cookie.CookieData())), (std::vector<std::string>{"a=1", "b=2", "c=3"}));

    // A name the URL has no cookie of, and a URL with none: empty, nothing raised.
    cookie.SetCookieName(u"zz");
    EXPECT_EQ(Raised([&] { EXPECT_EQ(U8(cookie.CookieData()), ""); }), "<nothing raised>");
    cookie.SetUrl(u"http://elsewhere.corvane.test/");
    cookie.SetCookieName(u"");
    EXPECT_EQ(Raised([&] { EXPECT_EQ(U8(cookie.CookieData()), ""); }), "<nothing raised>");

    // Only HTTP responses set HttpOnly cookies.
    cookie.SetUrl(u"http://shop.corvane.test/cart/");
    cookie.SetCookieName(u"h");
    EXPECT_EQ(Raised([&] { cookie.SetCookieData(u"1; HttpOnly"); }).rfind("Error 4317:", 0), 0u);
    EXPECT_EQ(U8(cookie.CookieData()), "");
}

}  // namespace
