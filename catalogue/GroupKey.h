#pragma once
// Keys of groups of at most four bars, computed without allocating: the values Combination gives,
// for the inner loops of the feature catalogue.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "catalogue/Combination.h"
#include "grid/Bar.h"

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

/// The keys of a group under the turns 0 to 3 and its orders under them, a byte per turn and two
/// bits per place: bits 8·turn + 2k and 8·turn + 2k + 1 of `orders` hold TurnedGroupKey::order[k].
struct GroupKeysAndOrders {
    std::array<std::uint32_t, 4> keys{};
    std::uint32_t orders = 0;

    unsigned order(unsigned turn, std::size_t place) const { return orders >> (8 * turn + 2 * place) & 3u; }
};

/// turnedGroupKey under all four turns, for a group of one to four bars that fits in a 6 × 6 box, as
/// catalogued groups do; false for a group that does not, leaving `result` meaningless. The keys do
/// not depend on where the group lies, even at coordinates where turning would wrap.
/// Each turn orders the bars with a branch-free sorting network on small values (cell index,
/// position, turned rotation), the position keeping the order stable. Written into `result` in
/// place: callers keep it where it is needed, since a copy read right after its parts were written
/// stalls.
inline bool groupKeysAndOrders(std::span<const Bar> group, GroupKeysAndOrders& result) {
    const std::size_t count = group.size();
    std::int32_t minX = group[0]._position.x, minY = group[0]._position.y;
    for (const Bar& bar : group) {
        minX = std::min(minX, bar._position.x);
        minY = std::min(minY, bar._position.y);
    }
    // Offsets within the box; a missing bar repeats the first, so that every step has four lanes.
    std::uint32_t xs[largestGroupSize], ys[largestGroupSize], rotations[largestGroupSize];
    std::uint32_t width = 0, height = 0;
    for (std::size_t k = 0; k < largestGroupSize; ++k) {
        const Bar& bar = group[k < count ? k : 0];
        xs[k] = static_cast<std::uint32_t>(bar._position.x) - static_cast<std::uint32_t>(minX);
        ys[k] = static_cast<std::uint32_t>(bar._position.y) - static_cast<std::uint32_t>(minY);
        rotations[k] = bar.rotation();
        width = std::max(width, xs[k]);
        height = std::max(height, ys[k]);
    }
    if (width >= Combination::side || height >= Combination::side) return false;

    std::uint32_t orders = 0;  // kept apart from `result` until done: its stores could alias the bars
    const auto keyAndOrderUnder = [&]<unsigned turn>() {
        // cell index << 4 | position << 2 | turned rotation, for the cell turned by `turn` quarter
        // turns and shifted back into the box; missing bars sort last.
        const auto value = [&](std::size_t k) -> std::uint32_t {
            const std::uint32_t x = turn == 0 ? xs[k] : turn == 1 ? height - ys[k] : turn == 2 ? width - xs[k] : ys[k];
            const std::uint32_t y = turn == 0 ? ys[k] : turn == 1 ? xs[k] : turn == 2 ? height - ys[k] : width - xs[k];
            const std::uint32_t cell = x + Combination::side * y;
            return k < count ? cell << 4 | static_cast<std::uint32_t>(k) << 2 | ((rotations[k] + turn) & 3u) : ~0u;
        };
        std::uint32_t sorted[largestGroupSize] = {value(0), value(1), value(2), value(3)};
        const auto exchange = [&sorted](std::size_t a, std::size_t b) {
            const std::uint32_t low = std::min(sorted[a], sorted[b]);
            sorted[b] = std::max(sorted[a], sorted[b]);
            sorted[a] = low;
        };
        exchange(0, 1);
        exchange(2, 3);
        exchange(0, 2);
        exchange(1, 3);
        exchange(1, 2);
        std::uint32_t key = 0;
        for (std::size_t place = 0; place < largestGroupSize; ++place) {
            if (place == count) break;
            key += Combination::keyByte(sorted[place] & 3u, sorted[place] >> 4) << (8 * place);
            orders |= (sorted[place] >> 2 & 3u) << (8 * turn + 2 * place);
        }
        return key;
    };
    const std::uint32_t key0 = keyAndOrderUnder.template operator()<0>();
    const std::uint32_t key1 = keyAndOrderUnder.template operator()<1>();
    const std::uint32_t key2 = keyAndOrderUnder.template operator()<2>();
    const std::uint32_t key3 = keyAndOrderUnder.template operator()<3>();
    result.keys = {key0, key1, key2, key3};
    result.orders = orders;
    return true;
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
