// Gauss-Newton over position and a world-frame rotation increment, with a fixed-size 6 x 6 normal
// matrix and no allocation, so that a frame of a few dozen rays refines in a few microseconds.

#include "matching/PoseRefinement.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using V3 = LumetraMath::vector<double, 3>;
using Q = LumetraMath::quaternion<double>;
using M3 = LumetraMath::matrix<double, 3, 3>;

constexpr std::uint32_t maxIterations = 20;
constexpr int maxHalvings = 8;
/// A step smaller than this (radians, position scaled by the mean marker distance) has converged.
constexpr double convergedStep = 1e-9;
/// A pivot of the unit-diagonal normal matrix below this marks a direction the rays do not fix.
constexpr double rankPivotLimit = 1e-12;

/// Normal equations J^T J and J^T r of the tangent-plane residuals at one pose.
struct Normals {
    double a[6][6] = {};
    double b[6] = {};
    double cost = 0;  // sum of squared residuals: the squared sines of the ray angles
    double largestSine2 = 0;
    bool valid = false;  // every value finite and every marker in front of its ray
};

/// The residuals are taken along two unit axes square to each turned ray. Which two does not
/// change the squared sum (it is the squared sine of the angle), so they are built from the turned
/// ray at every pose and treated as turning with the tracker for the derivative.
Normals evaluate(std::span<const LumetraMath::vector<float, 3>> rays,
                 std::span<const LumetraMath::vector<float, 3>> markers, const V3& position, const M3& rotation) {
    Normals n;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        V3 d = rotation * LumetraMath::vectorCast<double>(rays[i]);
        d = d * (1.0 / LumetraMath::length(d));
        V3 first = std::fabs(d.x) < 0.6 ? V3{0, d.z, -d.y} : V3{-d.z, 0, d.x};  // d x (1,0,0) or d x (0,1,0)
        first = first * (1.0 / LumetraMath::length(first));
        const V3 axes[2] = {first, LumetraMath::cross(d, first)};
        const V3 toMarker = LumetraMath::vectorCast<double>(markers[i]) - position;
        const double inverseDistance = 1.0 / LumetraMath::length(toMarker);
        const V3 u = toMarker * inverseDistance;
        if (!(LumetraMath::dot(d, u) > 0)) return n;
        double sine2 = 0;
        for (const V3& e : axes) {
            const double residual = LumetraMath::dot(e, u);
            sine2 += residual * residual;
            // d(e.u)/dp = -(e - (e.u) u) / distance; d(e.u)/dθ = e x u (e turns with the tracker).
            const V3 dp = (e - u * residual) * -inverseDistance;
            const V3 dr = LumetraMath::cross(e, u);
            const double j[6] = {dp.x, dp.y, dp.z, dr.x, dr.y, dr.z};
            for (std::size_t r = 0; r < 6; ++r) {
                n.b[r] += j[r] * residual;
                for (std::size_t c = r; c < 6; ++c) n.a[r][c] += j[r] * j[c];
            }
        }
        n.cost += sine2;
        n.largestSine2 = std::max(n.largestSine2, sine2);
    }
    n.valid = std::isfinite(n.cost);
    return n;
}

/// Cholesky factor of the normal matrix scaled to a unit diagonal (scale[i] = 1 / sqrt(a_ii)), or
/// false when a scaled pivot falls below the rank limit or is not finite.
bool factorize(const Normals& n, double l[6][6], double scale[6]) {
    for (std::size_t i = 0; i < 6; ++i) {
        if (!(n.a[i][i] > 0) || !std::isfinite(n.a[i][i])) return false;
        scale[i] = 1.0 / std::sqrt(n.a[i][i]);
    }
    for (std::size_t i = 0; i < 6; ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
            double sum = n.a[j][i] * scale[i] * scale[j];
            for (std::size_t k = 0; k < j; ++k) sum -= l[i][k] * l[j][k];
            if (i == j) {
                if (!(sum > rankPivotLimit)) return false;
                l[i][i] = std::sqrt(sum);
            } else {
                l[i][j] = sum / l[j][j];
            }
        }
    }
    return true;
}

/// x with (D^-1 L L^T D^-1) x = b, where D = diag(1 / scale).
void solve(const double l[6][6], const double scale[6], const double b[6], double x[6]) {
    double y[6];
    for (std::size_t i = 0; i < 6; ++i) {
        double sum = b[i] * scale[i];
        for (std::size_t k = 0; k < i; ++k) sum -= l[i][k] * y[k];
        y[i] = sum / l[i][i];
    }
    for (std::size_t i = 6; i-- > 0;) {
        double sum = y[i];
        for (std::size_t k = i + 1; k < 6; ++k) sum -= l[k][i] * x[k];
        x[i] = sum / l[i][i];
    }
    for (std::size_t i = 0; i < 6; ++i) x[i] *= scale[i];
}

