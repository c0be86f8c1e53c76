#include "tracking/RayFusion.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "matching/PoseRefinement.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using ErrorBlock::size;

Vector3d toDouble(const LumetraMath::vector<float, 3>& v) { return {v.x, v.y, v.z}; }

/// Two unit axes square to unit `d` and to each other.
void axesAround(const Vector3d& d, Vector3d (&axes)[2]) {
    const Vector3d helper = std::fabs(d.x) < 0.6 ? Vector3d{1, 0, 0} : Vector3d{0, 1, 0};
    const Vector3d first = LumetraMath::cross(d, helper);
    axes[0] = first / LumetraMath::length(first);
    axes[1] = LumetraMath::cross(d, axes[0]);
}

/// Adds the rays' normal matrix and gradient at (position, rotation): N += H^T H / s2,
/// b += H^T (r + H offset) / s2, where `offset` is where the linearisation point lies from the
/// prior (zero for the frame's own fit).
bool accumulate(const Vector3d& position, const Quaterniond& rotation, std::span<const Correspondence> rays,
                double variance, const double (&offset)[6], Symmetric<6>& normal, double (&gradient)[6]) {
    const Matrix3d r = LumetraMath::toRotationMatrix(rotation);
    for (const Correspondence& c : rays) {
        const std::optional<RayResidual> residual = rayResidual(position, r, *c.ray, c.marker);
        if (!residual) return false;
        for (std::size_t k = 0; k < 2; ++k) {
            const double* h = residual->jacobian[k];
            double target = residual->residual[k];
            for (std::size_t j = 0; j < 6; ++j) target += h[j] * offset[j];
            for (std::size_t i = 0; i < 6; ++i) {
                gradient[i] += h[i] * target / variance;
                for (std::size_t j = 0; j < 6; ++j) normal(i, j) += h[i] * h[j] / variance;
            }
        }
    }
    return true;
}

void toUpperTriangle(const Symmetric<6>& m, double (&out)[21]) {
    for (std::size_t r = 0; r < 6; ++r)
        for (std::size_t c = r; c < 6; ++c) out[upperTriangleIndex(r, c)] = m(r, c);
}

}  // namespace

std::vector<TrackerRay> toTrackerRays(std::span<const LumetraMath::vector<float, 3>> cameraRays,
                                      const CameraMount& camera) {
    std::vector<TrackerRay> rays(cameraRays.size());
    for (std::size_t i = 0; i < cameraRays.size(); ++i) {
        TrackerRay& ray = rays[i];
        ray.origin = camera.centre;
        const Vector3d d = toDouble(cameraRays[i]);
        const double n = LumetraMath::length(d);
        if (!std::isfinite(n) || n == 0.0) continue;
        ray.direction = LumetraMath::mul(camera.rotation, d / n);
        ray.usable = true;
        axesAround(ray.direction, ray.axes);
    }
    return rays;
}

std::optional<RayResidual> rayResidual(const Vector3d& position, const Matrix3d& rotation, const TrackerRay& ray,
                                       const Vector3d& marker) {
    const Vector3d fromTracker = marker - position;
    const Vector3d world = fromTracker - rotation * ray.origin;
    const Vector3d s = LumetraMath::transpose(rotation) * world;
    const double range = LumetraMath::length(s);
    if (!(range > 0)) return std::nullopt;
    const Vector3d u = s / range;
    if (LumetraMath::dot(u, ray.direction) <= 0) return std::nullopt;
    RayResidual out;
    out.range = range;
    for (std::size_t k = 0; k < 2; ++k) {
        const Vector3d& e = ray.axes[k];
        const double h = LumetraMath::dot(e, u);
        out.residual[k] = -h;
        const Vector3d a = (e - u * h) / range;
        const Vector3d worldA = rotation * a;
        const Vector3d turn = LumetraMath::cross(worldA, fromTracker);
        for (std::size_t j = 0; j < 3; ++j) {
            out.jacobian[k][j] = -worldA[j];
            out.jacobian[k][3 + j] = turn[j];
        }
    }
    return out;
}

double residualAngle(const RayResidual& residual) {
    return std::asin(std::min(1.0, std::hypot(residual.residual[0], residual.residual[1])));
}

PoseCovariance poseBlock(const Covariance15& covariance) {
    PoseCovariance block;
    for (std::size_t r = 0; r < 6; ++r)
        for (std::size_t c = 0; c < 6; ++c) block(r, c) = covariance(poseErrorIndex(r), poseErrorIndex(c));
    return block;
}

