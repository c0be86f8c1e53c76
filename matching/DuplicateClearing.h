#pragma once
// Two rays can never show the same marker; when they claim to, neither claim can be trusted.

#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// Clears colliding marker numbers: equal entries cancel in pairs in the order of the entries
/// (both set to 0xFFFFFFFF), so an odd count leaves the last of them standing. Entries above
/// 0xFFFFFFF0 are status codes and never change. Returns whether any pair collided.
/// O(n log n); the result equals comparing every entry with every later one in order.
bool clearDuplicateMarkers(std::vector<MarkerIndex>& entries);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
