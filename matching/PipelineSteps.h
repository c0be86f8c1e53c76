#pragma once
// The steps of match that identification reuses: projecting the rays, grouping bar patterns,
// levelling a group and laying it onto cells, and the tracker pose of a placed group.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "environment/Environment.h"
#include "grid/Bar.h"
#include "matching/GroupGenerator.h"
#include "matching/PoseFromHomography.h"
#include "math/Pose.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid::PipelineSteps {

using Vector2 = LumetraMath::vector<float, 2>;
using Vector3 = LumetraMath::vector<float, 3>;
using Pattern = VeskEnvironment::Pattern;
using Group = std::vector<unsigned long>;
using Cell = LumetraMath::vector<int, 2>;

/// The patterns of a frame and their groups of mutually compatible patterns, largest first.
struct PatternGroups {
    std::vector<Pattern> patterns;
    std::vector<Vector2> quadAngles;
    std::vector<Group> groups;
};

/// A group's bars laid onto integer cells relative to one another.
struct ObservedArrangement {
    std::vector<Bar> bars;  ///< cells shifted to start at (0, 0); rotation ids in the properties
    Vector2 centralCenter;  ///< centre of the central pattern's cell in the levelled, slope-turned plane
};

/// Each ray's intersection with the plane one unit below the tracker (mirrored for upward rays).
std::vector<Vector2> projectRays(const std::vector<Vector3>& rays);

/// The bar patterns among the points, grouped; nothing when there are too few or too many.
std::optional<PatternGroups> findPatternGroups(const std::vector<Vector2>& points, float barProportion,
                                               const Vector3& markerEllipse, unsigned long minCombinationSize);
/// Patterns whose lengths differ by more than this share of the shorter conflict (match's rule).
inline constexpr float patternLengthTolerance = 0.5f;

/// The groups of given patterns, found within `maxSolverSteps` steps of the clique search.
std::optional<PatternGroups> groupPatterns(const std::vector<Vector2>& points, std::vector<Pattern> patterns,
                                           unsigned long minCombinationSize,
                                           std::size_t maxSolverSteps = GroupGenerator::MaxSteps,
                                           float lengthRatioTolerance = patternLengthTolerance);

/// Mean bar direction of a group modulo a quarter turn.
float groupDirection(const Group& group, const std::vector<Vector2>& quadAngles);

/// Moves the pattern that agrees best with the levelled vertical to the front of the group.
void moveCentralPatternFirst(Group& group, const std::vector<Pattern>& patterns, const std::vector<Vector3>& rays,
                             const LumetraMath::quaternion<float>& levelling);

/// The group's patterns on integer cells, central pattern first; nothing when it fits badly.
std::optional<ObservedArrangement> layOnCells(const Environment& environment, const std::vector<Vector3>& rays,
                                              const std::vector<Pattern>& patterns, const Group& group,
                                              const HomographyResult& levelled);

/// The tracker pose when the central pattern's cell is `anchor`'s cell, after `turn` quarter turns.
LumetraMath::poseP3Q<float> trackerPose(const Environment& environment, const HomographyResult& levelled,
                                        const Vector2& centralCenter, int turn, const Bar& anchor);

/// A cell turned by c quarter turns counter-clockwise, in 64 bits.
LumetraMath::vector<std::int64_t, 2> turnCell(const Cell& cell, int c);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid::PipelineSteps
