#include "matching/PoseSettling.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
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
/// The gate of the pose fitted without a ray: where it would carry the ray on the marker plane,
/// in shares of the smallest marker spacing. A stray ray near a marker pulls the fit that includes
/// it towards itself; the fit of the others does not.
constexpr double leaveOneOutGate = 0.25;
/// And the ray's leave-one-out residual against the noise model: its squared norm over the
/// residual variance (chi-squared of two degrees of freedom for a right number) at most this,
/// four standard deviations.
constexpr double leaveOneOutSigmas = 4.0;
/// A fit whose residual spread exceeds the prior ray noise this many times is no view of the
/// place, however many rays it explains: a wrong numbering explains rays only coarsely.
constexpr double spreadLimit = 4.0;
/// A pose is refused when its position's standard deviation under the noise model (the root of
/// the position trace of the inverse normal matrix times the residual variance, as the gates
/// judge by) exceeds this share of the smallest marker spacing: too few or too ill-placed rays to
/// tell markers apart by.
constexpr double positionSigmaShare = 0.5;
/// Refits while gating one fit before the hypothesis is given up.
constexpr int maxGatedRounds = 8;
/// A ray whose excess over the gates (the larger of its squared statistic over the limit and its
/// plane miss over the gate) exceeds this is gated out at once, beside the worst.
constexpr double clearExcess = 4.0;
constexpr int maxRounds = 5;
/// A ray is numbered only when the residual bound is within this many times the angle its gate
/// subtends: the neighbouring markers lie five gates away, so a ray within the bound still lands
/// three gates clear of them.
constexpr float separableShare = 2.0f;
/// Up to this many rays, claims on one marker are settled pair by pair rather than by sorting.
constexpr std::size_t fewRays = 48;

Vector3 markerPosition(const Environment& environment, MarkerIndex marker) {
    const Vector2& p = environment.getMarkersSearch().getPoints()[marker];
    return {p.x, environment.getMarkersHeight(), p.y};
}

std::size_t countNumbered(const std::vector<MarkerIndex>& numbers, std::size_t markerCount) {
    return static_cast<std::size_t>(
        std::count_if(numbers.begin(), numbers.end(), [&](MarkerIndex n) { return n < markerCount; }));
}

/// Fits the numbered rays from `start` and gates them by their leave-one-out residuals, the worst
/// first (with every ray far beyond the gates), refitting after each round (the numbers taken out
/// go to `judgedOut`), until every ray passes; `checks` then hold the returned fit's leave-one-out
/// checks. Nothing when a fit fails or fewer than `minimumSupport` rays stay.
std::optional<RefinedPose> fitAndGate(const Environment& environment, const std::vector<Vector3>& rays,
                                      std::vector<MarkerIndex>& numbers, std::vector<MarkerIndex>& judgedOut,
                                      const Pose& start, std::size_t minimumSupport, std::vector<LeaveOneOut>& checks) {
    const std::size_t markerCount = environment.getMarkersSearch().getPoints().size();
    const double planeLimit = leaveOneOutGate * environment.getMinMarkerDistance();
    Pose from = start;
    for (int gated = 0;; ++gated) {
        if (countNumbered(numbers, markerCount) < minimumSupport) return std::nullopt;
        const std::optional<RefinedPose> fit = fitNumbered(environment, rays, numbers, from, &checks);
        if (!fit) return std::nullopt;
        double worst = 1;
        std::size_t worstRay = rays.size();
        const double limit = leaveOneOutSigmas * leaveOneOutSigmas * fit->residualVariance;
        const auto excessOf = [&](std::size_t i) {
            return std::max(checks[i].squaredNorm / limit, checks[i].planeMiss / planeLimit);
        };
        for (std::size_t i = 0; i < rays.size(); ++i) {
            if (numbers[i] >= markerCount || !isUsableRay(rays[i])) continue;
            const double excess = excessOf(i);
            if (!(excess <= worst)) {
                worst = excess;
                worstRay = i;
            }
        }
        if (worstRay == rays.size()) return fit;
        if (gated == maxGatedRounds) return std::nullopt;
        // The worst goes, and with it every ray far beyond the bounds, which no other ray's pull
        // can explain: a frame of many strays costs a few refits, not one each.
        for (std::size_t i = 0; i < rays.size(); ++i) {
            if (numbers[i] >= markerCount || !isUsableRay(rays[i])) continue;
            if (i == worstRay || !(excessOf(i) <= clearExcess)) {
                judgedOut[i] = numbers[i];
                numbers[i] = MarkerNotFound;
            }
        }
        from = fit->pose;
    }
}

