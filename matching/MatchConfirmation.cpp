#include "matching/MatchConfirmation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "matching/MarkerReprojection.h"
#include "matching/PoseRefinement.h"
#include "math/Quaternion.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using Vector3 = LumetraMath::vector<float, 3>;
using Pose = LumetraMath::poseP3Q<float>;

/// Gauss-Newton steps over the group's rays before the other rays are numbered: the levelled pose
/// is close, and two steps leave an error far below the marker spacing.
constexpr std::uint32_t groupSteps = 2;

/// Reprojected numbers withdrawn before an identification is given up: a few far, noisy rays are
/// worth keeping the frame for, a crafted frame of hundreds is not worth a refinement each.
constexpr int maxWithdrawnNumbers = 8;

MarkerPlane markerPlane(const Environment& environment) {
    return {environment.getMarkersSearch(), environment.getMarkersHeight(),
            environment.getMinMarkerDistance() * environment.getMarkerSearchFactor()};
}

/// The rays still unidentified take the marker they point at from `pose`.
void numberRemainingRays(const MarkerPlane& plane, const Pose& pose, const std::vector<Vector3>& rays,
                         std::vector<MarkerIndex>& numbers) {
    const LumetraMath::matrix<float, 3, 3> toWorld = LumetraMath::toRotationMatrix(pose.rotation);
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (numbers[i] == MarkerUnidentified) numbers[i] = markerHitByRay(plane, pose.position, toWorld * rays[i]);
}

/// The numbered rays and their markers, in ray order.
struct Correspondences {
    std::vector<Vector3> rays, markers;
    std::vector<std::size_t> rayIndices;
};

/// The numbered rays but those `excluded` (when given): two claims on one marker cannot both be
/// right, so neither may bend the pose (both are cleared afterwards).
Correspondences numberedRays(const MarkerPlane& plane, const std::vector<Vector3>& rays,
                             const std::vector<MarkerIndex>& numbers, const std::vector<bool>& excluded = {}) {
    const auto& markers = plane.markers.getPoints();
    Correspondences found;
    found.rays.reserve(rays.size());
    found.markers.reserve(rays.size());
    found.rayIndices.reserve(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        if (numbers[i] >= MarkerNotFound || numbers[i] >= markers.size() || (!excluded.empty() && excluded[i]))
            continue;
        found.rays.push_back(rays[i]);
        found.markers.push_back({markers[numbers[i]].x, plane.height, markers[numbers[i]].y});
        found.rayIndices.push_back(i);
    }
    return found;
}

/// Marks the rays whose number another ray also claims.
std::vector<bool> claimedTwice(const std::vector<MarkerIndex>& numbers) {
    std::vector<std::pair<MarkerIndex, std::size_t>> sorted;
    sorted.reserve(numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i)
        if (numbers[i] < MarkerNotFound) sorted.push_back({numbers[i], i});
    std::sort(sorted.begin(), sorted.end());
    std::vector<bool> marked(numbers.size());
    for (std::size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i].first == sorted[i - 1].first) marked[sorted[i].second] = marked[sorted[i - 1].second] = true;
    return marked;
}

}  // namespace

std::optional<Identification> completeIdentification(const Environment& environment, const std::vector<Vector3>& rays,
                                                     std::vector<MarkerIndex> numbers, const Pose& levelled,
                                                     const MatchSteps& steps) {
    const MarkerPlane plane = markerPlane(environment);
    Identification found{levelled, {}, 0.0f};
    if (steps.refine) {
        // A group of one bar leaves a rotation about the bar open:
        // its rays alone refine nothing, and the levelled pose numbers the rest. With no rest, the full refinement follows at once.
        if (std::find(numbers.begin(), numbers.end(), MarkerUnidentified) != numbers.end()) {
            const Correspondences group = numberedRays(plane, rays, numbers);
            const std::optional<Pose> fromGroup = poseAfterSteps(group.rays, group.markers, levelled, groupSteps);
            if (fromGroup) found.pose = *fromGroup;
        }
        std::vector<bool> inGroup(rays.size());
        for (std::size_t i = 0; i < rays.size(); ++i) inGroup[i] = numbers[i] != MarkerUnidentified;
        numberRemainingRays(plane, found.pose, rays, numbers);
        const std::vector<bool> colliding = claimedTwice(numbers);
        // A reprojected number the pose cannot confirm is withdrawn (the ray keeps MarkerNotFound)
        // and the pose refined without it; a group number it cannot confirm rejects the group.
        for (int withdrawn = 0;; ++withdrawn) {
            const Correspondences all = numberedRays(plane, rays, numbers, colliding);
            const std::optional<CheckedPose> fromAll = refinePoseAndFindLargestMiss(all.rays, all.markers, found.pose);
            if (!fromAll) return std::nullopt;
            found.pose = fromAll->refined.pose;
            const LargestMiss miss = fromAll->miss;
            found.largestMiss = static_cast<float>(miss.distance) / environment.getMinMarkerDistance();
            const std::size_t worst = all.rayIndices[miss.index];
            if (!steps.confirm) break;
            // A pose that explains fewer than half of the rays is no view of this place: a small
            // group can fit a wrong place well and leave every other ray without a marker.
            if (2 * all.rays.size() < rays.size()) return std::nullopt;
            if (found.largestMiss <= confirmationMargin) break;
            if (inGroup[worst] || withdrawn == maxWithdrawnNumbers) return std::nullopt;
            numbers[worst] = MarkerNotFound;
        }
    } else {
        numberRemainingRays(plane, found.pose, rays, numbers);
    }
    found.numbers = std::move(numbers);
    return found;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
