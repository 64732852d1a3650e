// The portable backend's cookie store: the file shared by processes, files
// it cannot use, and one store for the HTTP transport and the C API (the
// store's rules are in CookieRulesTests.cpp, which runs on Windows too).
#include "CookieCalls.h"
#include "HttpTestSupport.h"
#include "posix/cookies/CookieJar.h"
#include "posix/text/InternetDate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace HttpTest;
using CookieCalls::GetCookie;
using CookieCalls::SetCookie;
using Corvane::Backend::CookieJar;
namespace fs = std::filesystem;

namespace {

// A scratch folder removed when the process ends.
const fs::path& Scratch() {
    static const fs::path* const dir = [] {
        std::string pattern = (fs::temp_directory_path() / "corvane-cookies-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(Scratch(), ignored);
        });
        return new fs::path(pattern);  // never destroyed: the handler above uses it
    }();
    return *dir;
}

// The process's store starts empty in a file of this process's own, so that
// cookies from earlier runs and other test processes never count.
const bool kFreshStore = [] {
    ::setenv("CORVANE_COOKIE_FILE", (Scratch() / "process.sqlite").c_str(), 1);
    return true;
}();

// Runs the helper program with the store file `file`; its exit status.
int Helper(const fs::path& file, std::vector<std::string> args, std::string* out = nullptr) {
    const fs::path output =
        Scratch() / ("helper-" + std::to_string(::getpid()) + "-" +
                     std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id())));
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("CORVANE_COOKIE_FILE", file.c_str(), 1);
        if (!std::freopen(output.c_str(), "w", stdout)) ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(CORVANE_COOKIE_HELPER)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (out) {
        std::ifstream in(output);
        std::getline(in, *out);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// Two processes and this one on one file: each sees what the others
// committed, also right after a read of the same domain (which a lookup
// may answer from what it read before), and concurrent writers lose
// nothing.
TEST(CookieStore, SharedBetweenProcesses) {
    const fs::path path = Scratch() / "shared.sqlite";
    CookieJar mine(path.string());
    ASSERT_TRUE(mine.Status().persistent) << mine.Status().problem;
    const Corvane::Backend::CookieUrl url{"shared.example.com", "/", false};
    const std::int64_t now = Corvane::Backend::UnixNow();
    const char* site = "http://shared.example.com/";

    EXPECT_EQ(mine.Header(url, now), "");
    ASSERT_EQ(Helper(path, {"set", site, "theirs", "1; max-age=3600"}), 0);
    ASSERT_EQ(Helper(path, {"set", site, "session", "1"}), 0);
    EXPECT_EQ(mine.Header(url, now), "theirs=1") << "their persistent cookie, not their session one";
    ASSERT_TRUE(mine.Set(url, "mine=2; Max-Age=3600", true, Corvane::Backend::UnixNow()));
    EXPECT_EQ(mine.Header(url, now), "theirs=1; mine=2");
    std::string seen;
    ASSERT_EQ(Helper(path, {"get", site}, &seen), 0);
    EXPECT_EQ(seen, "theirs=1; mine=2");
    ASSERT_EQ(Helper(path, {"set", site, "theirs", "3; max-age=3600"}), 0);
    EXPECT_EQ(mine.Header(url, now), "theirs=3; mine=2");
    ASSERT_EQ(Helper(path, {"set", site, "theirs", "gone; max-age=0"}), 0);
    EXPECT_EQ(mine.Header({"other.example.org", "/", false}, now), "");
    EXPECT_EQ(mine.Header(url, now), "mine=2") << "after another domain's read";
    EXPECT_EQ(mine.Header(url, now + 2 * 3600), "") << "expired by then";

    int first = -1, second = -1;
    std::thread a([&] { first = Helper(path, {"many", "a", "1000"}); });
    std::thread b([&] { second = Helper(path, {"many", "b", "1000"}); });
    a.join();
    b.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    std::size_t many = 0;
    for (const auto& c : mine.All(now))
        if (c.name == "n") ++many;
    EXPECT_EQ(many, 2000u);
}

// Past the per-domain limit the least recently used cookie goes, kept in
// memory (session cookies) or in the file (persistent ones): one read of
// the oldest saves it, and the next oldest goes instead.
TEST(CookieStore, AFullDomainDropsItsLeastRecentlyUsedCookie) {
    using Corvane::Backend::CookieUrl;
    for (const bool persistent : {false, true}) {
        const fs::path file = Scratch() / "evict.sqlite";
        fs::remove(file);
        CookieJar jar(file.string());
        const std::string lasting = persistent ? "; Max-Age=1000000" : "";
        const CookieUrl keep{"keep.example.test", "/", false};
        const CookieUrl site{"www.example.test", "/", false};
        const std::int64_t start = 1700000000;
        ASSERT_TRUE(jar.Set(keep, "c0=v" + lasting, true, start));
        for (std::size_t i = 1; i < CookieJar::kMaxPerDomain; ++i)
            ASSERT_TRUE(jar.Set(site, "c" + std::to_string(i) + "=v" + lasting, true, start + i));
        // Reads refresh a cookie's last use only a while after the last one
        // (a minute), so the steps are far apart.
        ASSERT_EQ(jar.Matching(keep, true, start + 1000).size(), 1u);
        ASSERT_TRUE(jar.Set(site, "last=v" + lasting, true, start + 2000));
        std::set<std::string> names;
        for (const auto& c : jar.Matching(site, true, start + 3000)) names.insert(c.name);
        SCOPED_TRACE(persistent ? "persistent" : "session");
        EXPECT_EQ(jar.Matching(keep, true, start + 3000).size(), 1u);
        EXPECT_EQ(names.count("c1"), 0u);
        EXPECT_EQ(names.count("c2"), 1u);
        EXPECT_EQ(names.count("last"), 1u);
        EXPECT_EQ(jar.All(start + 3000).size(), CookieJar::kMaxPerDomain);
    }
}

// A file the store cannot use leaves it working in memory, says why, and
// is left as it was.
TEST(CookieStore, UnusableFilesAreSurvived) {
    const fs::path corrupt = Scratch() / "corrupt.sqlite";
    std::ofstream(corrupt) << std::string(8192, 'x');
    // A file of a later schema: the version is in the header, at byte 60.
    const fs::path newer = Scratch() / "newer.sqlite";
    {
        CookieJar made(newer.string());
        ASSERT_TRUE(made.Status().persistent);
    }
    {
        std::fstream header(newer, std::ios::in | std::ios::out | std::ios::binary);
        header.seekp(60);
        header.write("\0\0\0\x63", 4);
    }
    const fs::path notAFolder = Scratch() / "corrupt.sqlite" / "cookies.sqlite";
    const fs::path readOnly = Scratch() / "read-only.sqlite";
    { CookieJar made(readOnly.string()); }
    fs::permissions(readOnly, fs::perms::owner_read);
    for (const fs::path& file : {corrupt, newer, notAFolder, readOnly}) {
        SCOPED_TRACE(file.string());
        if (file == readOnly && ::geteuid() == 0) continue;  // root writes anyway
        const auto before = fs::exists(file) ? fs::file_size(file) : 0;
        CookieJar jar(file.string());
        EXPECT_FALSE(jar.Status().persistent);
        EXPECT_NE(jar.Status().problem, "");
        const Corvane::Backend::CookieUrl url{"example.org", "/", false};
        EXPECT_TRUE(jar.Set(url, "kept=1; Max-Age=60", true, 1000));
        EXPECT_EQ(jar.Header(url, 1001), "kept=1");
        if (fs::exists(file)) {
            EXPECT_EQ(fs::file_size(file), before);
        }
    }
}

// Cookies set through the C API go out with requests; those a response
// sets come back through it, except HttpOnly ones; the request reports both
// ways in its notifications.
TEST(CookieStore, HttpTransportAndCApiShareTheStore) {
    static std::vector<std::pair<DWORD, DWORD>> notes;
    const auto record = [](HINTERNET, DWORD_PTR, DWORD status, LPVOID data, DWORD length) {
        if ((status == INTERNET_STATUS_COOKIE_SENT || status == INTERNET_STATUS_COOKIE_RECEIVED) &&
            length == sizeof(DWORD))
            notes.emplace_back(status, *static_cast<DWORD*>(data));
    };
    const std::u16string base = Wide(TestServers::Setting("CORVANE_ECHO_URL"));
    ASSERT_EQ(SetCookie(base + u"/", u"api", u"1; path=/"), "ok");

    const Handle session = OpenSession();
    const Handle connection = Connect(session.get(), Echo());
    ASSERT_NE(InternetSetStatusCallbackW(connection.get(), record), INTERNET_INVALID_STATUS_CALLBACK);
    {
        const Handle set =
            Open(connection.get(), u"GET",
                 u"/set-cookie?wire=2%3B%20Path%3D%2F&hidden=3%3B%20HttpOnly%3B%20Path%3D%2F", 0, 1);
        ASSERT_TRUE(Send(set.get()));
        ReadAll(set.get());
    }
    EXPECT_EQ(notes, (std::vector<std::pair<DWORD, DWORD>>{{INTERNET_STATUS_COOKIE_SENT, 1},
                                                           {INTERNET_STATUS_COOKIE_RECEIVED, 2}}));
    EXPECT_EQ(GetCookie(base + u"/", u""), "api=1; wire=2");
    EXPECT_EQ(GetCookie(base + u"/", u"hidden"), "error 259");
    EXPECT_EQ(SetCookie(base + u"/", u"hidden", u"4; path=/"), "error 4317")
        << "no replacing an HttpOnly cookie";

    notes.clear();
    const Handle get = Open(connection.get(), u"GET", u"/cookies", 0, 1);
    ASSERT_TRUE(Send(get.get()));
    EXPECT_EQ(ReadAll(get.get()), "api=1; wire=2; hidden=3\n");
    const Handle without = Open(connection.get(), u"GET", u"/cookies", INTERNET_FLAG_NO_COOKIES, 1);
    ASSERT_TRUE(Send(without.get()));
    EXPECT_EQ(ReadAll(without.get()), "");
    EXPECT_EQ(notes, (std::vector<std::pair<DWORD, DWORD>>{{INTERNET_STATUS_COOKIE_SENT, 3}}));
}
