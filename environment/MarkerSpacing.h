#pragma once
// The smallest distance between two points of a marker layout.

#include <vector>

#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// Square root of the smallest (xi − xj)² + (yi − yj)² over all pairs i ≠ j, each term evaluated in
/// single precision in exactly that form, so the value is the one an exhaustive pair search gives
/// (+∞ if no pair has a finite squared distance). Fewer than two points give 0.5.
/// Runs a sweep over the points sorted by x in O(n log n) for spread-out layouts.
float smallestMarkerDistance(const std::vector<LumetraMath::vector<float, 2>>& points);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