/// Whether the fit is sound enough to report: the tracker on the side of the marker plane the
/// markers face (beyond it, a mirror-like pose can fit a distant, nearly parallel view at noise
/// level), its spread within the noise model and its position fixed well within the marker spacing.
bool isWellFounded(const Environment& environment, const RefinedPose& fit) {
    const Vector3 toPlane{0.0f, environment.getMarkersHeight() - fit.pose.position.y, 0.0f};
    if (!environment.filterRay(toPlane, Vector3{0.0f, 1.0f, 0.0f})) return false;
    const double spread = spreadLimit * rayNoisePrior;
    const double positionVariance = fit.residualVariance * (fit.inverseNormal[upperTriangleIndex(0, 0)] +
                                                            fit.inverseNormal[upperTriangleIndex(1, 1)] +
                                                            fit.inverseNormal[upperTriangleIndex(2, 2)]);
    const double sigmaLimit = positionSigmaShare * environment.getMinMarkerDistance();
    return fit.residualVariance <= spread * spread && positionVariance <= sigmaLimit * sigmaLimit;
}

/// Whether a ray numbered `number` lies where the fit's residual bound (`bound`, radians) moves its
/// hit on the marker plane by no more than `reach`: measured across the ray's line of sight, the
/// foreshortened way, as settling decides which rays it may number.
bool boundWithin(const Environment& environment, const Pose& pose, MarkerIndex number, double bound, float reach) {
    const Vector3 toMarker = markerPosition(environment, number) - pose.position;
    const float range = LumetraMath::length(toMarker);
    return bound * range <= reach * std::fabs(toMarker.y) / range;
}

/// The gates cut the tail of a right ray's noise where four standard deviations of it carry the
/// hit beyond the numbering radius (far out on a wide view), so the spread of the rays a fit rests
/// on reads low there. The covariance is widened, where that gives more, to the spread of the rays
/// the gates cannot cut: their leave-one-out residuals, each the noise variance times a chi-squared
/// of two degrees of freedom whatever the ray's share of the fit, summed over 2k components and
/// taken over 2k - 2 (the Student factor of that estimate), from `uncutRays` such rays up. A fit
/// none of whose rays the gates could cut keeps its covariance.
void widenToUncutSpread(const Environment& environment, const std::vector<Vector3>& rays,
                        const std::vector<MarkerIndex>& numbers, const std::vector<LeaveOneOut>& checks,
                        RefinedPose& fit) {
    constexpr std::size_t uncutRays = 5;
    const std::size_t markerCount = environment.getMarkersSearch().getPoints().size();
    const double bound = leaveOneOutSigmas * std::sqrt(fit.residualVariance);
    const float radius = planeGate * environment.getMinMarkerDistance();
    double sum = 0;
    std::size_t count = 0, cut = 0;
    for (std::size_t i = 0; i < rays.size() && i < checks.size(); ++i) {
        if (numbers[i] >= markerCount || !isUsableRay(rays[i])) continue;
        if (!boundWithin(environment, fit.pose, numbers[i], bound, radius)) {
            ++cut;
            continue;
        }
        sum += checks[i].squaredNorm;
        ++count;
    }
    if (cut == 0 || count < uncutRays) return;
    const double uncut = sum / (2.0 * static_cast<double>(count) - 2.0);
    const double reported = fit.covariance[0] / fit.inverseNormal[0];  // the variance refinement scaled by
    if (!(uncut > reported) || !std::isfinite(uncut)) return;
    for (double& c : fit.covariance) c *= uncut / reported;
}

}  // namespace

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
        search.forEachPointInCircle(*hit, radius, [&](int candidate) {
            const Vector2 miss = *hit - markers[static_cast<std::size_t>(candidate)];
            const float squared = LumetraMath::dot(miss, miss);
            if (squared <= best) {
                best = squared;
                numbers[i] = static_cast<MarkerIndex>(candidate);
                misses[i] = squared;
            }
        });
    }
    // One marker, one ray: the nearer claim wins (the earlier ray on a tie).
    if (rays.size() <= fewRays) {
        // Pair by pair: each loser drops out, so the winner meets every other claim in the end.
        for (std::size_t i = 0; i < rays.size(); ++i) {
            const MarkerIndex number = numbers[i];
            if (number == MarkerNotFound) continue;
            for (std::size_t j = i + 1; j < rays.size(); ++j) {
                if (numbers[j] != number) continue;
                if (misses[j] < misses[i]) {
                    numbers[i] = MarkerNotFound;
                    break;
                }
                numbers[j] = MarkerNotFound;
            }
        }
        return numbers;
    }
    // Claims sorted by marker, then ray (number and ray packed in one key): in each marker's run the
    // first of the smallest misses wins.
    std::vector<std::uint64_t> claims;
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (numbers[i] != MarkerNotFound) claims.push_back(std::uint64_t{numbers[i]} << 32 | i);
    std::sort(claims.begin(), claims.end());
    for (std::size_t k = 0; k < claims.size();) {
        const auto number = static_cast<MarkerIndex>(claims[k] >> 32);
        std::size_t winner = claims[k] & 0xffffffffu, j = k + 1;
        for (; j < claims.size() && static_cast<MarkerIndex>(claims[j] >> 32) == number; ++j) {
            const std::size_t ray = claims[j] & 0xffffffffu;
            if (misses[ray] < misses[winner]) {
                numbers[winner] = MarkerNotFound;
                winner = ray;
            } else {
                numbers[ray] = MarkerNotFound;
            }
        }
        k = j;
    }
    return numbers;
}

