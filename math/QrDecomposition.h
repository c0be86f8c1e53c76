#pragma once
// QR decomposition of a 2 x 2 matrix by one Householder reflection.

#include <cmath>

#include "math/Matrix.h"

namespace LumetraMath {

/// Fills q (orthogonal, symmetric) and r (upper triangular) with a = q r. The reflection maps the
/// first column onto the x axis, so r(0, 0) is -|first column| unless a(0, 0) > 0. A first
/// column (x, 0) with x > 0, or an all-zero one, is already triangular: q = I, r = a.
template <typename T>
void qrDecompose(const matrix<T, 2, 2>& a, matrix<T, 2, 2>& q, matrix<T, 2, 2>& r) {
    const T norm = std::sqrt(a(0, 0) * a(0, 0) + a(1, 0) * a(1, 0));
    const T sigma = a(0, 0) > T(0) ? -norm : norm;
    const T v0 = a(0, 0) + sigma;
    const T v1 = a(1, 0);
    const T vSquaredNorm = v0 * v0 + v1 * v1;
    if (vSquaredNorm == T(0)) {
        // No reflection is needed (and none could be normalised).
        q = matrix<T, 2, 2>::identity();
        r = a;
        return;
    }
    const T vNorm = std::sqrt(vSquaredNorm);
    const T u0 = v0 / vNorm;
    const T u1 = v1 / vNorm;
    const T offDiagonal = T(-2) * u0 * u1;
    const matrix<T, 2, 2> h{{T(1) - T(2) * u0 * u0, offDiagonal, offDiagonal, T(1) - T(2) * u1 * u1}};
    r = h * a;
    q = h;
}

}  // namespace LumetraMath
