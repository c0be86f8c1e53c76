#pragma once
// The tracker's estimate at one time: the nominal state and the covariance of its error state.
//
// Nominal state: position p and velocity v in the environment's frame, the rotation q that turns
// tracker-frame vectors into environment-frame vectors, a rate vector b and the accelerometer bias
// a (tracker frame). With inertial samples b is the gyro bias; under the motion model (no samples)
// it is the turn rate itself, so the same 15-element error state serves both.
//
// Error state, in this order: dp (world), dv (world), dtheta (a small world-frame rotation:
// q = Exp(dtheta) * q^), db, da. The pose block (dp, dtheta) is what PoseReport::covariance
// describes, so the covariance a host reads is a plain sub-block.

#include <cmath>
#include <cstddef>

#include "math/Matrix.h"
#include "math/Quaternion.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

using Vector3d = LumetraMath::vector<double, 3>;
using Matrix3d = LumetraMath::matrix<double, 3, 3>;
using Quaterniond = LumetraMath::quaternion<double>;

namespace ErrorBlock {
constexpr std::size_t position = 0, velocity = 3, rotation = 6, rate = 9, accelBias = 12;
constexpr std::size_t size = 15;
}  // namespace ErrorBlock

/// A symmetric 15 x 15 matrix, row by row.
struct Covariance15 {
    double m[ErrorBlock::size * ErrorBlock::size] = {};

    double& operator()(std::size_t r, std::size_t c) { return m[r * ErrorBlock::size + c]; }
    double operator()(std::size_t r, std::size_t c) const { return m[r * ErrorBlock::size + c]; }
};

struct FilterState {
    double time = 0;
    Vector3d position{}, velocity{};
    Quaterniond rotation{0, 0, 0, 1};
    Vector3d rate{};       ///< gyro bias with inertial samples, turn rate (tracker frame) without
    Vector3d accelBias{};  ///< zero and unused under the motion model
    Covariance15 covariance{};
};

/// The pose block's index in the error state for pose coordinate k = 0..5 (x, y, z, rx, ry, rz).
constexpr std::size_t poseErrorIndex(std::size_t k) { return k < 3 ? ErrorBlock::position + k : ErrorBlock::rotation + k - 3; }

/// Exp of a rotation vector as a unit quaternion. Below 0.05 rad (every inertial step) the series
/// to the fourth order, whose error stays below 1e-10, spares the sine and cosine.
inline Quaterniond rotationFromVector(const Vector3d& v) {
    const double squared = LumetraMath::dot(v, v);
    if (squared < 0.0025) {
        const double s = 0.5 - squared / 48.0 + squared * squared / 3840.0;
        return {v.x * s, v.y * s, v.z * s, 1.0 - squared / 8.0 + squared * squared / 384.0};
    }
    const double angle = std::sqrt(squared);
    const double s = std::sin(angle / 2) / angle;
    return {v.x * s, v.y * s, v.z * s, std::cos(angle / 2)};
}

inline Quaterniond normalized(const Quaterniond& q) {
    const double n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    return {q.x / n, q.y / n, q.z / n, q.w / n};
}

/// [v]x: the matrix that takes u to v x u.
inline Matrix3d skew(const Vector3d& v) { return {{0, -v.z, v.y, v.z, 0, -v.x, -v.y, v.x, 0}}; }

/// Whether every number of the state is finite.
bool isFiniteState(const FilterState& state);

/// Applies an error-state correction to the nominal state.
void injectError(FilterState& state, const double (&delta)[ErrorBlock::size]);

/// Mirrors the upper triangle into the lower one.
void symmetrize(Covariance15& covariance);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
