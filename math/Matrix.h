#pragma once
// Fixed-size matrices stored row by row: element (r, c) at position r * C + c.

#include <cstddef>

#include "math/Vector.h"

namespace LumetraMath {

template <typename T, std::size_t R, std::size_t C>
struct matrix {
    T m[R * C]{};

    static constexpr std::size_t rows() { return R; }
    static constexpr std::size_t columns() { return C; }
    constexpr T& operator()(std::size_t r, std::size_t c) { return m[r * C + c]; }
    constexpr const T& operator()(std::size_t r, std::size_t c) const { return m[r * C + c]; }

    static constexpr matrix identity() {
        matrix result;
        for (std::size_t i = 0; i < R && i < C; ++i) result(i, i) = T(1);
        return result;
    }
};

template <typename T, std::size_t R, std::size_t C>
constexpr bool operator==(const matrix<T, R, C>& a, const matrix<T, R, C>& b) {
    for (std::size_t i = 0; i < R * C; ++i)
        if (!(a.m[i] == b.m[i])) return false;
    return true;
}

template <typename T, std::size_t R, std::size_t K, std::size_t C>
constexpr matrix<T, R, C> operator*(const matrix<T, R, K>& a, const matrix<T, K, C>& b) {
    matrix<T, R, C> result;
    for (std::size_t r = 0; r < R; ++r)
        for (std::size_t c = 0; c < C; ++c) {
            T sum = a(r, 0) * b(0, c);
            for (std::size_t k = 1; k < K; ++k) sum += a(r, k) * b(k, c);
            result(r, c) = sum;
        }
    return result;
}

template <typename T, std::size_t R, std::size_t C>
constexpr vector<T, R> operator*(const matrix<T, R, C>& a, const vector<T, C>& v) {
    vector<T, R> result;
    for (std::size_t r = 0; r < R; ++r) {
        T sum = a(r, 0) * v[0];
        for (std::size_t c = 1; c < C; ++c) sum += a(r, c) * v[c];
        result[r] = sum;
    }
    return result;
}

template <typename T, std::size_t R, std::size_t C>
constexpr matrix<T, C, R> transpose(const matrix<T, R, C>& a) {
    matrix<T, C, R> result;
    for (std::size_t r = 0; r < R; ++r)
        for (std::size_t c = 0; c < C; ++c) result(c, r) = a(r, c);
    return result;
}

}  // namespace LumetraMath
