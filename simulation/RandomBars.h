#pragma once
// Random bar layouts for property tests of the field and the feature catalogue.

#include <cstdint>
#include <random>
#include <vector>

#include "grid/Bar.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid::Testing {

/// Each cell of a width × height grid holds a bar with probability `density`, with a random rotation
/// and random upper property bits; bars are listed in a random order.
std::vector<Bar> randomLayout(std::mt19937& random, int width, int height, double density);

/// `count` bars on distinct random cells of a width × height area (count ≤ width · height).
std::vector<Bar> randomBars(std::mt19937& random, int width, int height, std::size_t count);

/// The bars moved by (dx, dy).
std::vector<Bar> moved(std::vector<Bar> bars, int dx, int dy);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid::Testing
