#pragma once
// Keys of groups of at most four bars, computed without allocating: the values Combination gives,
// for the inner loops of the feature catalogue.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "environment/Bar.h"
#include "environment/Combination.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// Catalogued groups hold one to four bars.
inline constexpr std::size_t largestGroupSize = 4;

struct TurnedGroupKey {
    unsigned long key = 0;
    /// order[k]: position in the group of the bar at place k (as Combination::order).
    std::array<std::uint8_t, largestGroupSize> order{};
};

/// Whether the group's cells fit in a 6 × 6 box, the largest a catalogued group may span.
inline bool fitsInFeatureWindow(std::span<const Bar> group) {
    if (group.empty()) return true;
    std::int64_t minX = group[0]._position.x, maxX = minX, minY = group[0]._position.y, maxY = minY;
    for (const Bar& bar : group) {
        minX = std::min<std::int64_t>(minX, bar._position.x);
        maxX = std::max<std::int64_t>(maxX, bar._position.x);
        minY = std::min<std::int64_t>(minY, bar._position.y);
        maxY = std::max<std::int64_t>(maxY, bar._position.y);
    }
    return maxX - minX < Combination::side && maxY - minY < Combination::side;
}

/// Combination(group, turn).key and .order for a group of at most four bars and a turn of 0 to 3.
inline TurnedGroupKey turnedGroupKey(std::span<const Bar> group, unsigned turn) {
    const auto c = static_cast<std::uint32_t>(Combination::cosOverHalfPi[turn]);
    const auto s = static_cast<std::uint32_t>(Combination::sinOverHalfPi[turn]);
    const std::size_t count = group.size();
    std::array<std::uint32_t, largestGroupSize> xs{}, ys{}, cells{};
    std::int32_t minX = 0, minY = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const auto x = static_cast<std::uint32_t>(group[k]._position.x);
        const auto y = static_cast<std::uint32_t>(group[k]._position.y);
        xs[k] = c * x - s * y;
        ys[k] = s * x + c * y;
        const auto signedX = static_cast<std::int32_t>(xs[k]), signedY = static_cast<std::int32_t>(ys[k]);
        if (k == 0 || signedX < minX) minX = signedX;
        if (k == 0 || signedY < minY) minY = signedY;
    }
    TurnedGroupKey result;
    for (std::size_t k = 0; k < count; ++k) {
        cells[k] = (xs[k] - static_cast<std::uint32_t>(minX)) +
                   Combination::side * (ys[k] - static_cast<std::uint32_t>(minY));
        result.order[k] = static_cast<std::uint8_t>(k);
    }
    // Insertion sort: stable, like Combination's, for bars sharing a cell.
    for (std::size_t i = 1; i < count; ++i)
        for (std::size_t j = i; j > 0 && cells[result.order[j - 1]] > cells[result.order[j]]; --j)
            std::swap(result.order[j - 1], result.order[j]);
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t from = result.order[k];
        result.key += Combination::keyTerm(Combination::keyByte(group[from].rotation() + turn, cells[from]), k);
    }
    return result;
}

/// The group's keys under the turns 0 to 3.
inline std::array<unsigned long, 4> groupKeys(std::span<const Bar> group) {
    return {turnedGroupKey(group, 0).key, turnedGroupKey(group, 1).key, turnedGroupKey(group, 2).key,
            turnedGroupKey(group, 3).key};
}

/// False when the group looks the same after some turn, so that seeing it cannot tell the turn.
template <typename Key>
bool allDifferent(const std::array<Key, 4>& keys) {
    for (std::size_t a = 0; a < keys.size(); ++a)
        for (std::size_t b = a + 1; b < keys.size(); ++b)
            if (keys[a] == keys[b]) return false;
    return true;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
