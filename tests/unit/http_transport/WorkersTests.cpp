// The asynchronous mode's worker pool: work posted from anywhere runs, and
// a stop leaves nothing behind for the next session.
#include "posix/async/Workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace Workers = Corvane::Backend::Workers;
using namespace std::chrono_literals;

namespace {

bool WaitUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

}  // namespace

TEST(WorkersTest, PostedWorkAlwaysRunsAcrossStops) {
    // Chains of work that posts its successor, as a completion starts the
    // next operation: each link is posted while a thread looks for work or
    // sleeps, and none may be left in the queue.
    Workers::Retain();
    std::atomic<int> ran{0};
    std::function<void(int)> link = [&](int left) {
        ++ran;
        if (left > 0) {
            EXPECT_TRUE(Workers::Post([&link, left] { link(left - 1); }));
        }
    };
    for (int chain = 0; chain < 4; ++chain) ASSERT_TRUE(Workers::Post([&link] { link(300); }));
    EXPECT_TRUE(WaitUntil([&] { return ran == 4 * 301; })) << ran;
    Workers::Release();
    EXPECT_EQ(Workers::ThreadCount(), 0u);

    // A session opened as the last one closes, while a thread of the
    // stopped pool may still be looking for work: what it posts gets a
    // thread of its own.
    for (int attempt = 0; attempt < 50; ++attempt) {
        Workers::Retain();
        std::atomic<bool> first{false}, second{false};
        std::size_t threads = 0;
        std::thread next([&] {
            while (!first || Workers::ThreadCount() != 0) std::this_thread::yield();
            Workers::Retain();
            EXPECT_TRUE(Workers::Post([&] {
                std::this_thread::sleep_for(2ms);
                second = true;
            }));
            threads = Workers::ThreadCount();
        });
        ASSERT_TRUE(Workers::Post([&] { first = true; }));
        while (!first) std::this_thread::yield();  // the thread now looks for more
        Workers::Release();
        next.join();
        EXPECT_GT(threads, 0u) << "attempt " << attempt;
        EXPECT_TRUE(WaitUntil([&] { return second.load(); }));
        Workers::Release();
    }
    EXPECT_EQ(Workers::ThreadCount(), 0u);
}
