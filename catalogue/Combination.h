#pragma once
// A small group of bars in canonical form: turned by whole quarter turns, shifted so that its
// smallest coordinates are zero, ordered by cell, and summarised by a 64-bit key. Equal keys mean
// the same pattern of cells and bar rotations, wherever the groups lie.

#include <array>
#include <cstdint>
#include <vector>

#include "grid/Bar.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Combination {
public:
    static constexpr std::array<std::int32_t, 4> cosOverHalfPi{1, 0, -1, 0};
    static constexpr std::array<std::int32_t, 4> sinOverHalfPi{0, 1, 0, -1};
    /// Catalogued groups fit in a square of this many cells; a shifted cell (x, y) has the index x + 6·y.
    static constexpr std::uint32_t side = 6;

    /// The canonical form of `bars` turned by `rotation` quarter turns (its low byte, 0 to 3; anything
    /// else throws std::invalid_argument).
    Combination(const std::vector<Bar>& bars, int rotation);

    /// The bar turned about the grid origin by `rotation` quarter turns (0 to 3, else
    /// std::invalid_argument); the properties byte keeps only the turned rotation. Coordinates wrap in
    /// 32 bits rather than overflow.
    static Bar rotateBar(const Bar& bar, unsigned char rotation);

    /// The key of `bars`: byte k (modulo 64 bits) holds rotation + 4·(x + 6·y) of the bar at place k.
    unsigned long calculateKey() const;

    /// Byte of one bar of a key, and its term at place k.
    static constexpr std::uint32_t keyByte(unsigned rotation, std::uint32_t cellIndex) {
        return (rotation & 3u) + 4u * cellIndex;
    }
    static constexpr unsigned long keyTerm(std::uint32_t byte, std::size_t place) {
        return static_cast<unsigned long>(byte) << ((8 * place) & 63);
    }

    unsigned long key = 0;
    /// The turned, shifted bars in ascending cell index.
    std::vector<Bar> bars;
    /// The given bars in the same order as `bars`.
    std::vector<Bar> sourceBars;
    /// order[k]: position in the given vector of the bar at place k.
    std::vector<unsigned long> order;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
