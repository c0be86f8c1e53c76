#include "matching/PoseSettling.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "environment/Environment.h"
#include "matching/MarkerReprojection.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using Vector2 = LumetraMath::vector<float, 2>;
using Vector3 = LumetraMath::vector<float, 3>;
using Pose = LumetraMath::poseP3Q<float>;

/// A numbered ray may miss its marker on the plane by this share of the smallest marker spacing:
/// the margin by which the reprojection radius of match stays short of the nearest other marker,
/// so a pose within it can never carry a ray into a wrong marker's circle.
constexpr float planeGate = 0.2f;
/// The residual bound is this many times the median residual of the fit, corrected for the six
/// degrees of freedom the fit takes from its rays: for a right numbering with Gaussian ray noise the
/// median angle is about 1.18 sigma, so the bound is about 3.4 sigma for the rays of the fit, and it
/// leaves room for the error of the pose at rays the fit did not use.
constexpr double residualSpreadFactor = 4.0;
/// Floor of the residual bound, radians: float rounding of exact rays stays far below it.
constexpr double residualFloor = 1e-4;
constexpr int maxRounds = 5;
/// A ray is numbered only when the residual bound is within this many times the angle its gate
/// subtends: the neighbouring markers lie five gates away, so a ray within the bound still lands
/// three gates clear of them.
constexpr float separableShare = 2.0f;

Vector3 markerPosition(const Environment& environment, MarkerIndex marker) {
    const Vector2& p = environment.getMarkersSearch().getPoints()[marker];
    return {p.x, environment.getMarkersHeight(), p.y};
}

/// Angle between the ray turned into the world and the direction from the tracker to the marker.
double residualAngle(const LumetraMath::matrix<float, 3, 3>& toWorld, const Pose& pose, const Vector3& ray,
                     const Vector3& marker) {
    const Vector3 w = toWorld * ray;
    const Vector3 d = marker - pose.position;
    const double crossLength = LumetraMath::length(LumetraMath::vectorCast<double>(LumetraMath::cross(w, d)));
    return std::atan2(crossLength, static_cast<double>(LumetraMath::dot(w, d)));
}

std::size_t countNumbered(const std::vector<MarkerIndex>& numbers, std::size_t markerCount) {
    return static_cast<std::size_t>(
        std::count_if(numbers.begin(), numbers.end(), [&](MarkerIndex n) { return n < markerCount; }));
}

/// The residual bound of a fit: a multiple of the median residual of its numbered rays, scaled
/// up by sqrt(2N / (2N - 6)) for the N rays the fit rests on.
double residualBound(std::vector<double> residuals) {
    if (residuals.empty()) return residualFloor;
    const auto middle = residuals.begin() + static_cast<long>(residuals.size() / 2);
    std::nth_element(residuals.begin(), middle, residuals.end());
    const double components = 2.0 * static_cast<double>(residuals.size());
    const double freedom = std::sqrt(components / std::max(components - 6.0, 1.0));
    return std::max(residualFloor, residualSpreadFactor * freedom * *middle);
}

}  // namespace

std::vector<Vector3> unitRays(const std::vector<Vector3>& rays) {
    std::vector<Vector3> unit;
    unit.reserve(rays.size());
    for (const Vector3& ray : rays) {
        const float length = LumetraMath::length(ray);
        const bool usable = std::isfinite(ray.x) && std::isfinite(ray.y) && std::isfinite(ray.z) &&
                            std::isfinite(length) && length > 0.0f;
        unit.push_back(usable ? ray / length : Vector3{0.0f, 0.0f, 0.0f});
    }
    return unit;
}

bool isUsableRay(const Vector3& unitRay) { return unitRay.x != 0.0f || unitRay.y != 0.0f || unitRay.z != 0.0f; }

bool isFinitePose(const Pose& pose) {
    const auto& p = pose.position;
    const auto& q = pose.rotation;
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(q.x) &&
           std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

std::vector<MarkerIndex> numberFromPose(const Environment& environment, const std::vector<Vector3>& rays,
                                        const Pose& pose, float radius) {
    const auto& search = environment.getMarkersSearch();
    const auto& markers = search.getPoints();
    const MarkerPlane plane{search, environment.getMarkersHeight(), radius};
    const LumetraMath::matrix<float, 3, 3> toWorld = LumetraMath::toRotationMatrix(pose.rotation);

    std::vector<MarkerIndex> numbers(rays.size(), MarkerNotFound);
    std::vector<float> misses(rays.size(), 0.0f);
    for (std::size_t i = 0; i < rays.size(); ++i) {
        if (!isUsableRay(rays[i])) continue;
        const Vector3 direction = toWorld * rays[i];
        // Only rays that travel towards the plane can show a marker.
        if ((environment.getMarkersHeight() - pose.position.y) * direction.y <= 0.0f) continue;
        const auto hit = markerPlaneHit(plane, pose.position, direction);
        if (!hit) continue;
        float best = radius * radius;
        for (const int candidate : search.getPointsInCircle(*hit, radius)) {
            const Vector2 miss = *hit - markers[static_cast<std::size_t>(candidate)];
            const float squared = LumetraMath::dot(miss, miss);
            if (squared <= best) {
                best = squared;
                numbers[i] = static_cast<MarkerIndex>(candidate);
                misses[i] = squared;
            }
        }
    }
    // One marker, one ray: the nearer claim wins (the earlier ray on a tie).
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (numbers[i] != MarkerNotFound) order.push_back(i);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return numbers[a] != numbers[b] ? numbers[a] < numbers[b] : misses[a] != misses[b] ? misses[a] < misses[b] : a < b;
    });
    for (std::size_t k = 0; k < order.size();) {
        std::size_t j = k + 1;
        while (j < order.size() && numbers[order[j]] == numbers[order[k]]) numbers[order[j++]] = MarkerNotFound;
        k = j;
    }
    return numbers;
}

