#pragma once
// Fixed-size vectors: plain aggregates whose memory layout crosses the host boundary
// (vector<float, 3> is exactly three IEEE-754 floats x, y, z).

#include <cmath>
#include <cstddef>
#include <type_traits>

namespace LumetraMath {

template <typename T, std::size_t N>
struct vector;

template <typename T>
struct vector<T, 2> {
    T x{}, y{};

    static constexpr std::size_t size() { return 2; }
    constexpr T& operator[](std::size_t i) { return i == 0 ? x : y; }
    constexpr const T& operator[](std::size_t i) const { return i == 0 ? x : y; }
};

template <typename T>
struct vector<T, 3> {
    T x{}, y{}, z{};

    static constexpr std::size_t size() { return 3; }
    constexpr T& operator[](std::size_t i) { return i == 0 ? x : (i == 1 ? y : z); }
    constexpr const T& operator[](std::size_t i) const { return i == 0 ? x : (i == 1 ? y : z); }
};

template <typename T, std::size_t N>
constexpr bool operator==(const vector<T, N>& a, const vector<T, N>& b) {
    for (std::size_t i = 0; i < N; ++i)
        if (!(a[i] == b[i])) return false;
    return true;
}

template <typename T, std::size_t N>
constexpr vector<T, N> operator+(vector<T, N> a, const vector<T, N>& b) {
    for (std::size_t i = 0; i < N; ++i) a[i] += b[i];
    return a;
}

template <typename T, std::size_t N>
constexpr vector<T, N> operator-(vector<T, N> a, const vector<T, N>& b) {
    for (std::size_t i = 0; i < N; ++i) a[i] -= b[i];
    return a;
}

template <typename T, std::size_t N>
constexpr vector<T, N> operator-(vector<T, N> a) {
    for (std::size_t i = 0; i < N; ++i) a[i] = -a[i];
    return a;
}

template <typename T, std::size_t N>
constexpr vector<T, N> operator*(vector<T, N> a, T s) {
    for (std::size_t i = 0; i < N; ++i) a[i] *= s;
    return a;
}

template <typename T, std::size_t N>
constexpr vector<T, N> operator*(T s, const vector<T, N>& a) {
    return a * s;
}

template <typename T, std::size_t N>
constexpr vector<T, N> operator/(vector<T, N> a, T s) {
    for (std::size_t i = 0; i < N; ++i) a[i] /= s;
    return a;
}

template <typename T, std::size_t N>
constexpr vector<T, N>& operator+=(vector<T, N>& a, const vector<T, N>& b) { return a = a + b; }

template <typename T, std::size_t N>
constexpr vector<T, N>& operator-=(vector<T, N>& a, const vector<T, N>& b) { return a = a - b; }

template <typename T, std::size_t N>
constexpr vector<T, N>& operator*=(vector<T, N>& a, T s) { return a = a * s; }

/// Sum of the component products, accumulated in index order.
template <typename T, std::size_t N>
constexpr T dot(const vector<T, N>& a, const vector<T, N>& b) {
    T sum = a[0] * b[0];
    for (std::size_t i = 1; i < N; ++i) sum += a[i] * b[i];
    return sum;
}

template <typename T>
constexpr vector<T, 3> cross(const vector<T, 3>& a, const vector<T, 3>& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

/// The z component of the 3D cross product of two plane vectors.
template <typename T>
constexpr T cross(const vector<T, 2>& a, const vector<T, 2>& b) {
    return a.x * b.y - a.y * b.x;
}

template <typename T, std::size_t N>
constexpr T squaredLength(const vector<T, N>& a) { return dot(a, a); }

template <typename T, std::size_t N>
T length(const vector<T, N>& a) { return std::sqrt(dot(a, a)); }

/// Component-wise conversion, e.g. float to double before a double-precision step.
template <typename U, typename T, std::size_t N>
constexpr vector<U, N> vectorCast(const vector<T, N>& a) {
    vector<U, N> r;
    for (std::size_t i = 0; i < N; ++i) r[i] = static_cast<U>(a[i]);
    return r;
}

static_assert(sizeof(vector<float, 2>) == 8 && sizeof(vector<float, 3>) == 12);
static_assert(std::is_trivially_copyable_v<vector<float, 3>> && std::is_standard_layout_v<vector<float, 3>>);

}  // namespace LumetraMath
