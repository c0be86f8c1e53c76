#pragma once
// The three markers of one bar relative to the centre of its cell, for one quarter-turn rotation:
// first end marker, middle marker, last end marker.

#include <cstddef>

#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

struct BarGeometry {
    LumetraMath::vector<float, 2> markers[3]{};

    constexpr LumetraMath::vector<float, 2>& operator[](std::size_t k) { return markers[k]; }
    constexpr const LumetraMath::vector<float, 2>& operator[](std::size_t k) const { return markers[k]; }
};

/// Turns a plane point by `quarterTurns` (taken modulo 4) counter-clockwise; exact in floats.
constexpr LumetraMath::vector<float, 2> turnByQuarters(const LumetraMath::vector<float, 2>& p, unsigned quarterTurns) {
    switch (quarterTurns & 3u) {
        case 1: return {-p.y, p.x};
        case 2: return {-p.x, -p.y};
        case 3: return {p.y, -p.x};
        default: return p;
    }
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
