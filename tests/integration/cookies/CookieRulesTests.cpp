// The cookie store's rules through InternetSetCookieW and InternetGetCookieW,
// called through the seam, so on Windows through the adapter: one sequence of
// sets and reads, with the answers of Wine's wininet.dll where it differs.
#include <Platform/InternetApi.h>

#include "CookieCalls.h"
#include "PlatformDifferences.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#if !defined(_WIN32)
#include "posix/cookies/CookieJar.h"
#include "posix/text/InternetDate.h"

#include <Platform/CookieStore.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#endif

using CookieCalls::GetCookie;
using CookieCalls::Narrow;
using CookieCalls::SetCookie;
using WideText::W;

namespace {

#if !defined(_WIN32)
namespace fs = std::filesystem;

// The process's store starts empty in a file of its own, in a scratch folder
// removed when the process ends, so that cookies from earlier runs and other
// test processes never count.
const fs::path& StoreFile() {
    static const fs::path* const file = [] {
        std::string pattern = (fs::temp_directory_path() / "corvane-cookie-rules-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        static const fs::path folder(pattern);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        });
        return new fs::path(folder / "process.sqlite");  // never destroyed: used until exit
    }();
    return *file;
}

const bool kFreshStore = [] {
    ::setenv("CORVANE_COOKIE_FILE", StoreFile().c_str(), 1);
    return true;
}();
#endif

}  // namespace

// One sequence of sets and reads: each row's outcome depends on those
// before it. The hosts are this test's own, so that a store that outlives
// the process (Wine's) holds nothing else for them.
TEST(CookieApi, StoreRulesThroughTheCApi) {
    const std::u16string big(5000, u'x');
    // What Wine lists for the host besides the cookies it shares with the
    // backend: the large cookie, the one set for an ftp URL, and the one
    // whose negative Max-Age it ignored.
    const std::string wineExtra = "; big=" + std::string(big.size(), 'x') + "; a=1; old=6";
    struct Row {
        bool set;
        const char16_t* url;
        const char16_t* name;
        std::u16string data;   // set: the data
        std::string expected;  // the outcome: "ok", the text read, or "error N"
        // Where the platform differences `keys` apply (all of them), the
        // outcome is `differing` instead.
        std::vector<const char*> keys = {};
        std::string differing = {};
    } const rows[] = {
        {true, u"http://www.cookie-rules.com/docs/page", u"host", u"1", "ok"},
        {true, u"http://www.cookie-rules.com/", u"wide", u"2; domain=.Cookie-Rules.com; path=/", "ok"},
        {true, u"https://www.cookie-rules.com/", u"sec", u"3; secure; path=/", "ok"},
        {true, u"http://www.cookie-rules.com/", u"", u"named=4; path=/", "ok"},
        {true, u"http://www.cookie-rules.com/", u"both",
         u"5; path=/; max-age=3600; expires=Thu, 01 Jan 1970 00:00:00 GMT", "ok"},
        {true, u"http://www.cookie-rules.com/", u"old",
         u"6; path=/; expires=Fri, 01 Jan 2100 00:00:00 GMT; max-age=-1", "ok"},
        {true, u"http://www.cookie-rules.com/", u"kept", u"7; path=/; expires=Fri, 01 Jan 2100 00:00:00 GMT",
         "ok"},
        {true, u"http://www.cookie-rules.com/", u"kept", u"x; path=/; expires=Thu, 01 Jan 1970 00:00:00 GMT",
         "ok"},
        {true, u"http://www.cookie-rules.com/", u"script", u"8; HttpOnly", "error 4317"},
        {true, u"http://www.cookie-rules.com/", u"tld", u"9; domain=com", "error 87"},
        {true,
         u"http://www.cookie-rules.co.uk/",
         u"psl",
         u"10; domain=co.uk",
         "error 87",
         {"wine-cookie-public-suffix"},
         "ok"},
        {true, u"http://www.cookie-rules.com/", u"foreign", u"11; domain=other-cookie-rules.com", "error 87"},
        // Above a suffix of the host's own: the parent's other sites would get it.
        {true,
         u"http://cookie-rules.s3.amazonaws.com/",
         u"tenant",
         u"13; domain=amazonaws.com",
         "error 87",
         {"wine-cookie-public-suffix"},
         "ok"},
        {true, u"http://co.uk/", u"self", u"12; domain=co.uk", "ok"},
        {true, u"http://www.cookie-rules.com/", u"big", big, "error 87", {"wine-cookie-size"}, "ok"},
        {true, u"ftp://www.cookie-rules.com/", u"a", u"1", "error 12006", {"wine-cookie-any-scheme"}, "ok"},
        {true, u"no url", u"a", u"1", "error 12006"},

        {false,
         u"http://www.cookie-rules.com/docs/x",
         u"",
         u"",
         "host=1; wide=2; named=4; both=5",
         {"wine-cookie-case", "wine-secure-cookies", "wine-cookie-max-age", "wine-cookie-size",
          "wine-cookie-any-scheme"},
         "host=1; sec=3; named=4" + wineExtra},
        {false,
         u"http://WWW.cookie-rules.com/docsx",
         u"",
         u"",
         "wide=2; named=4; both=5",
         {"wine-cookie-case"},
         "error 259"},
        {false,
         u"https://www.cookie-rules.com/",
         u"",
         u"",
         "wide=2; sec=3; named=4; both=5",
         {"wine-cookie-case", "wine-cookie-max-age", "wine-cookie-size", "wine-cookie-any-scheme"},
         "sec=3; named=4" + wineExtra},
        {false,
         u"http://sub.www.cookie-rules.com/docs/x",
         u"",
         u"",
         "wide=2",
         {"wine-cookie-host-only", "wine-cookie-case", "wine-secure-cookies", "wine-cookie-max-age",
          "wine-cookie-size", "wine-cookie-any-scheme"},
         "host=1; sec=3; named=4" + wineExtra},
        {false, u"http://cookie-rules.com/", u"wide", u"", "wide=2", {"wine-cookie-case"}, "error 259"},
        {false, u"http://www.cookie-rules.com/", u"sec", u"", "error 259", {"wine-secure-cookies"}, "sec=3"},
        {false, u"http://www.cookie-rules.com/", u"kept", u"", "error 259"},
        {false, u"http://co.uk/", u"", u"", "self=12", {"wine-cookie-public-suffix"}, "psl=10; self=12"},
        {false,
         u"http://www.co.uk/",
         u"",
         u"",
         "error 259",
         {"wine-cookie-public-suffix"},
         "psl=10; self=12"},
        {false,
         u"http://www.cookie-rules.co.uk/",
         u"",
         u"",
         "error 259",
         {"wine-cookie-public-suffix"},
         "psl=10; self=12"},
        {false, u"no url", u"", u"", "error 87"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.url) + " " + Narrow(row.name) + " " + Narrow(row.data.substr(0, 60)));
        bool differs = !row.keys.empty();
        for (const char* key : row.keys) differs = PlatformDifferences::Reason(key) && differs;
        const std::string& expected = differs ? row.differing : row.expected;
        if (row.set)
            EXPECT_EQ(SetCookie(row.url, row.name, row.data), expected);
        else
            EXPECT_EQ(GetCookie(row.url, row.name), expected);
    }
#if !defined(_WIN32)
    // Only the session cookies stay in the process; the others are in the
    // file the environment named.
    Corvane::CookieStore::StoreStatus status;
    ASSERT_EQ(Corvane::CookieStore::Status(&status), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(status.persistent) << status.problem;
    EXPECT_EQ(status.file, StoreFile().string());
    Corvane::Backend::CookieJar file(status.file);
    std::vector<std::string> persistent;
    for (const auto& c : file.All(Corvane::Backend::UnixNow())) persistent.push_back(c.name);
    EXPECT_EQ(persistent, std::vector<std::string>{"both"});
#endif
}
