#pragma once
// Cholesky factorisation A = L L^T of a small symmetric positive definite matrix and the solve
// with such a factor. Both stop at a pivot too small to divide by instead of producing
// infinities; what they have not computed is left zero.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "math/Matrix.h"
#include "math/Vector.h"

namespace LumetraMath {

/// Pivots (and pivot radicands) below this are treated as singular.
inline constexpr float choleskyPivotLimit = 0x1.4484cp-100f;  // 1e-30
static_assert(std::bit_cast<std::uint32_t>(choleskyPivotLimit) == 0x0DA24260u);

/// Lower-triangular L with L L^T = a, computed row by row from the lower triangle of a. When a
/// radicand falls below the pivot limit the factorisation stops there and the remaining entries
/// stay zero.
template <typename T, std::size_t N>
matrix<T, N, N> choleskyFactorize(const matrix<T, N, N>& a) {
    matrix<T, N, N> l;
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            T sum = a(i, j);
            for (std::size_t k = 0; k < j; ++k) sum -= l(i, k) * l(j, k);
            l(i, j) = sum / l(j, j);
        }
        T radicand = a(i, i);
        for (std::size_t k = 0; k < i; ++k) radicand -= l(i, k) * l(i, k);
        if (radicand < T(choleskyPivotLimit)) break;
        l(i, i) = std::sqrt(radicand);
    }
    return l;
}

/// x with L L^T x = b for the lower-triangular factor L (its upper triangle is ignored). A pivot
/// whose magnitude is below the limit stops the solve before it is used; the result is then zero,
/// since every pivot is met in the forward pass before any component of x exists.
template <typename T, std::size_t N>
vector<T, N> choleskySolve(const matrix<T, N, N>& l, const vector<T, N>& b) {
    vector<T, N> y;
    for (std::size_t i = 0; i < N; ++i) {
        if (std::abs(l(i, i)) < T(choleskyPivotLimit)) return vector<T, N>{};
        T sum = b[i];
        for (std::size_t k = 0; k < i; ++k) sum -= l(i, k) * y[k];
        y[i] = sum / l(i, i);
    }
    vector<T, N> x;
    for (std::size_t i = N; i-- > 0;) {
        T sum = y[i];
        for (std::size_t k = i + 1; k < N; ++k) sum -= l(k, i) * x[k];
        x[i] = sum / l(i, i);
    }
    return x;
}

}  // namespace LumetraMath
