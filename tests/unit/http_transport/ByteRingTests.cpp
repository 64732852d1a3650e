// The transport's body queue against a plain deque: bytes come out in the
// order they went in, across the block's end and through growth.
#include "posix/http/ByteRing.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

using Corvane::Backend::ByteRing;

TEST(ByteRing, KeepsOrderAcrossWrapsAndGrowth) {
    std::mt19937 random(20240611);
    ByteRing ring;
    std::deque<char> model;
    unsigned char next = 0;
    std::size_t mostHeld = 0;
    for (int step = 0; step < 4000; ++step) {
        // Pushes slightly outweigh pops, so the ring wraps often and grows
        // now and then while its bytes straddle the block's end.
        if (random() % 100 < 52) {
            std::vector<char> piece(random() % 20000);
            for (char& c : piece) c = static_cast<char>(next++);
            ring.Push(piece.data(), piece.size());
            model.insert(model.end(), piece.begin(), piece.end());
        } else {
            std::vector<char> out(random() % 20000);
            const std::size_t n = ring.Pop(out.data(), out.size());
            ASSERT_EQ(n, std::min(out.size(), model.size())) << "step " << step;
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(out[i], model.front()) << "step " << step << ", byte " << i;
                model.pop_front();
            }
        }
        ASSERT_EQ(ring.Size(), model.size());
        ASSERT_LE(ring.Size(), ring.Capacity());
        mostHeld = std::max(mostHeld, model.size());
        // It grows only for bytes that do not fit, by doubling.
        ASSERT_LE(ring.Capacity(), std::max<std::size_t>(64 << 10, 2 * mostHeld)) << "step " << step;
    }
    EXPECT_GT(mostHeld, std::size_t(64 << 10)) << "the ring had to grow";
}

TEST(ByteRing, ClearKeepsTheBlockAndStartsOver) {
    ByteRing ring;
    const std::vector<char> bytes(50000, 'x');
    ring.Push(bytes.data(), bytes.size());
    char sink[30000];
    ring.Pop(sink, sizeof(sink));
    ring.Push(bytes.data(), bytes.size());  // wraps
    const std::size_t block = ring.Capacity();
    ring.Clear();
    EXPECT_TRUE(ring.Empty());
    EXPECT_EQ(ring.Pop(sink, sizeof(sink)), 0u);
    const char text[] = "after clear";
    ring.Push(text, sizeof(text));
    char out[sizeof(text)] = {};
    EXPECT_EQ(ring.Pop(out, sizeof(out)), sizeof(text));
    EXPECT_STREQ(out, text);
    EXPECT_EQ(ring.Capacity(), block) << "no new block for a cleared ring";
}
