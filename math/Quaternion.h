#pragma once
// Unit quaternions for rotations (Hamilton convention, stored x, y, z, w).

#include <cmath>

#include "math/Matrix.h"
#include "math/Vector.h"

namespace LumetraMath {

template <typename T>
struct quaternion {
    T x{}, y{}, z{}, w{1};

    static constexpr quaternion identity() { return {0, 0, 0, 1}; }
};

template <typename T>
constexpr bool operator==(const quaternion<T>& a, const quaternion<T>& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}

template <typename T>
constexpr quaternion<T> conjugate(const quaternion<T>& q) { return {-q.x, -q.y, -q.z, q.w}; }

/// Hamilton product: applied to a vector, a * b rotates by b first, then by a.
template <typename T>
constexpr quaternion<T> operator*(const quaternion<T>& a, const quaternion<T>& b) {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z,
            a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x,
            a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

/// v rotated by the unit quaternion q: the vector part of q * (v, 0) * conj(q).
template <typename T>
constexpr vector<T, 3> mul(const quaternion<T>& q, const vector<T, 3>& v) {
    const quaternion<T> p{q.w * v.x + q.y * v.z - q.z * v.y,
                          q.w * v.y + q.z * v.x - q.x * v.z,
                          q.w * v.z + q.x * v.y - q.y * v.x,
                          -(q.x * v.x + q.y * v.y + q.z * v.z)};
    const quaternion<T> r = p * conjugate(q);
    return {r.x, r.y, r.z};
}

namespace Details {
inline void sinCos(float angle, float& s, float& c) { ::sincosf(angle, &s, &c); }
inline void sinCos(double angle, double& s, double& c) { ::sincos(angle, &s, &c); }
}  // namespace Details

/// Rotation by `angle` radians about `axis`, which need not be of unit length.
template <typename T>
quaternion<T> quaternionFromAxisAngle(const vector<T, 3>& axis, T angle) {
    T s, c;
    Details::sinCos(angle / T(2), s, c);
    const T axisLength = length(axis);
    return {axis.x / axisLength * s, axis.y / axisLength * s, axis.z / axisLength * s, c};
}

/// Rotation matrix of a unit quaternion, for rotating many vectors by one rotation.
template <typename T>
constexpr matrix<T, 3, 3> toRotationMatrix(const quaternion<T>& q) {
    const T x = q.x, y = q.y, z = q.z, w = q.w;
    return {{T(1) - 2 * y * y - 2 * z * z, 2 * x * y - 2 * z * w, 2 * x * z + 2 * y * w,
             2 * x * y + 2 * z * w, T(1) - 2 * x * x - 2 * z * z, 2 * y * z - 2 * x * w,
             2 * x * z - 2 * y * w, 2 * y * z + 2 * x * w, T(1) - 2 * x * x - 2 * y * y}};
}

static_assert(sizeof(quaternion<float>) == 16);

}  // namespace LumetraMath
