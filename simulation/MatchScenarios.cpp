#include "simulation/MatchScenarios.h"

namespace Lumetra::Testing {

using Vesk::Environment::HorizontalGrid::EnvironmentDescription;

void PrintTo(const MatchGeometry& geometry, std::ostream* out) { *out << geometry.name; }

std::vector<MatchGeometry> matchGeometries() {
    EnvironmentDescription longCeiling;
    longCeiling.schemeName = "long ceiling";
    longCeiling.barLength = 1.275f;
    longCeiling.barProportion = 0.4f;
    longCeiling.barSlope = 0.0698131695f;
    longCeiling.cellSize = 0.6f;
    longCeiling.ceiling = true;
    longCeiling.height = 2.5f;

    EnvironmentDescription longFloor;
    longFloor.schemeName = "long floor";
    longFloor.barLength = 1.07286739f;
    longFloor.barProportion = 0.313040614f;
    longFloor.barSlope = -0.0555559956f;
    longFloor.barOffset = {0.3f, 0.0f};
    longFloor.cellSize = 0.6f;

    EnvironmentDescription shortFloor;
    shortFloor.schemeName = "short floor";
    shortFloor.barLength = 0.5f;
    shortFloor.barProportion = 0.3f;
    shortFloor.cellSize = 0.6f;

    return {{"LongCeiling", longCeiling, 2, 0.5, 0.7, 1.7},
            {"LongFloor", longFloor, 2, 0.5, 1.2, 2.2},
            {"ShortFloor", shortFloor, 0, 0.12, 1.2, 2.2}};
}

InterfaceContract::InterfacePtr<Vesk::Environment::HorizontalGrid::Environment> makeEnvironment(
    const EnvironmentDescription& d) {
    return InterfaceContract::InterfacePtr<Vesk::Environment::HorizontalGrid::Environment>(
        new Vesk::Environment::HorizontalGrid::Environment(d.barLength, d.barProportion, d.barSlope, d.barOffset,
                                                           d.cellSize, d.bars, d.size, d.ceiling, d.height));
}

EnvironmentDescription randomMatchLayout(const MatchGeometry& geometry, std::uint32_t width, std::uint32_t height,
                                         std::mt19937_64& rng) {
    return randomLayout(geometry.geometry, width, height, geometry.fill, geometry.minSpacing, rng,
                        geometry.inLineSpacing);
}

std::optional<View> drawView(const std::vector<Point3>& markers, const MatchGeometry& geometry,
                             const EnvironmentDescription& layout, double maxTilt, FrameOptions options,
                             std::size_t minBars, std::size_t maxBars, std::mt19937_64& rng, int attempts) {
    PoseRange range;
    range.halfWidth = 0.5 * static_cast<double>(layout.size.x) * layout.cellSize;
    range.halfDepth = 0.5 * static_cast<double>(layout.size.y) * layout.cellSize;
    range.minDistance = geometry.minDistance;
    range.maxDistance = geometry.maxDistance;
    range.maxTilt = maxTilt;
    options.ceiling = layout.ceiling;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        View view;
        view.pose = randomTrackerPose(range, layout.height, layout.ceiling, rng);
        options.seed = rng();
        view.frame = generateFrame(markers, view.pose, options);
        const std::size_t bars = countCompleteBars(view.frame);
        if (bars >= minBars && bars <= maxBars) return view;
    }
    return std::nullopt;
}

}  // namespace Lumetra::Testing
