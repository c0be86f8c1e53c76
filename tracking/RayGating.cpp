#include "tracking/RayGating.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "environment/Environment.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

/// Chi-square with two degrees of freedom at 99.9 % and 99.99 %.
constexpr double acceptGate = 13.82;
constexpr double ambiguityGate = 18.42;
/// Candidates are searched within the ambiguity gate around the hit, which must stay within four of
/// the smallest marker spacings.
constexpr double maxGateSpacings = 4.0;
constexpr double quarterSpacing = 0.25;
/// Gates wider than two spacings are searched only for rays whose noise (two standard deviations)
/// stays within half a spacing on the marker plane.
constexpr double narrowSpacings = 2.0, noiseSigmas = 2.0, halfSpacing = 0.5;

struct Claim {
    double distance = std::numeric_limits<double>::infinity();
    std::size_t ray = 0;
};

/// S = H P H^T + s2 I of a residual (2 x 2).
void innovationCovariance(const RayResidual& residual, const PoseCovariance& pose, double variance, double (&s)[2][2]) {
    double hp[2][6] = {};
    for (std::size_t k = 0; k < 2; ++k)
        for (std::size_t j = 0; j < 6; ++j)
            for (std::size_t i = 0; i < 6; ++i) hp[k][j] += residual.jacobian[k][i] * pose(i, j);
    for (std::size_t a = 0; a < 2; ++a)
        for (std::size_t b = 0; b < 2; ++b) {
            s[a][b] = a == b ? variance : 0.0;
            for (std::size_t j = 0; j < 6; ++j) s[a][b] += hp[a][j] * residual.jacobian[b][j];
        }
}

/// d^2 of residual r under S.
double innovationDistance(const RayResidual& residual, const PoseCovariance& pose, double variance) {
    double s[2][2];
    innovationCovariance(residual, pose, variance, s);
    const double det = s[0][0] * s[1][1] - s[0][1] * s[1][0];
    if (!(det > 0)) return std::numeric_limits<double>::infinity();
    const double r0 = residual.residual[0], r1 = residual.residual[1];
    return (s[1][1] * r0 * r0 - (s[0][1] + s[1][0]) * r0 * r1 + s[0][0] * r1 * r1) / det;
}

/// The largest eigenvalue of S for the ray's own predicted direction: the angular size of its gate.
double gateVariance(const Vector3d& position, const Matrix3d& rotation, const TrackerRay& ray, const PoseCovariance& pose,
                    double variance, const Vector3d& hit) {
    const std::optional<RayResidual> residual = rayResidual(position, rotation, ray, hit);
    if (!residual) return std::numeric_limits<double>::infinity();
    double s[2][2];
    innovationCovariance(*residual, pose, variance, s);
    const double mean = 0.5 * (s[0][0] + s[1][1]);
    const double half = 0.5 * (s[0][0] - s[1][1]);
    return mean + std::sqrt(half * half + s[0][1] * s[0][1]);
}


/// Where the ray cast from the state meets the marker plane, as (x, z), and how far it travels.
bool planeHit(const Environment& environment, const Vector3d& position, const Matrix3d& rotation,
              const TrackerRay& ray, LumetraMath::vector<float, 2>& hit, double& travel) {
    const Vector3d origin = position + rotation * ray.origin;
    const Vector3d direction = rotation * ray.direction;
    const double lambda = (environment.getMarkersHeight() - origin.y) / direction.y;
    if (!(lambda > 0) || !std::isfinite(lambda)) return false;
    hit = {static_cast<float>(origin.x + lambda * direction.x), static_cast<float>(origin.z + lambda * direction.z)};
    travel = lambda;
    return true;
}

