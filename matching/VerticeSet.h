#pragma once
// A set of pattern indices 0..63 in one 64-bit word, so that every set operation of the clique
// search is a single word operation.

#include <bit>
#include <cstdint>

struct VerticeSet {
    static constexpr unsigned long Capacity = 64;

    std::uint64_t bits = 0;

    static constexpr VerticeSet single(unsigned long index) { return {bitOf(index)}; }

    constexpr bool empty() const { return bits == 0; }
    constexpr bool contains(unsigned long index) const { return (bits & bitOf(index)) != 0; }
    constexpr void insert(unsigned long index) { bits |= bitOf(index); }
    constexpr void erase(unsigned long index) { bits &= ~bitOf(index); }
    constexpr bool isSubsetOf(VerticeSet other) const { return (bits & ~other.bits) == 0; }

    /// The lowest member not below `from`, or Capacity when there is none.
    constexpr unsigned long lowestAtOrAbove(unsigned long from) const {
        if (from >= Capacity) return Capacity;
        const std::uint64_t candidates = bits & (~std::uint64_t{0} << from);
        return static_cast<unsigned long>(std::countr_zero(candidates));
    }

    friend constexpr VerticeSet operator&(VerticeSet a, VerticeSet b) { return {a.bits & b.bits}; }
    friend constexpr VerticeSet operator|(VerticeSet a, VerticeSet b) { return {a.bits | b.bits}; }
    friend constexpr bool operator==(VerticeSet, VerticeSet) = default;

private:
    // Indices beyond the word belong to no set.
    static constexpr std::uint64_t bitOf(unsigned long index) {
        return index < Capacity ? std::uint64_t{1} << index : 0;
    }
};
