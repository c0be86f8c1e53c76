#pragma once
// The bar geometries that matching is tried on, with layouts that suit them, and views of those
// layouts from random tracker poses. Shared by the end-to-end tests and the benchmarks.

#include <cstddef>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "environment/Environment.h"
#include "environment/EnvironmentRecord.h"
#include "interface/InterfacePtr.h"
#include "simulation/FrameGenerator.h"

namespace Lumetra::Testing {

struct MatchGeometry {
    std::string name;
    Vesk::Environment::HorizontalGrid::EnvironmentDescription geometry;  ///< everything but size and bars
    int minSpacing;    ///< bars of long geometries reach into neighbouring cells and must stay apart
    double fill;       ///< chance that an admissible cell takes a bar
    double minDistance;  ///< range of the tracker's distance from the marker plane
    double maxDistance;
    /// Cells that must stay free between two bars in line (along either bar); below minSpacing,
    /// minSpacing holds.
    int inLineSpacing = 0;
};

/// For readable test names and messages.
void PrintTo(const MatchGeometry& geometry, std::ostream* out);

/// (a) long bars under a ceiling at 2.5, (b) long sloped bars on the floor, offset in their cells,
/// (c) short bars on the floor that may fill neighbouring cells.
std::vector<MatchGeometry> matchGeometries();

/// The environment of a description, built directly (without an environment code).
InterfaceContract::InterfacePtr<Vesk::Environment::HorizontalGrid::Environment> makeEnvironment(
    const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description);

/// A random layout of `geometry` on a width × height grid.
Vesk::Environment::HorizontalGrid::EnvironmentDescription randomMatchLayout(const MatchGeometry& geometry,
                                                                           std::uint32_t width, std::uint32_t height,
                                                                           std::mt19937_64& rng);

struct View {
    TrackerPose pose;
    Frame frame;
};

/// A view from a random pose over the layout whose frame shows between minBars and maxBars complete
/// bars; nothing when `attempts` random poses all miss that range. `options.seed` is replaced by a
/// draw from `rng` for every attempt.
std::optional<View> drawView(const std::vector<Point3>& markers, const MatchGeometry& geometry,
                             const Vesk::Environment::HorizontalGrid::EnvironmentDescription& layout,
                             double maxTilt, FrameOptions options, std::size_t minBars, std::size_t maxBars,
                             std::mt19937_64& rng, int attempts = 2000);

}  // namespace Lumetra::Testing
