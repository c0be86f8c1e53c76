#include "simulation/PoseOracle.h"

#include <algorithm>
#include <cmath>

namespace Lumetra::Testing {
namespace {

using Quaternion = LumetraMath::quaternion<double>;

/// Lower-triangular L with L L^T = a; nothing when a is not positive definite.
std::optional<PoseMatrix> cholesky(const PoseMatrix& a) {
    PoseMatrix l{};
    for (int j = 0; j < 6; ++j) {
        double d = a[j][j];
        for (int k = 0; k < j; ++k) d -= l[j][k] * l[j][k];
        if (!(d > 0)) return std::nullopt;
        l[j][j] = std::sqrt(d);
        for (int i = j + 1; i < 6; ++i) {
            double s = a[i][j];
            for (int k = 0; k < j; ++k) s -= l[i][k] * l[j][k];
            l[i][j] = s / l[j][j];
        }
    }
    return l;
}

/// y with L y = b.
PoseVector forward(const PoseMatrix& l, const PoseVector& b) {
    PoseVector y{};
    for (int i = 0; i < 6; ++i) {
        double s = b[i];
        for (int k = 0; k < i; ++k) s -= l[i][k] * y[k];
        y[i] = s / l[i][i];
    }
    return y;
}

/// x with L L^T x = b.
PoseVector solve(const PoseMatrix& l, const PoseVector& b) {
    PoseVector x = forward(l, b);
    for (int i = 5; i >= 0; --i) {
        double s = x[i];
        for (int k = i + 1; k < 6; ++k) s -= l[k][i] * x[k];
        x[i] = s / l[i][i];
    }
    return x;
}

Quaternion exponential(const Point3d& r) {
    const double angle = LumetraMath::length(r);
    if (angle < 1e-12) return {0.5 * r.x, 0.5 * r.y, 0.5 * r.z, 1.0};
    const double s = std::sin(0.5 * angle) / angle;
    return {r.x * s, r.y * s, r.z * s, std::cos(0.5 * angle)};
}

Quaternion normalised(const Quaternion& q) {
    const double n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    return {q.x / n, q.y / n, q.z / n, q.w / n};
}

/// The two angle residuals of every ray are measured in a fixed frame around the ray: for the
/// predicted direction v (tracker frame) towards the marker, atan2(v . e_k, v . ray) for two unit
/// vectors e_1, e_2 perpendicular to the ray.
struct RayFrame {
    Point3d ray, e1, e2;
};

RayFrame rayFrame(const Point3d& ray) {
    const Point3d helper = std::abs(ray.x) < 0.9 ? Point3d{1, 0, 0} : Point3d{0, 1, 0};
    const Point3d e1 = LumetraMath::cross(ray, helper) / LumetraMath::length(LumetraMath::cross(ray, helper));
    return {ray, e1, LumetraMath::cross(ray, e1)};
}

struct Linearisation {
    double cost = 0;
    PoseMatrix normal{};  ///< J^T J
    PoseVector gradient{};  ///< J^T r
};

double cost(const std::vector<RayFrame>& frames, const std::vector<Point3d>& markers, const Point3d& position,
            const Quaternion& rotation) {
    double sum = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Point3d d = LumetraMath::mul(LumetraMath::conjugate(rotation), markers[i] - position);
        const double c = LumetraMath::dot(d, frames[i].ray);
        const double r1 = std::atan2(LumetraMath::dot(d, frames[i].e1), c);
        const double r2 = std::atan2(LumetraMath::dot(d, frames[i].e2), c);
        sum += r1 * r1 + r2 * r2;
    }
    return sum;
}

Linearisation linearise(const std::vector<RayFrame>& frames, const std::vector<Point3d>& markers,
                        const Point3d& position, const Quaternion& rotation) {
    Linearisation out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Point3d toMarker = markers[i] - position;
        const double range = LumetraMath::length(toMarker);
        const Point3d d = toMarker / range;
        // The ray's frame in the world: its residuals depend on d . f for these three vectors.
        const Point3d f0 = LumetraMath::mul(rotation, frames[i].ray);
        const Point3d f[2] = {LumetraMath::mul(rotation, frames[i].e1), LumetraMath::mul(rotation, frames[i].e2)};
        const double c = LumetraMath::dot(d, f0);
        // d(d . f)/dposition = -(f - d (d . f)) / range; d(d . f)/drotation = f x d.
        const auto derivative = [&](const Point3d& g, double along) {
            const Point3d p = (g - d * along) * (-1.0 / range);
            const Point3d r = LumetraMath::cross(g, d);
            return PoseVector{p.x, p.y, p.z, r.x, r.y, r.z};
        };
        const PoseVector dc = derivative(f0, c);
        for (const Point3d& g : f) {
            const double a = LumetraMath::dot(d, g);
            const double residual = std::atan2(a, c);
            const PoseVector da = derivative(g, a);
            const double scale = 1.0 / (a * a + c * c);
            PoseVector row;
            for (int j = 0; j < 6; ++j) row[j] = (c * da[j] - a * dc[j]) * scale;
            out.cost += residual * residual;
            for (int j = 0; j < 6; ++j) {
                out.gradient[j] += row[j] * residual;
                for (int k = 0; k < 6; ++k) out.normal[j][k] += row[j] * row[k];
            }
        }
    }
    return out;
}

