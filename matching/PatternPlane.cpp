#include "matching/PatternPlane.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "math/EigenDecomposition.h"
#include "math/Matrix.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using Vector3 = LumetraMath::vector<float, 3>;

/// Patterns weighed against each other at most (the first of the view's).
constexpr std::size_t maxPatterns = 24;
/// A bar lies in a plane when its line is within this sine of the plane (about 6 degrees) and its
/// middle within this share of its distance from the plane's offset: the noise of far bars'
/// distances turns and moves them a little.
constexpr float inPlaneSine = 0.1f;
/// Two lines this far from parallel (sine of their angle) fix a normal.
constexpr float crossingSine = 0.5f;

struct Line {
    Vector3 direction;  ///< unit
    Vector3 middle;     ///< the bar's middle, tracker frame
};

Vector3 unit(const Vector3& v) { return v / LumetraMath::length(v); }

bool inPlane(const Line& line, const Vector3& normal, float offset) {
    return std::fabs(LumetraMath::dot(normal, line.direction)) < inPlaneSine &&
           std::fabs(LumetraMath::dot(normal, line.middle) - offset) < inPlaneSine * LumetraMath::length(line.middle);
}

/// The rotation turning unit `from` onto the vertical (0, 1, 0).
LumetraMath::quaternion<float> turnUpright(const Vector3& from) {
    const Vector3 up{0.0f, 1.0f, 0.0f};
    const Vector3 axis = LumetraMath::cross(from, up);
    const float sine = LumetraMath::length(axis);
    const float cosine = LumetraMath::dot(from, up);
    if (sine < 1e-6f)
        return cosine > 0 ? LumetraMath::quaternion<float>{0, 0, 0, 1}
                          : LumetraMath::quaternionFromAxisAngle(Vector3{1.0f, 0.0f, 0.0f}, 3.14159265f);
    return LumetraMath::quaternionFromAxisAngle(axis / sine, std::atan2(sine, cosine));
}

/// The lines of the patterns read as bars, in the tracker's frame.
std::vector<Line> patternLines(const VeskEnvironment& environment, const std::vector<Vector3>& rays,
                               const std::vector<VeskEnvironment::Pattern>& patterns) {
    const std::size_t count = std::min(patterns.size(), maxPatterns);
    std::vector<unsigned long> all(count);
    for (std::size_t i = 0; i < count; ++i) all[i] = i;
    const std::vector<VeskEnvironment::Pattern> used(patterns.begin(), patterns.begin() + static_cast<long>(count));
    const std::vector<Vector3> distances = environment.findPatternRayLengths(rays, {all}, used);
    std::vector<Line> lines;
    lines.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Vector3 first = rays[used[i].x] * distances[i].x, last = rays[used[i].z] * distances[i].z;
        const float length = LumetraMath::length(last - first);
        if (length > 0 && std::isfinite(length)) lines.push_back({(last - first) / length, 0.5f * (first + last)});
    }
    return lines;
}

}  // namespace

std::optional<PlaneLevelling> levellingFromPatterns(const VeskEnvironment& environment, const std::vector<Vector3>& rays,
                                                    const std::vector<VeskEnvironment::Pattern>& patterns,
                                                    bool markersBelow) {
    if (patterns.size() < 3) return std::nullopt;
    const std::vector<Line> lines = patternLines(environment, rays, patterns);

    // Every pair of bars proposes the plane they span (crossing bars by their lines, parallel ones by
    // a line and the step between their middles) when both lie in it; the one most bars lie in wins.
    std::optional<Vector3> best;
    float bestOffset = 0;
    std::size_t bestCount = 0;
    const auto propose = [&](const Line& line, const Line& other, const Vector3& across) {
        const Vector3 normal = LumetraMath::cross(line.direction, across);
        if (!(LumetraMath::length(normal) > crossingSine * LumetraMath::length(across))) return;
        const Vector3 n = unit(normal);
        const float offset = LumetraMath::dot(n, line.middle);
        if (!inPlane(other, n, offset)) return;
        const auto agreeing = static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(), [&](const Line& l) { return inPlane(l, n, offset); }));
        if (agreeing > bestCount) best = n, bestOffset = offset, bestCount = agreeing;
    };
    for (std::size_t i = 0; i < lines.size(); ++i)
        for (std::size_t j = i + 1; j < lines.size(); ++j) {
            if (std::fabs(LumetraMath::dot(lines[i].direction, lines[j].direction)) < crossingSine)
                propose(lines[i], lines[j], lines[j].direction);
            else
                propose(lines[i], lines[j], lines[j].middle - lines[i].middle);
        }
    if (!best || bestCount < 3) return std::nullopt;

    // The normal the agreeing lines are most nearly perpendicular to: the eigenvector of the
    // smallest eigenvalue of the sum of their directions' outer products.
    LumetraMath::matrix<float, 3, 3> spread{};
    Vector3 middle{};
    for (const Line& line : lines) {
        if (!inPlane(line, *best, bestOffset)) continue;
        for (std::size_t r = 0; r < 3; ++r)
            for (std::size_t c = 0; c < 3; ++c) spread(r, c) += line.direction[r] * line.direction[c];
        middle += line.middle;
    }
    Vector3 eigenvalues;
    Vector3 n = *best;
    if (LumetraMath::eigenDecomposeSymetricMatrixInplace(spread, eigenvalues, false, false)) {
        std::size_t smallest = 0;
        for (std::size_t k = 1; k < 3; ++k)
            if (eigenvalues[k] < eigenvalues[smallest]) smallest = k;
        const Vector3 refined{spread(smallest, 0), spread(smallest, 1), spread(smallest, 2)};
        if (std::fabs(LumetraMath::dot(refined, n)) > 1 - inPlaneSine) n = unit(refined);
    }

    // The markers lie on the plane's far side from the tracker: below it on the floor.
    const bool below = LumetraMath::dot(n, middle) < 0;
    if (below != markersBelow) n = -n;
    return PlaneLevelling{turnUpright(n), bestCount};
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
