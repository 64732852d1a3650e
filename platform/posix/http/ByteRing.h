// A first-in first-out byte buffer on one block used circularly: the body
// bytes libcurl delivered before a reader asked for them. Bytes are copied
// once in and once out; nothing is moved while the block has room, so a
// buffer that stays small also stays in the processor's cache.
#pragma once

#include <cstddef>
#include <memory>

namespace Corvane::Backend {

class ByteRing {
public:
    ByteRing() = default;
    ByteRing(const ByteRing&) = delete;
    ByteRing& operator=(const ByteRing&) = delete;

    std::size_t Size() const { return FSize; }
    bool Empty() const { return FSize == 0; }
    /// Bytes the block holds (0 before the first push).
    std::size_t Capacity() const { return FCapacity; }

    /// Appends `size` bytes; the block grows (keeping the order) only when
    /// they do not fit.
    void Push(const char* data, std::size_t size);
    /// Moves up to `size` of the oldest bytes to `out`; returns how many.
    std::size_t Pop(char* out, std::size_t size);
    /// Forgets every byte; the block stays for reuse.
    void Clear() { FHead = FSize = 0; }

private:
    void Grow(std::size_t needed);

    std::unique_ptr<char[]> FBlock;
    std::size_t FCapacity = 0;
    std::size_t FHead = 0;
    std::size_t FSize = 0;
};

}  // namespace Corvane::Backend