std::optional<RefinedPose> fitNumbered(const Environment& environment, const std::vector<Vector3>& rays,
                                       const std::vector<MarkerIndex>& numbers, const Pose& start,
                                       std::vector<LeaveOneOut>* checks) {
    const std::size_t markerCount = environment.getMarkersSearch().getPoints().size();
    std::vector<Vector3> usedRays, usedMarkers;
    std::vector<std::size_t> used;
    usedRays.reserve(rays.size());
    usedMarkers.reserve(rays.size());
    used.reserve(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (numbers[i] < markerCount && isUsableRay(rays[i])) {
            usedRays.push_back(rays[i]);
            usedMarkers.push_back(markerPosition(environment, numbers[i]));
            used.push_back(i);
        }
    if (usedRays.size() < 3) return std::nullopt;
    std::vector<LeaveOneOut> usedChecks(checks != nullptr ? used.size() : 0);
    std::optional<RefinedPose> fit =
        checks != nullptr ? refinePoseAndCheckRays(usedRays, usedMarkers, start, usedChecks)
                          : HorizontalGrid::refinePose(usedRays, usedMarkers, start);
    if (!fit || !isFinitePose(fit->pose)) return std::nullopt;
    if (checks != nullptr) {
        checks->assign(rays.size(), LeaveOneOut{});
        for (std::size_t k = 0; k < used.size(); ++k) (*checks)[used[k]] = usedChecks[k];
    }
    return fit;
}

std::optional<SettledPose> settlePose(const Environment& environment, const std::vector<Vector3>& rays,
                                      std::vector<MarkerIndex> numbers, const Pose& start,
                                      std::uint32_t minimumSupport) {
    const std::size_t markerCount = environment.getMarkersSearch().getPoints().size();
    const std::size_t support = std::max<std::size_t>(minimumSupport, 3);
    const float gate = planeGate * environment.getMinMarkerDistance();
    Pose from = start;
    std::vector<MarkerIndex> judgedOut(rays.size(), MarkerNotFound);
    std::vector<LeaveOneOut> checks;
    // The settled fit, gated already: it rests on rays each of which the others confirm.
    const auto settled = [&](std::optional<RefinedPose> fit,
                             std::vector<MarkerIndex>& kept) -> std::optional<SettledPose> {
        if (!fit || !isWellFounded(environment, *fit)) return std::nullopt;
        widenToUncutSpread(environment, rays, kept, checks, *fit);
        const auto numbered = static_cast<std::uint32_t>(countNumbered(kept, markerCount));
        return SettledPose{*fit, std::move(kept), numbered};
    };
    for (int round = 0; round < maxRounds; ++round) {
        // Every ray the fit rests on must be confirmed by the others (numbers judged out stay out).
        const std::optional<RefinedPose> fit = fitAndGate(environment, rays, numbers, judgedOut, from, support, checks);
        if (!fit) return std::nullopt;

        // Number every ray afresh from the gated fit. A ray new to its number is only held to the
        // plane gate: it joins the next fit and is judged there. A ray is numbered only where the
        // fit's noise tells markers apart: its residual bound must stay within twice the angle the
        // gate subtends at the marker (smallest across the ray's line of sight, so foreshortened far
        // markers need a tight fit). A fit whose spread reaches the gates everywhere, as a wrong
        // numbering's does, numbers nothing and fails.
        const double bound = leaveOneOutSigmas * std::sqrt(fit->residualVariance);
        std::vector<MarkerIndex> renumbered = numberFromPose(environment, rays, fit->pose, gate);
        for (std::size_t i = 0; i < rays.size(); ++i) {
            if (renumbered[i] >= markerCount) continue;
            if (renumbered[i] == judgedOut[i] ||
                !boundWithin(environment, fit->pose, renumbered[i], bound, separableShare * gate))
                renumbered[i] = MarkerNotFound;
        }
        if (renumbered == numbers) return settled(fit, numbers);
        if (round + 1 == maxRounds) {
            // Still moving: keep the rays both numberings agree on and fit them once more.
            for (std::size_t i = 0; i < rays.size(); ++i)
                if (renumbered[i] != numbers[i]) renumbered[i] = MarkerNotFound;
            return settled(fitAndGate(environment, rays, renumbered, judgedOut, fit->pose, support, checks),
                           renumbered);
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
