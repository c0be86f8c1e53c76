#pragma once
// The closing steps of an identification once a group of bars is placed on the field: the pose is
// refined by least squares, numbers the remaining rays, is refined again over every numbered ray,
// and must then pass every numbered ray close to its marker.

#include <optional>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "environment/Environment.h"
#include "math/Pose.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// Largest distance, in units of the smallest marker spacing, by which a numbered ray cast from the
/// pose fitted without it may pass its marker on the marker plane in a confirmed identification.
inline constexpr float confirmationMargin = 0.25f;

struct Identification {
    LumetraMath::poseP3Q<float> pose;
    std::vector<MarkerIndex> numbers;
    float largestMiss = 0;  ///< on the marker plane, in units of the smallest marker spacing; infinite when a ray fixes the pose alone
};

/// `numbers` holds the group's marker numbers and MarkerUnidentified for every other ray; `levelled`
/// is the pose the levelling gave. Nothing when the refinement fails (too few or collinear markers,
/// a non-finite or diverging result) or, with `steps.confirm`, when a numbered ray misses its
/// marker by more than the margin. Without `steps.refine` the levelled pose numbers the rest.
std::optional<Identification> completeIdentification(const Environment& environment,
                                                     const std::vector<LumetraMath::vector<float, 3>>& rays,
                                                     std::vector<MarkerIndex> numbers,
                                                     const LumetraMath::poseP3Q<float>& levelled,
                                                     const MatchSteps& steps);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
