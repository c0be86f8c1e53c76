// Placeholder until the match pipeline arrives: nothing is ever identified.

#include "environment/Environment.h"

#include <cmath>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

unsigned char directionToRotationId(const LumetraMath::vector<float, 2>& direction) {
    if (std::fabs(direction.x) > std::fabs(direction.y)) return direction.x > 0.0f ? 0 : 2;
    return direction.y > 0.0f ? 1 : 3;
}

bool Environment::match(const std::vector<Vector3>&, std::vector<MarkerIndex>&, LumetraMath::poseP3Q<float>&) const {
    return false;
}

std::optional<std::vector<unsigned long>> Environment::detectFeatures(const std::vector<Bar>&) const {
    return std::nullopt;
}

JuxtapositionResult Environment::juxtapose(const std::vector<Bar>&, std::vector<unsigned long>&) const { return {}; }

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