std::optional<RefinedPose> fitNumbered(const Environment& environment, const std::vector<Vector3>& rays,
                                       const std::vector<MarkerIndex>& numbers, const Pose& start) {
    const std::size_t markerCount = environment.getMarkersSearch().getPoints().size();
    std::vector<Vector3> usedRays, usedMarkers;
    usedRays.reserve(rays.size());
    usedMarkers.reserve(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (numbers[i] < markerCount && isUsableRay(rays[i])) {
            usedRays.push_back(rays[i]);
            usedMarkers.push_back(markerPosition(environment, numbers[i]));
        }
    if (usedRays.size() < 3) return std::nullopt;
    std::optional<RefinedPose> fit = HorizontalGrid::refinePose(std::span<const Vector3>(usedRays),
                                                                std::span<const Vector3>(usedMarkers), start);
    if (fit && !isFinitePose(fit->pose)) return std::nullopt;
    return fit;
}

std::optional<SettledPose> settlePose(const Environment& environment, const std::vector<Vector3>& rays,
                                      std::vector<MarkerIndex> numbers, const Pose& start,
                                      std::uint32_t minimumSupport) {
    const std::size_t markerCount = environment.getMarkersSearch().getPoints().size();
    const float gate = planeGate * environment.getMinMarkerDistance();
    Pose from = start;
    std::vector<MarkerIndex> judgedOut(rays.size(), MarkerNotFound);
    for (int round = 0; round < maxRounds; ++round) {
        if (countNumbered(numbers, markerCount) < std::max<std::uint32_t>(minimumSupport, 3)) return std::nullopt;
        const std::optional<RefinedPose> fit = fitNumbered(environment, rays, numbers, from);
        if (!fit) return std::nullopt;

        // Judge the fit by its own spread, then number every ray afresh from it.
        const LumetraMath::matrix<float, 3, 3> toWorld = LumetraMath::toRotationMatrix(fit->pose.rotation);
        std::vector<double> residuals;
        residuals.reserve(rays.size());
        for (std::size_t i = 0; i < rays.size(); ++i)
            if (numbers[i] < markerCount)
                residuals.push_back(residualAngle(toWorld, fit->pose, rays[i], markerPosition(environment, numbers[i])));
        const double bound = residualBound(std::move(residuals));

        // A ray the fit rested on must lie within the bound. A ray new to its number is only held
        // to the gate: a fit over few rays predicts the others less well than its spread says, so
        // it joins the next fit and is judged there. A number once judged out stays out.
        // A ray is numbered only where the fit's spread tells markers apart: its residual bound must
        // stay within twice the angle the gate subtends at the marker (smallest across the ray's
        // line of sight, so foreshortened far markers need a tight fit). A fit whose spread reaches the
        // gates everywhere, as a wrong numbering's does, numbers nothing and fails.
        std::vector<MarkerIndex> renumbered = numberFromPose(environment, rays, fit->pose, gate);
        for (std::size_t i = 0; i < rays.size(); ++i) {
            if (renumbered[i] >= markerCount) continue;
            const Vector3 toMarker = markerPosition(environment, renumbered[i]) - fit->pose.position;
            const float range = LumetraMath::length(toMarker);
            if (!(bound * range <= separableShare * gate * std::fabs(toMarker.y) / range)) {
                renumbered[i] = MarkerNotFound;
                continue;
            }
            if (renumbered[i] == judgedOut[i] ||
                (renumbered[i] == numbers[i] &&
                 residualAngle(toWorld, fit->pose, rays[i], markerPosition(environment, numbers[i])) > bound)) {
                judgedOut[i] = renumbered[i];
                renumbered[i] = MarkerNotFound;
            }
        }
        if (renumbered == numbers) {
            SettledPose settled{*fit, std::move(numbers), 0};
            settled.numbered = static_cast<std::uint32_t>(countNumbered(settled.numbers, markerCount));
            return settled;
        }
        if (round + 1 == maxRounds) {
            // Still moving: keep the rays both numberings agree on and fit them once more.
            for (std::size_t i = 0; i < rays.size(); ++i)
                if (renumbered[i] != numbers[i]) renumbered[i] = MarkerNotFound;
            const std::size_t agreed = countNumbered(renumbered, markerCount);
            if (agreed < std::max<std::size_t>(minimumSupport, 3)) return std::nullopt;
            const std::optional<RefinedPose> last = fitNumbered(environment, rays, renumbered, fit->pose);
            if (!last) return std::nullopt;
            return SettledPose{*last, std::move(renumbered), static_cast<std::uint32_t>(agreed)};
        }
        numbers = std::move(renumbered);
        from = fit->pose;
    }
    return std::nullopt;
}

PoseEstimate toEstimate(const SettledPose& settled) {
    PoseEstimate estimate;
    estimate.pose = settled.fit.pose;
    estimate.markerIndices = settled.numbers;
    estimate.numberedRays = settled.numbered;
    estimate.supportingRays = settled.numbered;
    estimate.rmsAngle = settled.fit.rmsAngle;
    estimate.maxAngle = settled.fit.maxAngle;
    std::copy(std::begin(settled.fit.covariance), std::end(settled.fit.covariance), std::begin(estimate.covariance));
    return estimate;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
