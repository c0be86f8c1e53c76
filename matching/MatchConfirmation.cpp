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

/// Reprojected numbers withdrawn before an identification is given up: a few far, noisy rays are
/// worth keeping the frame for, a crafted frame of hundreds is not worth a refinement each.
constexpr int maxWithdrawnNumbers = 8;

/// Gauss-Newton steps over the group's rays before the other rays are numbered: the levelled pose
/// is close, and two steps leave an error far below the marker spacing.
constexpr std::uint32_t groupRefinementSteps = 2;

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

/// The numbered rays whose number no other ray claims: two claims on one marker cannot both be
/// right, so neither may bend the pose (both are cleared afterwards).
Correspondences numberedRays(const MarkerPlane& plane, const std::vector<Vector3>& rays,
                             const std::vector<MarkerIndex>& numbers) {
    const auto& markers = plane.markers.getPoints();
    std::vector<MarkerIndex> sorted(numbers);
    std::sort(sorted.begin(), sorted.end());
    const auto claimedOnce = [&sorted](MarkerIndex number) {
        const auto [first, last] = std::equal_range(sorted.begin(), sorted.end(), number);
        return last - first == 1;
    };
    Correspondences found;
    found.rays.reserve(rays.size());
    found.markers.reserve(rays.size());
    found.rayIndices.reserve(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        if (numbers[i] >= MarkerNotFound || numbers[i] >= markers.size() || !claimedOnce(numbers[i])) continue;
        found.rays.push_back(rays[i]);
        found.markers.push_back({markers[numbers[i]].x, plane.height, markers[numbers[i]].y});
        found.rayIndices.push_back(i);
    }
    return found;
}

struct Miss {
    double distance = 0;
    std::size_t ray = 0;
};

/// The numbered ray that, cast from the pose fitted without it, passes its marker at the largest
/// distance. A wrong number shows at full size here even where a weakly fixed pose has bent to it.
Miss largestMiss(const RefinedPose& refined, const Correspondences& numbered) {
    Miss largest;
    for (std::size_t i = 0; i < numbered.rays.size(); ++i) {
        const double distance =
            LumetraMath::length(LumetraMath::vectorCast<double>(numbered.markers[i] - refined.pose.position));
        const double miss = leaveOneOutAngle(refined, numbered.rays[i], numbered.markers[i]) * distance;
        if (!(miss <= largest.distance)) largest = {miss, numbered.rayIndices[i]};
    }
    return largest;
}

}  // namespace

std::optional<Identification> completeIdentification(const Environment& environment, const std::vector<Vector3>& rays,
                                                     std::vector<MarkerIndex> numbers, const Pose& levelled,
                                                     const MatchSteps& steps) {
    const MarkerPlane plane = markerPlane(environment);
    Identification found{levelled, {}, 0.0f};
    if (steps.refine) {
        // A group of one bar leaves a rotation about the bar open: its rays alone refine nothing,
        // and the levelled pose numbers the rest.
        const Correspondences group = numberedRays(plane, rays, numbers);
        const std::optional<RefinedPose> fromGroup =
            refinePoseRoughly(group.rays, group.markers, levelled, groupRefinementSteps);
        if (fromGroup) found.pose = fromGroup->pose;
        std::vector<bool> inGroup(rays.size());
        for (std::size_t i = 0; i < rays.size(); ++i) inGroup[i] = numbers[i] != MarkerUnidentified;
        numberRemainingRays(plane, found.pose, rays, numbers);
        // A reprojected number the pose cannot confirm is withdrawn (the ray keeps MarkerNotFound)
        // and the pose refined without it; a group number it cannot confirm rejects the group.
        for (int withdrawn = 0;; ++withdrawn) {
            const Correspondences all = numberedRays(plane, rays, numbers);
            const std::optional<RefinedPose> fromAll = refinePose(all.rays, all.markers, found.pose);
            if (!fromAll) return std::nullopt;
            found.pose = fromAll->pose;
            const Miss miss = largestMiss(*fromAll, all);
            found.largestMiss = static_cast<float>(miss.distance) / environment.getMinMarkerDistance();
            if (!steps.confirm) break;
            // A pose that explains fewer than half of the rays is no view of this place: a small
            // group can fit a wrong place well and leave every other ray without a marker.
            if (2 * all.rays.size() < rays.size()) return std::nullopt;
            if (found.largestMiss <= confirmationMargin) break;
            if (inGroup[miss.ray] || withdrawn == maxWithdrawnNumbers) return std::nullopt;
            numbers[miss.ray] = MarkerNotFound;
        }
    } else {
        numberRemainingRays(plane, found.pose, rays, numbers);
    }
    found.numbers = std::move(numbers);
    return found;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