/// exp(d) * q for a small world-frame rotation vector d, renormalised.
Q turned(const Q& q, const V3& d) {
    const double angle = LumetraMath::length(d);
    Q e = Q::identity();
    if (angle > 0) {
        const double s = std::sin(angle / 2) / angle;
        e = {d.x * s, d.y * s, d.z * s, std::cos(angle / 2)};
    }
    Q r = e * q;
    const double norm = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z + r.w * r.w);
    return {r.x / norm, r.y / norm, r.z / norm, r.w / norm};
}

}  // namespace

std::optional<RefinedPose> refinePose(std::span<const LumetraMath::vector<float, 3>> rays,
                                      std::span<const LumetraMath::vector<float, 3>> markers,
                                      const LumetraMath::poseP3Q<float>& start) {
    if (rays.size() < 3 || rays.size() != markers.size()) return std::nullopt;

    V3 position = LumetraMath::vectorCast<double>(start.position);
    Q rotation{start.rotation.x, start.rotation.y, start.rotation.z, start.rotation.w};
    const double startNorm = std::sqrt(rotation.x * rotation.x + rotation.y * rotation.y +
                                       rotation.z * rotation.z + rotation.w * rotation.w);
    if (!(startNorm > 0) || !std::isfinite(startNorm)) return std::nullopt;
    rotation = {rotation.x / startNorm, rotation.y / startNorm, rotation.z / startNorm, rotation.w / startNorm};

    double meanDistance = 0;
    for (const auto& marker : markers)
        meanDistance += LumetraMath::length(LumetraMath::vectorCast<double>(marker) - position);
    meanDistance /= static_cast<double>(markers.size());
    if (!(meanDistance > 0) || !std::isfinite(meanDistance)) return std::nullopt;

    Normals current = evaluate(rays, markers, position, LumetraMath::toRotationMatrix(rotation));
    if (!current.valid) return std::nullopt;
    double l[6][6] = {}, scale[6];
    RefinedPose refined;
    bool converged = false;
    while (!converged) {
        if (!factorize(current, l, scale)) return std::nullopt;
        if (refined.iterations == maxIterations) return std::nullopt;
        ++refined.iterations;
        double step[6];
        solve(l, scale, current.b, step);
        V3 dp{-step[0], -step[1], -step[2]}, dr{-step[3], -step[4], -step[5]};
        const double size = std::max(LumetraMath::length(dp) / meanDistance, LumetraMath::length(dr));
        if (!std::isfinite(size)) return std::nullopt;
        if (size < convergedStep) {
            // Too small to change the sums: taken without another evaluation.
            position = position + dp;
            rotation = turned(rotation, dr);
            break;
        }
        bool lowered = false;
        for (int halving = 0; halving <= maxHalvings && !lowered; ++halving) {
            const V3 p = position + dp;
            const Q q = turned(rotation, dr);
            Normals next = evaluate(rays, markers, p, LumetraMath::toRotationMatrix(q));
            if (next.valid && next.cost <= current.cost) {
                position = p;
                rotation = q;
                current = next;
                lowered = true;
            }
            dp = dp * 0.5;
            dr = dr * 0.5;
        }
        // No shorter step lowers the sum either: the pose sits at the minimum to rounding.
        if (!lowered) converged = true;
    }
    if (!factorize(current, l, scale)) return std::nullopt;

    // Angles from their sines: below a degree they agree to a relative 5e-5.
    refined.rmsAngle = std::asin(std::min(1.0, std::sqrt(current.cost / static_cast<double>(rays.size()))));
    refined.maxAngle = std::asin(std::min(1.0, std::sqrt(current.largestSine2)));
    const double variance = current.cost / static_cast<double>(std::max<std::size_t>(2 * rays.size() - 6, 1));
    for (std::size_t c = 0; c < 6; ++c) {
        double unit[6] = {}, column[6];
        unit[c] = 1;
        solve(l, scale, unit, column);
        for (std::size_t r = 0; r <= c; ++r) refined.covariance[upperTriangleIndex(r, c)] = column[r] * variance;
    }
    refined.pose.position = LumetraMath::vectorCast<float>(position);
    refined.pose.rotation = {static_cast<float>(rotation.x), static_cast<float>(rotation.y),
                             static_cast<float>(rotation.z), static_cast<float>(rotation.w)};
    const auto& p = refined.pose;
    if (!std::isfinite(p.position.x) || !std::isfinite(p.position.y) || !std::isfinite(p.position.z) ||
        !std::isfinite(refined.rmsAngle) || !std::isfinite(refined.covariance[0]))
        return std::nullopt;
    return refined;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