/// How far from the hit the ray's angular gate reaches on the marker plane: the ray turned by the
/// gate's angle towards and away from the horizon is cast exactly (a grazing ray's gate reaches much
/// further beyond its hit than short of it); sideways the gate spans the angle at the hit's distance.
/// Infinite when a turned ray misses the plane.
double gateReach(double markersHeight, const Vector3d& origin, const Vector3d& direction,
                 const LumetraMath::vector<float, 2>& hit, double travel, double angle) {
    const double infinity = std::numeric_limits<double>::infinity();
    if (!(angle < 1.5)) return infinity;
    double reach = angle * travel;
    const Vector3d across = LumetraMath::cross(direction, Vector3d{0, 1, 0});
    const double acrossLength = LumetraMath::length(across);
    if (acrossLength < 1e-9) return reach;  // straight at the plane: the gate is a circle
    const Vector3d upwards = LumetraMath::cross(across / acrossLength, direction);
    for (const double sign : {-1.0, 1.0}) {
        const Vector3d turned = direction * std::cos(angle) + upwards * (sign * std::sin(angle));
        const double lambda = (markersHeight - origin.y) / turned.y;
        if (!(lambda > 0) || !std::isfinite(lambda)) return infinity;
        reach = std::max(reach, std::hypot(origin.x + lambda * turned.x - hit.x, origin.z + lambda * turned.z - hit.y));
    }
    return reach;
}

/// A ray cast from the prediction: where it meets the marker plane, and the radius there of its
/// 99.99 % gate.
struct CastGate {
    LumetraMath::vector<float, 2> hit;
    double radius = 0;
};

std::optional<CastGate> castGate(const Environment& environment, const Vector3d& position, const Matrix3d& rotation,
                                 const TrackerRay& ray, const PoseCovariance& pose, double variance) {
    CastGate gate;
    double travel = 0;
    if (!ray.usable || !planeHit(environment, position, rotation, ray, gate.hit, travel)) return std::nullopt;
    const double height = environment.getMarkersHeight();
    const Vector3d origin = position + rotation * ray.origin, direction = rotation * ray.direction;
    const Vector3d hit3{gate.hit.x, height, gate.hit.y};
    const double angle = std::sqrt(ambiguityGate * gateVariance(position, rotation, ray, pose, variance, hit3));
    gate.radius = gateReach(height, origin, direction, gate.hit, travel, angle);
    // A gate beyond two spacings is searched only when the prediction's uncertainty widens it: a ray
    // so grazing that its own noise carries it beyond half a spacing cannot tell its marker from a
    // stray passing nearby until a fused pose narrows its gate.
    const double spacing = environment.getMinMarkerDistance();
    if (gate.radius > narrowSpacings * spacing &&
        gateReach(height, origin, direction, gate.hit, travel, noiseSigmas * std::sqrt(variance)) > halfSpacing * spacing)
        gate.radius = std::numeric_limits<double>::infinity();
    return gate;
}

}  // namespace

Vector3d markerPosition(const Environment& environment, MarkerIndex number) {
    const auto& m = environment.getMarkersSearch().getPoints()[number];
    return {m.x, environment.getMarkersHeight(), m.y};
}

std::vector<MarkerIndex> numberByGates(const Environment& environment, const FilterState& predicted,
                                       const std::vector<TrackerRay>& rays, double rayNoise, GateCounts* counts) {
    GateCounts local;
    GateCounts& count = counts != nullptr ? *counts : local;
    count = {};
    const double variance = rayNoise * rayNoise;
    const Matrix3d rotation = LumetraMath::toRotationMatrix(predicted.rotation);
    const PoseCovariance pose = poseBlock(predicted.covariance);
    const double spacing = environment.getMinMarkerDistance();

    std::vector<MarkerIndex> numbers(rays.size(), MarkerNotFound);
    std::vector<Claim> claims(environment.getMarkersSearch().getPoints().size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        const TrackerRay& ray = rays[i];
        const std::optional<CastGate> gate = castGate(environment, predicted.position, rotation, ray, pose, variance);
        if (!gate) continue;
        // Beyond that the search could miss a plausible marker and take its neighbour for the only
        // one: such a ray is not numbered from the prediction.
        if (gate->radius > maxGateSpacings * spacing) {
            ++count.undecided;
            continue;
        }
        ++count.judged;
        double best = std::numeric_limits<double>::infinity(), second = best;
        MarkerIndex bestNumber = MarkerNotFound;
        for (const int candidate : environment.getMarkersSearch().getPointsInCircle(gate->hit, static_cast<float>(gate->radius))) {
            const auto number = static_cast<MarkerIndex>(candidate);
            const std::optional<RayResidual> residual =
                rayResidual(predicted.position, rotation, ray, markerPosition(environment, number));
            if (!residual) continue;
            const double d2 = innovationDistance(*residual, pose, variance);
            if (d2 < best) {
                second = best;
                best = d2;
                bestNumber = number;
            } else {
                second = std::min(second, d2);
            }
        }
        if (best <= acceptGate && second <= ambiguityGate) ++count.undecided;
        if (best > acceptGate || second <= ambiguityGate) continue;
        Claim& claim = claims[bestNumber];
        if (best >= claim.distance) continue;
        if (std::isfinite(claim.distance)) numbers[claim.ray] = MarkerNotFound;
        claim = {best, i};
        numbers[i] = bestNumber;
    }
    return numbers;
}

