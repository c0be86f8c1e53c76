// Gauss-Newton over position and a world-frame rotation increment, with a fixed-size 6 x 6 normal
// matrix and no allocation, so that a frame of a few dozen rays refines in a few microseconds.

#include "matching/PoseRefinement.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using V3 = LumetraMath::vector<double, 3>;
using Q = LumetraMath::quaternion<double>;
using M3 = LumetraMath::matrix<double, 3, 3>;

constexpr std::uint32_t maxIterations = 20;
constexpr int maxHalvings = 8;
/// A step smaller than this (radians, position scaled by the mean marker distance) is the last: it
/// is taken without another evaluation, and what it leaves is of the order of its square.
constexpr double convergedStep = 1e-6;
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

/// The residuals of one ray, taken along two unit axes square to the turned ray, and their
/// derivatives by (position, rotation vector). Which two axes does not change the squared sum (the
/// squared sine of the angle), so they are built from the turned ray at every pose and treated as
/// turning with the tracker for the derivative. False when the marker lies behind the ray.
struct RayResiduals {
    double residual[2];
    double jacobian[2][6];
};

bool rayResiduals(const LumetraMath::vector<float, 3>& ray, const LumetraMath::vector<float, 3>& marker,
                  const V3& position, const M3& rotation, RayResiduals& out) {
    V3 d = rotation * LumetraMath::vectorCast<double>(ray);
    d = d * (1.0 / LumetraMath::length(d));
    V3 first = std::fabs(d.x) < 0.6 ? V3{0, d.z, -d.y} : V3{-d.z, 0, d.x};  // d x (1,0,0) or d x (0,1,0)
    first = first * (1.0 / LumetraMath::length(first));
    const V3 axes[2] = {first, LumetraMath::cross(d, first)};
    const V3 toMarker = LumetraMath::vectorCast<double>(marker) - position;
    const double inverseDistance = 1.0 / LumetraMath::length(toMarker);
    const V3 u = toMarker * inverseDistance;
    if (!(LumetraMath::dot(d, u) > 0)) return false;
    for (std::size_t k = 0; k < 2; ++k) {
        const V3& e = axes[k];
        const double residual = LumetraMath::dot(e, u);
        // d(e.u)/dp = -(e - (e.u) u) / distance; d(e.u)/dθ = e x u (e turns with the tracker).
        const V3 dp = (e - u * residual) * -inverseDistance;
        const V3 dr = LumetraMath::cross(e, u);
        out.residual[k] = residual;
        const double j[6] = {dp.x, dp.y, dp.z, dr.x, dr.y, dr.z};
        for (std::size_t c = 0; c < 6; ++c) out.jacobian[k][c] = j[c];
    }
    return true;
}

Normals evaluate(std::span<const LumetraMath::vector<float, 3>> rays,
                 std::span<const LumetraMath::vector<float, 3>> markers, const V3& position, const M3& rotation) {
    Normals n;
    RayResiduals ray;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        if (!rayResiduals(rays[i], markers[i], position, rotation, ray)) return n;
        for (std::size_t k = 0; k < 2; ++k) {
            const double* j = ray.jacobian[k];
            for (std::size_t r = 0; r < 6; ++r) {
                n.b[r] += j[r] * ray.residual[k];
                for (std::size_t c = r; c < 6; ++c) n.a[r][c] += j[r] * j[c];
            }
        }
        const double sine2 = ray.residual[0] * ray.residual[0] + ray.residual[1] * ray.residual[1];
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

std::optional<RefinedPose> refine(std::span<const LumetraMath::vector<float, 3>> rays,
                                  std::span<const LumetraMath::vector<float, 3>> markers,
                                  const LumetraMath::poseP3Q<float>& start, std::uint32_t stepLimit,
                                  bool acceptUnsettled) {
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
        if (refined.iterations == stepLimit) {
            if (acceptUnsettled) break;
            return std::nullopt;
        }
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
        for (std::size_t r = 0; r <= c; ++r) {
            refined.inverseNormal[upperTriangleIndex(r, c)] = column[r];
            refined.covariance[upperTriangleIndex(r, c)] = column[r] * variance;
        }
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

}  // namespace

std::optional<RefinedPose> refinePose(std::span<const LumetraMath::vector<float, 3>> rays,
                                      std::span<const LumetraMath::vector<float, 3>> markers,
                                      const LumetraMath::poseP3Q<float>& start) {
    return refine(rays, markers, start, maxIterations, false);
}

std::optional<RefinedPose> refinePoseRoughly(std::span<const LumetraMath::vector<float, 3>> rays,
                                             std::span<const LumetraMath::vector<float, 3>> markers,
                                             const LumetraMath::poseP3Q<float>& start, std::uint32_t steps) {
    return refine(rays, markers, start, steps, true);
}

double leaveOneOutAngle(const RefinedPose& refined, const LumetraMath::vector<float, 3>& ray,
                        const LumetraMath::vector<float, 3>& marker) {
    const auto& q = refined.pose.rotation;
    const M3 rotation = LumetraMath::toRotationMatrix(Q{q.x, q.y, q.z, q.w});
    RayResiduals r;
    if (!rayResiduals(ray, marker, LumetraMath::vectorCast<double>(refined.pose.position), rotation, r))
        return std::numeric_limits<double>::infinity();
    // The ray's share of the fit: H = J C J^T with C the inverse normal matrix; the residual it
    // would leave unfitted is (I - H)^-1 r.
    double cj[6][2];
    for (std::size_t a = 0; a < 6; ++a)
        for (std::size_t k = 0; k < 2; ++k) {
            double sum = 0;
            for (std::size_t b = 0; b < 6; ++b) sum += refined.inverseNormal[upperTriangleIndex(a, b)] * r.jacobian[k][b];
            cj[a][k] = sum;
        }
    double h[2][2];
    for (std::size_t k = 0; k < 2; ++k)
        for (std::size_t l = 0; l < 2; ++l) {
            double sum = 0;
            for (std::size_t a = 0; a < 6; ++a) sum += r.jacobian[k][a] * cj[a][l];
            h[k][l] = sum;
        }
    const double m00 = 1 - h[0][0], m01 = -h[0][1], m10 = -h[1][0], m11 = 1 - h[1][1];
    const double determinant = m00 * m11 - m01 * m10;
    if (!(determinant > 1e-9)) return std::numeric_limits<double>::infinity();
    const double x = (m11 * r.residual[0] - m01 * r.residual[1]) / determinant;
    const double y = (m00 * r.residual[1] - m10 * r.residual[0]) / determinant;
    return std::hypot(x, y);
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
