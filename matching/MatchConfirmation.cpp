#include "matching/MatchConfirmation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "matching/MarkerReprojection.h"
#include "matching/PoseRefinement.h"
#include "matching/RayPreparation.h"
#include "matching/ResolvableRays.h"
#include "math/Quaternion.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using Vector3 = LumetraMath::vector<float, 3>;
using Pose = LumetraMath::poseP3Q<float>;

/// Gauss-Newton steps over the group's rays before the other rays are numbered: the levelled pose
/// is close, and two steps leave an error far below the marker spacing.
constexpr std::uint32_t groupSteps = 2;

/// Rounds of withdrawing reprojected numbers before an identification is given up: each round
/// withdraws every number its fit cannot confirm and refits once.
constexpr int maxWithdrawalPasses = 4;
/// A ray's leave-one-out residual may reach this many standard deviations of the noise model.
constexpr double confirmationSigmas = 4.0;
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
        const std::vector<Vector3> unit = unitRays(rays);
        const auto finiteRays = static_cast<std::size_t>(std::count_if(rays.begin(), rays.end(), [](const Vector3& r) {
            return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z);
        }));
        // A number the pose fitted without its ray cannot confirm (on the marker plane, and by the
        // noise model) is withdrawn (the ray keeps MarkerNotFound), all such at once, and the pose
        // refined without them. So is an ambiguous reprojected number, on a ray the fit cannot number
        // at all: far out on a wide view the noise alone could carry its point on the plane onto a
        // neighbour, and the nearest marker is a guess that may pass the margin by chance. A group number that fails the noise model rejects
        // the group; one that only misses on the plane is withdrawn: a grazing ray's noise alone moves
        // its point on the plane further than a quarter of the marker spacing.
        std::vector<LeaveOneOut> checks;
        std::size_t ambiguousRays = 0;  // withdrawn as ambiguous: they do not count against the pose
        for (int pass = 0;; ++pass) {
            const Correspondences all = numberedRays(plane, rays, numbers, colliding);
            checks.resize(all.rays.size());
            const std::optional<RefinedPose> fromAll = refinePoseAndCheckRays(all.rays, all.markers, found.pose, checks);
            if (!fromAll) return std::nullopt;
            found.pose = fromAll->pose;
            const auto numberable = ResolvableRays::numberable(environment, found.pose, fromAll->residualVariance);
            std::vector<double> excess(all.rays.size()), noiseExcess(all.rays.size());
            std::vector<bool> ambiguous(all.rays.size());
            double largestMiss = 0, largestExcess = 0;
            for (std::size_t k = 0; k < all.rays.size(); ++k) {
                const LeaveOneOut& check = checks[k];
                const double miss = check.planeMiss / environment.getMinMarkerDistance();
                largestMiss = std::max(largestMiss, miss);
                noiseExcess[k] =
                    check.squaredNorm / (confirmationSigmas * confirmationSigmas * fromAll->residualVariance);
                const std::size_t ray = all.rayIndices[k];
                ambiguous[k] = !inGroup[ray] && !numberable(unit[ray]);
                excess[k] = ambiguous[k] ? INFINITY : std::max(miss / confirmationMargin, noiseExcess[k]);
                if (!(excess[k] <= largestExcess)) largestExcess = excess[k];
            }
            found.largestMiss = static_cast<float>(largestMiss);
            if (!steps.confirm) break;
            // A pose that explains fewer than half of the (finite) rays, less those it withdrew as
            // ambiguous, is no view of this place: a small group can fit a wrong place well and leave
            // every other ray without a marker.
            if (2 * all.rays.size() < finiteRays - ambiguousRays) return std::nullopt;
            if (largestExcess <= 1) break;
            if (pass == maxWithdrawalPasses) return std::nullopt;
            for (std::size_t k = 0; k < all.rays.size(); ++k) {
                if (excess[k] <= 1) continue;  // NaN and infinity withdraw
                if (inGroup[all.rayIndices[k]] && !(noiseExcess[k] <= 1)) return std::nullopt;
                numbers[all.rayIndices[k]] = MarkerNotFound;
                ambiguousRays += ambiguous[k];
            }
        }
    } else {
        numberRemainingRays(plane, found.pose, rays, numbers);
    }
    found.numbers = std::move(numbers);
    return found;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
