#pragma once
// Small symmetric positive definite systems of the pose fits (6 x 6) by Cholesky factorisation.

#include <cmath>
#include <cstddef>
#include <optional>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

template <std::size_t N>
struct Symmetric {
    double m[N * N] = {};
    double& operator()(std::size_t r, std::size_t c) { return m[r * N + c]; }
    double operator()(std::size_t r, std::size_t c) const { return m[r * N + c]; }
};

/// The lower Cholesky factor, or nothing when the matrix is not positive definite.
template <std::size_t N>
std::optional<Symmetric<N>> choleskyFactor(const Symmetric<N>& a) {
    Symmetric<N> l;
    for (std::size_t j = 0; j < N; ++j) {
        double d = a(j, j);
        for (std::size_t k = 0; k < j; ++k) d -= l(j, k) * l(j, k);
        if (!(d > 0) || !std::isfinite(d)) return std::nullopt;
        l(j, j) = std::sqrt(d);
        for (std::size_t i = j + 1; i < N; ++i) {
            double s = a(i, j);
            for (std::size_t k = 0; k < j; ++k) s -= l(i, k) * l(j, k);
            l(i, j) = s / l(j, j);
        }
    }
    return l;
}

/// Solves L L^T x = b in place.
template <std::size_t N>
void choleskySolveInPlace(const Symmetric<N>& l, double (&b)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t k = 0; k < i; ++k) b[i] -= l(i, k) * b[k];
        b[i] /= l(i, i);
    }
    for (std::size_t i = N; i-- > 0;) {
        for (std::size_t k = i + 1; k < N; ++k) b[i] -= l(k, i) * b[k];
        b[i] /= l(i, i);
    }
}

/// The inverse of a positive definite matrix, or nothing.
template <std::size_t N>
std::optional<Symmetric<N>> inverseSymmetric(const Symmetric<N>& a) {
    const std::optional<Symmetric<N>> l = choleskyFactor(a);
    if (!l) return std::nullopt;
    Symmetric<N> inverse;
    for (std::size_t c = 0; c < N; ++c) {
        double column[N] = {};
        column[c] = 1;
        choleskySolveInPlace(*l, column);
        for (std::size_t r = 0; r < N; ++r) inverse(r, c) = column[r];
    }
    return inverse;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
