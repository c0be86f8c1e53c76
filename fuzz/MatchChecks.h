#pragma once
// Calls of match and matchByPosition through the IEnvironment face, checked against what every
// answer must satisfy: the call succeeds, the allocator is called once, every index is a marker
// number of the environment or one of the two special values, and no marker number is given to
// two rays. A false match leaves the pose alone unless it was refused because two rays ended on
// one marker; then the indices come with the colliding entries cleared.

#include <cstddef>
#include <vector>

#include "fuzz/InProcessLibrary.h"

namespace LumetraFuzz {

void checkMarkerIndices(const std::vector<MarkerIndex>& indices, std::size_t markerCount);

/// Calls match; aborts on a broken invariant.
void checkedMatch(IEnvironment& environment, std::size_t markerCount, const std::vector<Vector3>& rays);

/// Calls matchByPosition; aborts on a broken invariant, else returns the indices.
std::vector<MarkerIndex> checkedMatchByPosition(IEnvironment& environment, std::size_t markerCount,
                                                const std::vector<Vector3>& rays, const Vector3& position);

}  // namespace LumetraFuzz
