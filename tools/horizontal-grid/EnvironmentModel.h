#pragma once
// The designer's view of an environment, built with the library's own classes: the environment
// object, its markers and the figures of its feature catalogue.

#include <cstddef>
#include <map>
#include <optional>

#include "environment/Environment.h"
#include "environment/EnvironmentRecord.h"
#include "interface/InterfacePtr.h"

namespace Lumetra::Tools {

using Vesk::Environment::HorizontalGrid::Environment;
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;
using EnvironmentPtr = InterfaceContract::InterfacePtr<Environment>;

/// The environment of a valid description, as createEnvironment builds it.
EnvironmentPtr buildEnvironment(const EnvironmentDescription& description);

struct CatalogueFigures {
    std::map<std::size_t, std::size_t> uniqueFeaturesBySize;  ///< bars in a feature → number of such features
    std::size_t uniqueFeatures = 0;
    std::optional<std::size_t> smallestFeatureSize;  ///< none when nothing is unique
    std::size_t barsInFeatures = 0;                  ///< bars that belong to at least one unique feature
    float markerSpacing = 0;                         ///< smallest distance between two markers
    LumetraMath::vector<float, 3> markerEllipse{};   ///< (t00, t11, t01)
};

CatalogueFigures catalogueFigures(const Environment& environment);

/// Rotation in degrees of a bar's quarter turns.
inline int rotationDegrees(unsigned rotation) { return static_cast<int>(rotation) * 90; }

}  // namespace Lumetra::Tools
