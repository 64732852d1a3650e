// TSet<E>: a set of the elements of an enumeration, kept as a 64-bit mask.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <type_traits>

namespace Framework {

/// A set over an enumeration whose ordinals lie in [0, 64). Bit i of the mask
/// stands for the element with ordinal i, so FromMask/ToMask exchange sets
/// with code that keeps them as bit masks. Including an element whose ordinal
/// is outside [0, 64) throws std::out_of_range.
///
///     TSet<TSessionFlag> Flags{flOffline, flAsync};
///     if (Flags.Contains(flAsync)) ...
template <class E>
class TSet {
    static_assert(std::is_enum_v<E>, "TSet needs an enumeration type");

public:
    using Element = E;

    constexpr TSet() noexcept = default;
    constexpr TSet(std::initializer_list<E> Elements) {
        for (E Item : Elements) FMask |= Bit(Item);
    }

    /// The set whose members are the bits of Mask.
    static constexpr TSet FromMask(std::uint64_t Mask) noexcept {
        TSet Result;
        Result.FMask = Mask;
        return Result;
    }
    constexpr std::uint64_t ToMask() const noexcept { return FMask; }

    constexpr TSet& Include(E Item) {
        FMask |= Bit(Item);
        return *this;
    }
    constexpr TSet& Exclude(E Item) {
        FMask &= ~Bit(Item);
        return *this;
    }
    constexpr bool Contains(E Item) const {
        return (FMask & Bit(Item)) != 0;
    }
    constexpr bool Empty() const noexcept { return FMask == 0; }
    /// Number of elements in the set.
    constexpr int Count() const noexcept {
        int N = 0;
        for (std::uint64_t M = FMask; M != 0; M &= M - 1) ++N;
        return N;
    }

    /// Union.
    friend constexpr TSet operator+(TSet A, TSet B) noexcept { return FromMask(A.FMask | B.FMask); }
    /// Difference: the members of A that are not in B.
    friend constexpr TSet operator-(TSet A, TSet B) noexcept { return FromMask(A.FMask & ~B.FMask); }
    /// Intersection.
    friend constexpr TSet operator*(TSet A, TSet B) noexcept { return FromMask(A.FMask & B.FMask); }
    friend constexpr bool operator==(TSet A, TSet B) noexcept { return A.FMask == B.FMask; }

    constexpr TSet& operator+=(TSet Other) noexcept { return *this = *this + Other; }
    constexpr TSet& operator-=(TSet Other) noexcept { return *this = *this - Other; }
    constexpr TSet& operator*=(TSet Other) noexcept { return *this = *this * Other; }

    /// True when every member of this set is also in Other.
    constexpr bool SubsetOf(TSet Other) const noexcept { return (FMask & ~Other.FMask) == 0; }

private:
    // The mask bit of one element; rejects ordinals a 64-bit mask cannot hold.
    static constexpr std::uint64_t Bit(E Item) {
        const auto Ordinal = static_cast<long long>(static_cast<std::underlying_type_t<E>>(Item));
        if (Ordinal < 0 || Ordinal >= 64) throw std::out_of_range("TSet element ordinal outside [0, 64)");
        return std::uint64_t{1} << Ordinal;
    }

    std::uint64_t FMask = 0;
};

}  // namespace Framework