/// The residuals are at right angles to every column of J, up to the rounding of the residuals.
bool stationary(const Linearisation& at) {
    for (int j = 0; j < 6; ++j)
        if (std::abs(at.gradient[j]) > std::sqrt(at.normal[j][j]) * (1e-6 * std::sqrt(at.cost) + 1e-13)) return false;
    return true;
}

}  // namespace

OracleFit fitOraclePose(const std::vector<Point3d>& rays, const std::vector<Point3d>& markers,
                        const Point3d& startPosition, const Quaternion& startRotation, double noise) {
    std::vector<RayFrame> frames;
    frames.reserve(rays.size());
    for (const Point3d& ray : rays) frames.push_back(rayFrame(ray / LumetraMath::length(ray)));

    OracleFit fit;
    fit.position = startPosition;
    fit.rotation = normalised(startRotation);
    if (rays.size() < 3 || rays.size() != markers.size()) return fit;

    Linearisation at = linearise(frames, markers, fit.position, fit.rotation);
    double damping = 1e-3;
    constexpr int maxIterations = 100;
    while (!stationary(at) && fit.iterations < maxIterations) {
        ++fit.iterations;
        PoseMatrix damped = at.normal;
        for (int j = 0; j < 6; ++j) damped[j][j] += damping * at.normal[j][j];
        const auto factor = cholesky(damped);
        if (!factor) break;
        PoseVector step = solve(*factor, at.gradient);
        const Point3d position = fit.position - Point3d{step[0], step[1], step[2]};
        const Quaternion rotation = normalised(exponential(Point3d{-step[3], -step[4], -step[5]}) * fit.rotation);
        if (cost(frames, markers, position, rotation) < at.cost) {
            fit.position = position;
            fit.rotation = rotation;
            at = linearise(frames, markers, fit.position, fit.rotation);
            damping = std::max(damping * 0.1, 1e-12);
        } else if ((damping *= 10) > 1e12) {
            break;
        }
    }
    fit.converged = stationary(at);
    fit.cost = at.cost;
    if (const auto factor = cholesky(at.normal)) {
        for (int j = 0; j < 6; ++j) {
            PoseVector unit{};
            unit[j] = 1;
            const PoseVector column = solve(*factor, unit);
            for (int i = 0; i < 6; ++i) fit.covariance[i][j] = noise * noise * column[i];
        }
    }
    return fit;
}

OracleFit fitOraclePose(const Frame& frame, const std::vector<Point3>& markers, const TrackerPose& truth, double noise) {
    std::vector<Point3d> rays, targets;
    for (std::size_t i = 0; i < frame.rays.size(); ++i) {
        if (frame.markerNumbers[i] == spuriousMarker) continue;
        rays.push_back(LumetraMath::vectorCast<double>(frame.rays[i]));
        targets.push_back(LumetraMath::vectorCast<double>(markers[frame.markerNumbers[i]]));
    }
    return fitOraclePose(rays, targets, truth.position, truth.rotation(), noise);
}

PoseVector poseError(const Point3d& position, const Quaternion& rotation, const Point3d& truePosition,
                     const Quaternion& trueRotation) {
    Quaternion d = rotation * LumetraMath::conjugate(trueRotation);
    if (d.w < 0) d = {-d.x, -d.y, -d.z, -d.w};
    const double sine = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    const double scale = sine > 1e-12 ? 2.0 * std::atan2(sine, d.w) / sine : 2.0;
    const Point3d p = position - truePosition;
    return {p.x, p.y, p.z, d.x * scale, d.y * scale, d.z * scale};
}

std::optional<double> normalisedError(const PoseMatrix& covariance, const PoseVector& error) {
    const auto factor = cholesky(covariance);
    if (!factor) return std::nullopt;
    const PoseVector y = forward(*factor, error);
    double sum = 0;
    for (const double v : y) sum += v * v;
    return sum;
}

PoseMatrix unpackCovariance(const float* upperTriangle) {
    PoseMatrix covariance{};
    for (std::size_t r = 0, index = 0; r < 6; ++r)
        for (std::size_t c = r; c < 6; ++c, ++index) covariance[r][c] = covariance[c][r] = upperTriangle[index];
    return covariance;
}

}  // namespace Lumetra::Testing
