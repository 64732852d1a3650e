// The portable backend's cookie store under load:
//
//   corvane_cookie_bench DIR
//
// with its store file in DIR (made fresh): the time to read the cookies of
// one URL through InternetGetCookieW while the store holds 1,000, then
// 100,000, then 1,000,000 persistent cookies of other domains, each its own
// registrable domain, and of a read repeated with the file unchanged; then
// the time to set 10,000 persistent cookies through InternetSetCookieW
// (each a change of the file of its own) into that full store. Prints one
// line per figure and the ratio of the slowest read to the fastest; exits
// with 1 when the ratio is above 3 or the sets take more than 2 seconds, or
// when a read gives the wrong cookies.
#include <Platform/WinInet.h>

#include "posix/cookies/CookieJar.h"
#include "posix/text/InternetDate.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using Corvane::Backend::Cookie;
using Corvane::Backend::CookieJar;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kReads = 2000;
constexpr int kSets = 10000;
constexpr double kMaxReadRatio = 3.0;
constexpr double kMaxSetSeconds = 2.0;

const char16_t kTarget[] = u"http://www.target.example.com/app/page";
const char kExpected[] = "p0=v0; p1=v1; p2=v2; s0=v0; s1=v1";
// A domain with no cookies.
const char16_t kOther[] = u"http://www.other.example.net/";

// Adds persistent cookies of other domains until the store holds `total`,
// in batches of one change each.
void Fill(std::size_t& held, std::size_t total) {
    const std::int64_t now = Corvane::Backend::UnixNow();
    while (held < total) {
        std::vector<Cookie> batch;
        for (; held < total && batch.size() < 50000; ++held) {
            Cookie c;
            c.name = "filler";
            c.value = std::to_string(held);
            c.domain = "d" + std::to_string(held) + ".example";
            c.path = "/";
            c.expiry = now + 86400;
            c.creation = c.lastAccess = now;
            c.persistent = true;
            batch.push_back(std::move(c));
        }
        CookieJar::Process().Insert(std::move(batch));
    }
}

// The median time of one read of the target's cookies, in microseconds.
// The store keeps its last read of a domain while the file is unchanged:
// unless `again`, each timed read follows a read of another domain, so
// that it reads the file.
double ReadMicros(bool again) {
    std::vector<double> times;
    char16_t buffer[256];
    for (int i = 0; i < kReads; ++i) {
        DWORD size = sizeof(buffer) / sizeof(buffer[0]);
        if (!again) InternetGetCookieW(kOther, u"", buffer, &size);
        size = sizeof(buffer) / sizeof(buffer[0]);
        const auto start = Clock::now();
        const BOOL ok = InternetGetCookieW(kTarget, u"", buffer, &size);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (!ok || std::u16string(buffer) != std::u16string(kExpected, kExpected + sizeof(kExpected) - 1)) {
            std::fprintf(stderr, "cookie bench: wrong cookies for the target URL\n");
            std::exit(1);
        }
    }
    std::nth_element(times.begin(), times.begin() + kReads / 2, times.end());
    return times[kReads / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane_cookie_bench DIR\n");
        return 2;
    }
    const std::filesystem::path file = std::filesystem::path(argv[1]) / "cookies.sqlite";
    std::filesystem::create_directories(argv[1]);
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + suffix);
    ::setenv("CORVANE_COOKIE_FILE", file.c_str(), 1);

    // The target's own cookies: three in the file, two in the process.
    for (int i = 0; i < 3; ++i) {
        const std::u16string n = u"p" + std::u16string(1, u'0' + i), v = u"v" + std::u16string(1, u'0' + i);
        InternetSetCookieW(kTarget, n.c_str(), (v + u"; path=/; max-age=86400").c_str());
    }
    for (int i = 0; i < 2; ++i) {
        const std::u16string n = u"s" + std::u16string(1, u'0' + i), v = u"v" + std::u16string(1, u'0' + i);
        InternetSetCookieW(kTarget, n.c_str(), (v + u"; path=/").c_str());
    }
    if (!CookieJar::Process().Status().persistent) {
        std::fprintf(stderr, "cookie bench: %s\n", CookieJar::Process().Status().problem.c_str());
        return 1;
    }

    std::size_t held = 0;
    std::vector<double> reads;
    for (const std::size_t total : {1000u, 100000u, 1000000u}) {
        Fill(held, total);
        reads.push_back(ReadMicros(false));
        std::printf("read with %zu other cookies: %.1f us (median of %d)\n", total, reads.back(), kReads);
    }
    std::printf("read again, the file unchanged: %.1f us (median of %d)\n", ReadMicros(true), kReads);
    const double ratio = reads.back() / reads.front();
    std::printf("read ratio 1,000,000 / 1,000: %.2f (at most %.0f)\n", ratio, kMaxReadRatio);

    const auto start = Clock::now();
    for (int i = 0; i < kSets; ++i) {
        const std::u16string url = u"http://set" + std::u16string(1, u'a' + i % 26) +
                                   std::u16string(1, u'a' + i / 26 % 26) + std::u16string(1, u'a' + i / 676) +
                                   u".example/";
        if (!InternetSetCookieW(url.c_str(), u"k", u"1; max-age=86400")) {
            std::fprintf(stderr, "cookie bench: set failed: %u\n", static_cast<unsigned>(GetLastError()));
            return 1;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("set %d persistent cookies: %.2f s (at most %.0f s)\n", kSets, seconds, kMaxSetSeconds);
    return ratio <= kMaxReadRatio && seconds <= kMaxSetSeconds ? 0 : 1;
}