std::vector<GateCandidates> narrowestGates(const Environment& environment, const FilterState& predicted,
                                           const std::vector<TrackerRay>& rays, double rayNoise, double maxSpacings,
                                           std::size_t count) {
    const double variance = rayNoise * rayNoise;
    const Matrix3d rotation = LumetraMath::toRotationMatrix(predicted.rotation);
    const PoseCovariance pose = poseBlock(predicted.covariance);
    const double widest = maxSpacings * environment.getMinMarkerDistance();
    std::vector<std::pair<double, std::size_t>> narrow;  // (radius, ray)
    std::vector<CastGate> gates(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (const std::optional<CastGate> gate =
                castGate(environment, predicted.position, rotation, rays[i], pose, variance);
            gate && gate->radius <= widest) {
            gates[i] = *gate;
            narrow.emplace_back(gate->radius, i);
        }
    std::sort(narrow.begin(), narrow.end());
    std::vector<GateCandidates> result;
    for (const auto& [radius, i] : narrow) {
        if (result.size() == count) break;
        GateCandidates anchor{i, {}};
        for (const int candidate :
             environment.getMarkersSearch().getPointsInCircle(gates[i].hit, static_cast<float>(radius))) {
            const auto number = static_cast<MarkerIndex>(candidate);
            const std::optional<RayResidual> residual =
                rayResidual(predicted.position, rotation, rays[i], markerPosition(environment, number));
            if (!residual) continue;
            const double d2 = innovationDistance(*residual, pose, variance);
            if (d2 <= ambiguityGate) anchor.markers.emplace_back(d2, number);
        }
        std::sort(anchor.markers.begin(), anchor.markers.end());
        // A ray near no marker (a stray, most likely) anchors nothing.
        if (!anchor.markers.empty()) result.push_back(std::move(anchor));
    }
    return result;
}

std::size_t regate(const Environment& environment, const FilterState& fused, const std::vector<TrackerRay>& rays,
                   double rayNoise, std::vector<MarkerIndex>& numbers) {
    const double variance = rayNoise * rayNoise;
    const Matrix3d rotation = LumetraMath::toRotationMatrix(fused.rotation);
    const double bound = quarterSpacing * environment.getMinMarkerDistance();
    std::size_t dropped = 0;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        if (numbers[i] == MarkerNotFound) continue;
        const Vector3d marker = markerPosition(environment, numbers[i]);
        const std::optional<RayResidual> residual = rayResidual(fused.position, rotation, rays[i], marker);
        LumetraMath::vector<float, 2> hit;
        double travel = 0;
        bool upheld = residual.has_value() &&
                      planeHit(environment, fused.position, rotation, rays[i], hit, travel);
        if (upheld) {
            const double r2 = residual->residual[0] * residual->residual[0] + residual->residual[1] * residual->residual[1];
            const double miss = std::hypot(hit.x - marker.x, hit.y - marker.z);
            upheld = r2 <= acceptGate * variance && miss <= bound;
        }
        if (!upheld) {
            numbers[i] = MarkerNotFound;
            ++dropped;
        }
    }
    return dropped;
}

std::vector<Correspondence> correspondencesOf(const Environment& environment, const std::vector<TrackerRay>& rays,
                                              const std::vector<MarkerIndex>& numbers) {
    std::vector<Correspondence> result;
    result.reserve(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (numbers[i] != MarkerNotFound) result.push_back({&rays[i], markerPosition(environment, numbers[i])});
    return result;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
