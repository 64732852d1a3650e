/// \file
/// TSet<E>: a set of the elements of an enumeration, kept as a 64-bit mask.
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
    /// The enumeration whose elements the set holds.
    using Element = E;

    constexpr TSet() noexcept = default;
    /// The set of the listed elements ({} is the empty set).
    constexpr TSet(std::initializer_list<E> elements) {
        for (E item : elements) FMask |= Bit(item);
    }

    /// The set whose members are the bits of Mask.
    static constexpr TSet FromMask(std::uint64_t mask) noexcept {
        TSet result;
        result.FMask = mask;
        return result;
    }
    /// The members as bits: bit N stands for the element of value N.
    constexpr std::uint64_t ToMask() const noexcept { return FMask; }

    /// Adds Item; returns this set.
    constexpr TSet& Include(E item) {
        FMask |= Bit(item);
        return *this;
    }
    /// Removes Item; returns this set.
    constexpr TSet& Exclude(E item) {
        FMask &= ~Bit(item);
        return *this;
    }
    /// Whether Item is a member.
    constexpr bool Contains(E item) const { return (FMask & Bit(item)) != 0; }
    /// Whether the set has no members.
    constexpr bool Empty() const noexcept { return FMask == 0; }
    /// Number of elements in the set.
    constexpr int Count() const noexcept {
        int n = 0;
        for (std::uint64_t m = FMask; m != 0; m &= m - 1) ++n;
        return n;
    }

    /// Union.
    friend constexpr TSet operator+(TSet a, TSet b) noexcept { return FromMask(a.FMask | b.FMask); }
    /// Difference: the members of A that are not in B.
    friend constexpr TSet operator-(TSet a, TSet b) noexcept { return FromMask(a.FMask & ~b.FMask); }
    /// Intersection.
    friend constexpr TSet operator*(TSet a, TSet b) noexcept { return FromMask(a.FMask & b.FMask); }
    friend constexpr bool operator==(TSet a, TSet b) noexcept { return a.FMask == b.FMask; }

    /// Adds the members of Other.
    constexpr TSet& operator+=(TSet other) noexcept { return *this = *this + other; }
    /// Removes the members of Other.
    constexpr TSet& operator-=(TSet other) noexcept { return *this = *this - other; }
    /// Keeps only the members also in Other.
    constexpr TSet& operator*=(TSet other) noexcept { return *this = *this * other; }

    /// True when every member of this set is also in Other.
    constexpr bool SubsetOf(TSet other) const noexcept { return (FMask & ~other.FMask) == 0; }

private:
    // The mask bit of one element; rejects ordinals a 64-bit mask cannot hold.
    static constexpr std::uint64_t Bit(E item) {
        const auto ordinal = static_cast<long long>(static_cast<std::underlying_type_t<E>>(item));
        if (ordinal < 0 || ordinal >= 64) throw std::out_of_range("TSet element ordinal outside [0, 64)");
        return std::uint64_t{1} << ordinal;
    }

    std::uint64_t FMask = 0;
};

}  // namespace Framework
