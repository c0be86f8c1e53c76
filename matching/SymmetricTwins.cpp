#include "matching/SymmetricTwins.h"

#include <cstddef>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

bool hasEquallyGoodTwin(const LayoutSymmetries& layout, const std::vector<MarkerIndex>& numbers) {
    for (const LayoutSymmetry& symmetry : layout.symmetries) {
        const std::size_t markerCount = 3 * symmetry.image.size();
        std::size_t numbered = 0, carried = 0;
        for (const MarkerIndex number : numbers) {
            if (number >= markerCount) continue;
            ++numbered;
            if (symmetry.image[number / 3] >= 0) ++carried;
        }
        if (carried + 3 > numbered) return true;
    }
    return false;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
