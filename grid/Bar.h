#pragma once
// One bar of the grid: the cell it lies in and its properties byte, whose low two bits are the
// bar's rotation in quarter turns from +x towards +y. The other bits are carried but not read.

#include <cstdint>

#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

struct Bar {
    LumetraMath::vector<int, 2> _position{};
    std::uint8_t _properties = 0;

    /// Field tags of the serialized form (defined with the environment record).
    struct SerializerInternal;

    constexpr unsigned rotation() const { return _properties & 3u; }

    /// Same cell and the same whole properties byte.
    friend constexpr bool operator==(const Bar& a, const Bar& b) {
        return a._position == b._position && a._properties == b._properties;
    }
};

/// The order of bars inside catalogued groups: by x, then y, then rotation. Property bits above the
/// rotation play no part, so bars differing only there are equivalent.
constexpr bool operator<(const Bar& a, const Bar& b) {
    if (a._position.x != b._position.x) return a._position.x < b._position.x;
    if (a._position.y != b._position.y) return a._position.y < b._position.y;
    return a.rotation() < b.rotation();
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
