// Identification of one camera frame: bar-shaped ray triples are grouped, each group is levelled
// and laid onto grid cells, and the first arrangement found in the feature catalogue anchors the
// frame on the field.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "catalogue/FeatureCalculator.h"
#include "environment/Environment.h"
#include "matching/ConflictMatrix.h"
#include "matching/DuplicateClearing.h"
#include "matching/MatchConfirmation.h"
#include "matching/PipelineSteps.h"
#include "matching/PoseFromHomography.h"
#include "matching/RayPreparation.h"
#include "math/Quaternion.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace PipelineSteps {

using Vector2 = LumetraMath::vector<float, 2>;
using Vector3 = LumetraMath::vector<float, 3>;
using Pattern = VeskEnvironment::Pattern;
using Group = std::vector<unsigned long>;
using Cell = LumetraMath::vector<int, 2>;

constexpr unsigned long openBarId = ~0ul;
constexpr float quarterTurn = 0x1.921fb6p+0f;  // 1.5707964
constexpr float patternEllipseScale = 0.75f;
constexpr float quadAngleThreshold = 0.0f;
constexpr float maxMeanFitError = 0x1.99999ap-4f;  // 0.1
/// Patterns summed over the groups one frame may try. Real views of dense layouts up to a 150
/// degree field of view tried at most 585 (short bars, 0.05 degrees of noise); a crafted frame of
/// thousands of large groups would otherwise level and look up every one.
constexpr std::size_t maxPatternsTried = 4096;


/// Each ray's intersection with the plane one unit below the tracker (mirrored for upward rays).
std::vector<Vector2> projectRays(const std::vector<Vector3>& rays) {
    std::vector<Vector2> points;
    points.reserve(rays.size());
    for (const Vector3& ray : rays) {
        const float m = -1.0f / ray.y;
        points.push_back({ray.x * m, ray.z * m});
    }
    return points;
}

/// Turns a cell by c quarter turns counter-clockwise, in 64 bits so that no input overflows.
LumetraMath::vector<std::int64_t, 2> turnCell(const Cell& cell, int c) {
    const std::int64_t x = cell.x, y = cell.y;
    switch (c & 3) {
        case 1: return {-y, x};
        case 2: return {-x, -y};
        case 3: return {y, -x};
        default: return {x, y};
    }
}

bool fitsInt(std::int64_t value) { return value >= INT_MIN && value <= INT_MAX; }

