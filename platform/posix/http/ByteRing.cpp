#include "posix/http/ByteRing.h"

#include <algorithm>
#include <cstring>

namespace Corvane::Backend {

namespace {

// The first block is a page: most bodies queued whole are short, and a
// request held open keeps its block. A long body doubles the ring a few
// times at its start.
constexpr std::size_t kFirstBlock = 4 << 10;

}  // namespace

// A larger block (twice the old one, at least `needed`), the bytes copied to
// its start in order. The new block is not zero-filled: every byte is
// written before it is read.
void ByteRing::Grow(std::size_t needed) {
    std::size_t capacity = std::max(kFirstBlock, FCapacity * 2);
    while (capacity < needed) capacity *= 2;
    std::unique_ptr<char[]> block(new char[capacity]);
    const std::size_t first = std::min(FSize, FCapacity - FHead);
    if (first) std::memcpy(block.get(), FBlock.get() + FHead, first);
    if (FSize > first) std::memcpy(block.get() + first, FBlock.get(), FSize - first);
    FBlock = std::move(block);
    FCapacity = capacity;
    FHead = 0;
}

void ByteRing::Push(const char* data, std::size_t size) {
    if (size == 0) return;
    if (FSize + size > FCapacity) Grow(FSize + size);
    if (FSize == 0) FHead = 0;  // an empty ring starts over at the block's start
    const std::size_t tail = (FHead + FSize) % FCapacity;
    const std::size_t first = std::min(size, FCapacity - tail);
    std::memcpy(FBlock.get() + tail, data, first);
    if (size > first) std::memcpy(FBlock.get(), data + first, size - first);
    FSize += size;
}

std::size_t ByteRing::Pop(char* out, std::size_t size) {
    const std::size_t n = std::min(size, FSize);
    if (n == 0) return 0;
    const std::size_t first = std::min(n, FCapacity - FHead);
    std::memcpy(out, FBlock.get() + FHead, first);
    if (n > first) std::memcpy(out + first, FBlock.get(), n - first);
    FHead = (FHead + n) % FCapacity;
    FSize -= n;
    if (FSize == 0) FHead = 0;
    return n;
}

}  // namespace Corvane::Backend
