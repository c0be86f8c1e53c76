#pragma once
// Layouts that repeat themselves. The catalogue keeps the groups of bars that occur once, but a
// layout that is periodic, or turned onto itself, lets a whole view of it fit two places equally
// well: every bar of one place has a bar of the same pattern at the other. Such motions of the
// grid are found beside the catalogue, so that a view they explain twice is not taken for one place.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "grid/Field.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// A motion of the grid's cells, a quarter turn and then a shift, that carries most of a layout's
/// bars onto bars of the layout with their rotations turned alike.
struct LayoutSymmetry {
    int turn = 0;                           ///< quarter turns counter-clockwise, 0..3
    LumetraMath::vector<int, 2> shift{};    ///< cells, added after the turn
    std::size_t matched = 0;                ///< bars carried onto a bar
    std::size_t inside = 0;                 ///< bars carried into the grid
    std::vector<std::int64_t> image;        ///< per bar: list position of the bar it is carried onto, or −1
};

struct LayoutSymmetries {
    /// Motions that carry at least `minimumMatched` bars, and at least `minimumShare` of those they
    /// carry into the grid, onto bars; the identity is not one.
    std::vector<LayoutSymmetry> symmetries;
    /// False when the layout was too large to examine (see findLayoutSymmetries).
    bool examined = true;
};

inline constexpr std::size_t symmetryMinimumMatched = 4;
inline constexpr double symmetryMinimumShare = 0.75;

/// The symmetries of the field's layout. Every pair of bars votes for the one motion that carries
/// the first onto the second; the work grows with the square of the bars, so layouts of more than
/// 4096 bars, or grids more than 512 cells across, are not examined.
LayoutSymmetries findLayoutSymmetries(const Field& field);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