bool isFinite(const Vector2& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

/// roundf of a finite float as an int, or nothing when it does not fit.
std::optional<int> roundToInt(float value) {
    const float rounded = std::roundf(value);
    if (!(rounded >= -0x1p31f && rounded < 0x1p31f)) return std::nullopt;
    return static_cast<int>(rounded);
}

std::optional<PatternGroups> findPatternGroups(const std::vector<Vector2>& points, float barProportion,
                                               const Vector3& markerEllipse, unsigned long minCombinationSize) {
    return groupPatterns(points,
                         VeskEnvironment::findAllPossiblePatterns(points, barProportion, markerEllipse,
                                                                  patternEllipseScale),
                         minCombinationSize);
}

std::optional<PatternGroups> groupPatterns(const std::vector<Vector2>& points, std::vector<Pattern> patterns,
                                           unsigned long minCombinationSize, std::size_t maxSolverSteps,
                                           float lengthRatioTolerance) {
    PatternGroups found;
    found.patterns = std::move(patterns);
    if (found.patterns.size() < minCombinationSize) return std::nullopt;

    const std::vector<float> lengths = VeskEnvironment::calculateLengthsForPatterns(points, found.patterns);
    found.quadAngles = VeskEnvironment::calcQuadAngleSinCosForPatterns(points, found.patterns);
    std::optional<ConflictMatrix> matrix = VeskEnvironment::buildMarkersConflictMatrix(found.patterns, points.size());
    if (!matrix) return std::nullopt;
    VeskEnvironment::addLengthConflictsToMatrix(*matrix, lengths, lengthRatioTolerance);
    VeskEnvironment::addQuadAngleConflictsToMatrix(*matrix, found.quadAngles, quadAngleThreshold);
    found.groups = matrix->solve(maxSolverSteps);

    // The solver reports groups of two or more; a lone pattern is a group of its own.
    if (found.patterns.size() == 1) found.groups = {{0}};
    if (found.groups.empty()) return std::nullopt;
    std::sort(found.groups.begin(), found.groups.end(),
              [](const Group& a, const Group& b) { return a.size() > b.size(); });
    return found;
}

/// Mean bar direction of a group modulo a quarter turn, from the sum of its (cos 4θ, sin 4θ).
float groupDirection(const Group& group, const std::vector<Vector2>& quadAngles) {
    float c = 0.0f, s = 0.0f;
    for (unsigned long pattern : group) {
        c += quadAngles[pattern].x;
        s += quadAngles[pattern].y;
    }
    const float length = std::sqrt(c * c + s * s);
    return std::atan2(s / length, c / length) * 0.25f;
}

/// Moves the central pattern to the front of the group: the one whose rays agree best with the
/// levelled vertical (largest sum of dot products, the first on ties), if that sum is positive.
void moveCentralPatternFirst(Group& group, const std::vector<Pattern>& patterns, const std::vector<Vector3>& rays,
                             const LumetraMath::quaternion<float>& levelling) {
    const Vector3 down = LumetraMath::mul(levelling, Vector3{0.0f, -1.0f, 0.0f});
    float bestScore = 0.0f;
    std::size_t best = 0;
    for (std::size_t i = 0; i < group.size(); ++i) {
        const Pattern& pattern = patterns[group[i]];
        float score = 0.0f;
        for (std::size_t k = 0; k < 3; ++k) score += LumetraMath::dot(rays[pattern[k]], down);
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    std::swap(group[0], group[best]);
}

/// Each pattern of the group (central pattern first) is cast onto the marker plane, turned by the
/// bar slope, and given the cell and rotation that fit it best. Nothing when the mean squared fit
/// error exceeds 0.1, and also when a point is not finite or the arrangement could not lie on the
/// field in any quarter turn: such a group is no view of the field, and its cells could overflow
/// or make the catalogue lookup allocate without bound.
std::optional<ObservedArrangement> layOnCells(const Environment& environment, const std::vector<Vector3>& rays,
                                              const std::vector<Pattern>& patterns, const Group& group,
                                              const HomographyResult& levelled) {
    const float height = levelled.offset.y;
    const float cosSlope = environment.getSlopeRotation()(0, 0);
    const float sinSlope = environment.getSlopeRotation()(0, 1);
    const Vector2 cellCenter = environment.getCellCenterInBarFrame();
    const float cellSize = environment.getCellSize();
    const float inverseCellSize = 1.0f / cellSize;

    ObservedArrangement arrangement;
    arrangement.bars.reserve(group.size());
    Cell lower{INT_MAX, INT_MAX}, upper{INT_MIN, INT_MIN};
    float errorSum = 0.0f;
    for (std::size_t j = 0; j < group.size(); ++j) {
        const Pattern& pattern = patterns[group[j]];
        Vector2 onPlane[3];
        for (std::size_t k = 0; k < 3; ++k) {
            const Vector3 r = LumetraMath::mul(levelled.rotation, rays[pattern[k]]);
            const float t = -height / r.y;
            onPlane[k] = {r.x * t, r.z * t};
        }
        const unsigned rotation = directionToRotationId(onPlane[2] - onPlane[0]) & 3u;
        for (Vector2& p : onPlane) p = {p.x * cosSlope - p.y * sinSlope, p.x * sinSlope + p.y * cosSlope};

        const Vector2 d = onPlane[2] - onPlane[0];
        const Vector2 center = onPlane[0] + d * cellCenter.x + Vector2{-d.y, d.x} * cellCenter.y;
        if (!isFinite(onPlane[0]) || !isFinite(onPlane[1]) || !isFinite(onPlane[2]) || !isFinite(center))
            return std::nullopt;
        if (j == 0) arrangement.centralCenter = center;
        const Vector2 origin = arrangement.centralCenter;

        const std::optional<int> x = roundToInt((center.x - origin.x) * inverseCellSize);
        const std::optional<int> y = roundToInt((center.y - origin.y) * inverseCellSize);
        if (!x || !y) return std::nullopt;
        arrangement.bars.push_back({{*x, *y}, static_cast<std::uint8_t>(rotation)});
        lower = {std::min(lower.x, *x), std::min(lower.y, *y)};
        upper = {std::max(upper.x, *x), std::max(upper.y, *y)};

        const Vector2 cellOffset{static_cast<float>(*x) * cellSize, static_cast<float>(*y) * cellSize};
        for (std::size_t k = 0; k < 3; ++k) {
            const Vector2 error = onPlane[k] - origin - (environment.getBarGeometries()[rotation][k] + cellOffset);
            errorSum += error.x * error.x + error.y * error.y;
        }
    }
    if (errorSum / static_cast<float>(group.size()) > maxMeanFitError) return std::nullopt;

    const std::int64_t width = std::int64_t{upper.x} - lower.x + 1, depth = std::int64_t{upper.y} - lower.y + 1;
    const Field& field = environment.getField();
    if (!(width <= field.width() && depth <= field.height()) && !(width <= field.height() && depth <= field.width()))
        return std::nullopt;

    for (Bar& bar : arrangement.bars) bar._position = {bar._position.x - lower.x, bar._position.y - lower.y};
    return arrangement;
}

/// The tracker pose from the levelled frame of an identified group: `turn` quarter turns and the
/// bar slope take the levelled frame to the world frame, and the central pattern's cell centre is
/// the anchor bar's cell.
LumetraMath::poseP3Q<float> trackerPose(const Environment& environment, const HomographyResult& levelled,
                                        const Vector2& centralCenter, int turn, const Bar& anchor) {
    LumetraMath::poseP3Q<float> pose;
    const float angle = -(static_cast<float>(turn) * quarterTurn + environment.getBarSlope());
    pose.rotation = LumetraMath::quaternionFromAxisAngle(Vector3{0.0f, 1.0f, 0.0f}, angle) * levelled.rotation;

    const Vector2& o = centralCenter;
    Vector2 v;
    switch (turn & 3) {
        case 1: v = {o.y, -o.x}; break;
        case 2: v = {o.x, o.y}; break;
        case 3: v = {-o.y, o.x}; break;
        default: v = {-o.x, -o.y}; break;
    }
    const float cellSize = environment.getCellSize();
    const Vector2& gridCenter = environment.getGridCenter();
    pose.position = {v.x + static_cast<float>(anchor._position.x) * cellSize - gridCenter.x,
                     levelled.offset.y + environment.getMarkersHeight(),
                     v.y + static_cast<float>(anchor._position.y) * cellSize - gridCenter.y};
    return pose;
}

}  // namespace PipelineSteps

using namespace PipelineSteps;

unsigned char directionToRotationId(const LumetraMath::vector<float, 2>& direction) {
    if (std::fabs(direction.x) > std::fabs(direction.y)) return direction.x > 0.0f ? 0 : 2;
    return direction.y > 0.0f ? 1 : 3;
}

bool Environment::match(const std::vector<Vector3>& rays, std::vector<MarkerIndex>& markerIndices,
                        LumetraMath::poseP3Q<float>& pose) const {
    return match(rays, markerIndices, pose, MatchSteps{});
}

bool Environment::match(const std::vector<Vector3>& givenRays, std::vector<MarkerIndex>& markerIndices,
                        LumetraMath::poseP3Q<float>& pose, const MatchSteps& steps) const {
    const unsigned long rayCount = givenRays.size();
    if (rayCount < 3 * minCombinationSize || rayCount > Lumetra::Vesk::Environment::MaxMatchRays) return false;

    // A ray given twice shows one marker once: its repeats are made inert (not a number, which no
    // pattern takes and no reprojection numbers), so they neither hide the bar nor claim its marker.
    const std::vector<bool> repeated = repeatedRays(unitRays(givenRays));
    std::vector<Vector3> withoutRepeats;
    if (std::find(repeated.begin(), repeated.end(), true) != repeated.end()) {
        withoutRepeats = givenRays;
        const float nan = std::numeric_limits<float>::quiet_NaN();
        for (std::size_t i = 0; i < rayCount; ++i)
            if (repeated[i]) withoutRepeats[i] = {nan, nan, nan};
    }
    const std::vector<Vector3>& rays = withoutRepeats.empty() ? givenRays : withoutRepeats;

    const std::vector<Vector2> points = projectRays(rays);
    std::optional<PatternGroups> candidates =
        findPatternGroups(points, barProportion, markerEllipse, minCombinationSize);
    if (!candidates) return false;
    MatchTrace unused;
    MatchTrace& trace = steps.trace ? *steps.trace : unused;
    trace.patternsFound = true;
    const std::vector<Pattern>& patterns = candidates->patterns;
    const std::vector<Vector3> rayLengths = findPatternRayLengths(rays, candidates->groups, patterns);

    std::size_t patternsTried = 0;
    for (Group& group : candidates->groups) {
        patternsTried += group.size();
        if (patternsTried > maxPatternsTried) return false;
        trace.patternsTried = static_cast<unsigned>(patternsTried);
        const HomographyResult levelled =
            findHomography(rays, rayLengths, patterns, group, groupDirection(group, candidates->quadAngles));
        moveCentralPatternFirst(group, patterns, rays, levelled.rotation);
        ++trace.groupsTried;

        const std::optional<ObservedArrangement> observed = layOnCells(*this, rays, patterns, group, levelled);
        if (!observed) {
            ++trace.rejectedByFit;
            continue;
        }
        std::optional<std::vector<unsigned long>> barIds = detectFeatures(observed->bars);
        if (!barIds) {
            ++trace.notCatalogued;
            continue;
        }
        const JuxtapositionResult placement = juxtapose(observed->bars, *barIds);
        if (!placement.success) {
            trace.juxtapositionFailed = true;
            return false;
        }

        const LumetraMath::poseP3Q<float> levelledPose =
            trackerPose(*this, levelled, observed->centralCenter, placement.rotation, *field.barAt((*barIds)[0]));
        std::vector<MarkerIndex> numbers(rayCount, MarkerUnidentified);
        for (std::size_t i = 0; i < group.size(); ++i)
            for (std::size_t k = 0; k < 3; ++k)
                numbers[patterns[group[i]][k]] = static_cast<MarkerIndex>(3 * (*barIds)[i] + k);

        // A pose that fails to confirm the numbers rejects the group, as a poor fit does.
        std::optional<Identification> identified =
            completeIdentification(*this, rays, std::move(numbers), levelledPose, steps);
        if (!identified) {
            ++trace.notConfirmed;
            continue;
        }
        if (steps.largestMiss) *steps.largestMiss = identified->largestMiss;
        pose = identified->pose;
        markerIndices = std::move(identified->numbers);
        return !clearDuplicateMarkers(markerIndices);
    }
    return false;
}

std::optional<std::vector<unsigned long>> Environment::detectFeatures(const std::vector<Bar>& bars) const {
    // The smallest observed key the catalogue knows names the bars.
    const std::optional<FlatFeatureMap::Entry> observed =
        FeatureCalculator::firstCataloguedCombination(bars, combinations);
    if (!observed) return std::nullopt;
    const FeatureBarIds& places = observed->second;
    const FeatureBarIds& catalogued = combinations.find(observed->first)->second;
    std::vector<unsigned long> ids(bars.size(), openBarId);
    for (std::size_t i = 0; i < places.size() && i < catalogued.size(); ++i) ids[places[i]] = catalogued[i];
    return ids;
}

JuxtapositionResult Environment::juxtapose(const std::vector<Bar>& bars, std::vector<unsigned long>& barIds) const {
    if (barIds.size() != bars.size()) return {};
    const auto anchorId = std::find_if(barIds.begin(), barIds.end(), [](unsigned long id) { return id != openBarId; });
    if (anchorId == barIds.end()) return {};
    const std::size_t anchor = static_cast<std::size_t>(anchorId - barIds.begin());
    const std::optional<Bar> fieldBar = field.barAt(*anchorId);
    const int turn = (fieldBar->_properties - bars[anchor]._properties) & 3;

    const auto turnedAnchor = turnCell(bars[anchor]._position, turn);
    const std::int64_t offsetX = fieldBar->_position.x - turnedAnchor.x;
    const std::int64_t offsetY = fieldBar->_position.y - turnedAnchor.y;
    if (!fitsInt(offsetX) || !fitsInt(offsetY)) return {};
    const JuxtapositionResult placed{{static_cast<int>(offsetX), static_cast<int>(offsetY)}, turn, true};

    for (std::size_t j = 0; j < bars.size(); ++j) {
        if (barIds[j] != openBarId) continue;
        const auto turned = turnCell(bars[j]._position, turn);
        const std::int64_t x = offsetX + turned.x, y = offsetY + turned.y;
        const std::int64_t id =
            fitsInt(x) && fitsInt(y) ? field.barIdAt({static_cast<int>(x), static_cast<int>(y)}) : -1;
        if (id == -1) return {placed.offset, placed.rotation, false};
        barIds[j] = static_cast<unsigned long>(id);
    }
    return placed;
}

HomographyResult Environment::findHomography(const std::vector<Vector3>& rays, const std::vector<Vector3>& rayLengths,
                                             const std::vector<Pattern>& patterns,
                                             const std::vector<unsigned long>& group, float yaw) {
    return HorizontalGrid::findHomography(rays, rayLengths, patterns, group, yaw);
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
