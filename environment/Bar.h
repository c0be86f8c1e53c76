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
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
