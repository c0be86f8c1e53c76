#include "tools/horizontal-grid/SymmetryWarning.h"

#include <string>

#include <fmt/core.h>

namespace Lumetra::Tools {

void warnIfLayoutRepeats(const Environment& environment) {
    const auto& layout = environment.getLayoutSymmetries();
    if (!layout.examined) {
        fmt::print(stderr, "lumetra-horizontal-grid: note: the layout is too large to be checked for repeats\n");
        return;
    }
    if (layout.symmetries.empty()) return;
    std::string motions;
    for (const auto& symmetry : layout.symmetries) {
        if (!motions.empty()) motions += ", ";
        motions += symmetry.turn == 0 ? "" : fmt::format("a turn of {} deg then ", rotationDegrees(symmetry.turn));
        motions += fmt::format("a shift of ({}, {}) cells ({} of {} bars)", symmetry.shift.x, symmetry.shift.y,
                               symmetry.matched, symmetry.inside);
    }
    fmt::print(stderr,
               "lumetra-horizontal-grid: warning: the layout repeats itself under {}: views that such a motion "
               "explains as well cannot be placed, and identify refuses them\n",
               motions);
}

}  // namespace Lumetra::Tools