bool fuseRays(FilterState& state, std::span<const Correspondence> correspondences, double rayNoise,
              const double (*start)[6]) {
    const double variance = rayNoise * rayNoise;
    const PoseCovariance prior = poseBlock(state.covariance);
    const std::optional<PoseCovariance> priorInverse = inverseSymmetric(prior);
    if (!priorInverse) return false;

    double dpose[6] = {};
    if (start != nullptr) std::copy(std::begin(*start), std::end(*start), std::begin(dpose));
    Symmetric<6> information;
    for (int iteration = 0; iteration < 6; ++iteration) {
        const Vector3d position = state.position + Vector3d{dpose[0], dpose[1], dpose[2]};
        const Quaterniond rotation = normalized(rotationFromVector({dpose[3], dpose[4], dpose[5]}) * state.rotation);
        information = *priorInverse;
        double gradient[6] = {};
        if (!accumulate(position, rotation, correspondences, variance, dpose, information, gradient)) return false;
        const std::optional<Symmetric<6>> factor = choleskyFactor(information);
        if (!factor) return false;
        choleskySolveInPlace(*factor, gradient);
        double change = 0;
        for (std::size_t i = 0; i < 6; ++i) {
            change = std::max(change, std::fabs(gradient[i] - dpose[i]));
            dpose[i] = gradient[i];
        }
        if (change < 1e-7) break;
    }
    const std::optional<PoseCovariance> posterior = inverseSymmetric(information);
    if (!posterior) return false;

    // G = P[:, pose] Ppose^-1 (15 x 6).
    double g[size][6] = {};
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = 0; c < 6; ++c) {
            double sum = 0;
            for (std::size_t k = 0; k < 6; ++k) sum += state.covariance(r, poseErrorIndex(k)) * (*priorInverse)(k, c);
            g[r][c] = sum;
        }
    double delta[size] = {};
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = 0; c < 6; ++c) delta[r] += g[r][c] * dpose[c];
    // P <- P - G (Ppose - Lambda^-1) G^T.
    double shrink[6][6];
    for (std::size_t r = 0; r < 6; ++r)
        for (std::size_t c = 0; c < 6; ++c) shrink[r][c] = prior(r, c) - (*posterior)(r, c);
    double gs[size][6] = {};
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = 0; c < 6; ++c)
            for (std::size_t k = 0; k < 6; ++k) gs[r][c] += g[r][k] * shrink[k][c];
    FilterState updated = state;
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = r; c < size; ++c) {
            double sum = 0;
            for (std::size_t k = 0; k < 6; ++k) sum += gs[r][k] * g[c][k];
            updated.covariance(r, c) -= sum;
            updated.covariance(c, r) = updated.covariance(r, c);
        }
    injectError(updated, delta);
    if (!isFiniteState(updated)) return false;
    state = updated;
    return true;
}

std::array<double, 6> poseOffset(const FilterState& from, const FilterState& to) {
    const Vector3d dp = to.position - from.position;
    const Quaterniond dq = to.rotation * LumetraMath::conjugate(from.rotation);
    const double sign = dq.w < 0 ? -1.0 : 1.0;
    const double sine = std::sqrt(dq.x * dq.x + dq.y * dq.y + dq.z * dq.z);
    const double scale = sine > 0 ? sign * 2 * std::atan2(sine, sign * dq.w) / sine : 2.0;
    return {dp.x, dp.y, dp.z, dq.x * scale, dq.y * scale, dq.z * scale};
}

double fusionCost(const FilterState& prior, const FilterState& fused, std::span<const Correspondence> correspondences,
                  double rayNoise) {
    const std::optional<Symmetric<6>> factor = choleskyFactor(poseBlock(prior.covariance));
    if (!factor) return std::numeric_limits<double>::infinity();
    const std::array<double, 6> offset = poseOffset(prior, fused);
    double solved[6];
    std::copy(offset.begin(), offset.end(), std::begin(solved));
    choleskySolveInPlace(*factor, solved);
    double cost = 0;
    for (std::size_t i = 0; i < 6; ++i) cost += offset[i] * solved[i];
    const Matrix3d r = LumetraMath::toRotationMatrix(fused.rotation);
    const double variance = rayNoise * rayNoise;
    for (const Correspondence& c : correspondences) {
        const std::optional<RayResidual> residual = rayResidual(fused.position, r, *c.ray, c.marker);
        if (!residual) return std::numeric_limits<double>::infinity();
        cost += (residual->residual[0] * residual->residual[0] + residual->residual[1] * residual->residual[1]) / variance;
    }
    return cost;
}

FrameFit fitFrame(Vector3d position, Quaterniond rotation, std::span<const Correspondence> correspondences,
                  double rayNoise) {
    FrameFit fit;
    const double variance = rayNoise * rayNoise;
    const double none[6] = {};
    Symmetric<6> normal;
    // One Gauss-Newton step from the fused pose, which the frame's rays have already pulled close.
    double gradient[6] = {};
    if (accumulate(position, rotation, correspondences, variance, none, normal, gradient))
        if (const std::optional<Symmetric<6>> factor = choleskyFactor(normal)) {
            choleskySolveInPlace(*factor, gradient);
            position += Vector3d{gradient[0], gradient[1], gradient[2]};
            rotation = normalized(rotationFromVector({gradient[3], gradient[4], gradient[5]}) * rotation);
        }
    const Matrix3d r = LumetraMath::toRotationMatrix(rotation);
    double squares = 0;
    std::size_t count = 0;
    normal = {};
    for (const Correspondence& c : correspondences) {
        const std::optional<RayResidual> residual = rayResidual(position, r, *c.ray, c.marker);
        if (!residual) continue;
        const double angle = residualAngle(*residual);
        squares += angle * angle;
        fit.maxAngle = std::max(fit.maxAngle, angle);
        ++count;
        for (std::size_t k = 0; k < 2; ++k)
            for (std::size_t i = 0; i < 6; ++i)
                for (std::size_t j = 0; j < 6; ++j)
                    normal(i, j) += residual->jacobian[k][i] * residual->jacobian[k][j];
    }
    if (count == 0) return fit;
    fit.rmsAngle = std::sqrt(squares / static_cast<double>(count));
    const double spread = count > 3 ? squares / static_cast<double>(2 * count - 6) : 0.0;
    const std::optional<Symmetric<6>> inverse = inverseSymmetric(normal);
    if (!inverse) return fit;
    Symmetric<6> covariance = *inverse;
    for (double& value : covariance.m) value *= std::max(variance, spread);
    toUpperTriangle(covariance, fit.covariance);
    return fit;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
