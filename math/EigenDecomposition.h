#pragma once
// Eigen-decomposition of a small symmetric matrix: Householder reduction to tridiagonal form,
// then implicit QR iterations with Wilkinson shift. Single precision, no allocation.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "math/Matrix.h"
#include "math/Vector.h"

namespace LumetraMath {

namespace Details {

/// Relative size below which a subdiagonal entry counts as zero (twice the float epsilon).
inline constexpr float deflationPrecision = 0x1p-22f;
static_assert(std::bit_cast<std::uint32_t>(deflationPrecision) == 0x34800000u);

/// Smallest normal float; squared norms at or below it are treated as zero.
inline constexpr float tinyThreshold = 0x1p-126f;
static_assert(std::bit_cast<std::uint32_t>(tinyThreshold) == 0x00800000u);

/// Householder reduction of a symmetric matrix to tridiagonal form. Reflection i clears row i
/// beyond its first off-diagonal entry; that entry receives beta and the entries after it keep the
/// essential part of the reflection vector. Each entry of the trailing block is updated on its own,
/// so mirrored entries may differ in the last bit; the upper triangle is the one read afterwards.
template <typename T, std::size_t N>
void householderTridiagonalizeInplace(matrix<T, N, N>& a, vector<T, N - 1>& coefficients) {
    for (std::size_t i = 0; i + 1 < N; ++i) {
        const std::size_t first = i + 1;  // first row/column of the trailing block
        const T c0 = a(i, first);
        T tailSquaredNorm = T(0);
        for (std::size_t j = first + 1; j < N; ++j) tailSquaredNorm += a(i, j) * a(i, j);

        T tau = T(0);
        T beta = c0;
        if (tailSquaredNorm <= T(tinyThreshold)) {
            for (std::size_t j = first + 1; j < N; ++j) a(i, j) = T(0);
        } else {
            beta = std::sqrt(c0 * c0 + tailSquaredNorm);
            if (c0 >= T(0)) beta = -beta;
            for (std::size_t j = first + 1; j < N; ++j) a(i, j) = a(i, j) / (c0 - beta);
            tau = (beta - c0) / beta;
        }
        coefficients[i] = tau;

        if (tau != T(0)) {
            // Similarity transform of the trailing block B <- H B H with H = I - tau v v^T.
            T v[N]{};
            v[first] = T(1);
            for (std::size_t j = first + 1; j < N; ++j) v[j] = a(i, j);

            T w[N]{};
            for (std::size_t r = first; r < N; ++r) {
                T sum = T(0);
                for (std::size_t c = first; c < N; ++c) sum += a(r, c) * (tau * v[c]);
                w[r] = sum;
            }
            T vw = T(0);
            for (std::size_t j = first; j < N; ++j) vw += v[j] * w[j];
            const T correction = tau / T(2) * vw;
            for (std::size_t j = first; j < N; ++j) w[j] -= correction * v[j];

            // Every entry in the same order, (b_rc - v_r w_c) - w_r v_c: the upper off-diagonal
            // entries, which the subdiagonal is read from, are not copies of the lower ones.
            for (std::size_t r = first; r < N; ++r)
                for (std::size_t c = first; c < N; ++c) a(r, c) = a(r, c) - v[r] * w[c] - w[r] * v[c];
        }
        a(i, first) = beta;
    }
}

/// Multiplies the trailing size x size block of m on the right by the reflection
/// I - tau v v^T, where v = (1, essential[0], ..., essential[size - 2]).
template <typename T, std::size_t N>
void applyHouseholderOnTheRight(matrix<T, N, N>& m, std::size_t size, const T* essential, T tau) {
    const std::size_t first = N - size;
    if (size == 1) {
        m(first, first) *= T(1) - tau;
        return;
    }
    if (tau == T(0)) return;
    for (std::size_t r = first; r < N; ++r) {
        T t = T(0);
        for (std::size_t c = first + 1; c < N; ++c) t += m(r, c) * essential[c - first - 1];
        t += m(r, first);
        m(r, first) -= tau * t;
        for (std::size_t c = first + 1; c < N; ++c) m(r, c) -= tau * t * essential[c - first - 1];
    }
}

/// Givens rotation (c, s) that zeroes z against x.
template <typename T>
void makeGivens(T x, T z, T& c, T& s) {
    if (z == T(0)) {
        c = x < T(0) ? T(-1) : T(1);
        s = T(0);
    } else if (x == T(0)) {
        c = T(0);
        s = z < T(0) ? T(1) : T(-1);
    } else if (std::abs(x) > std::abs(z)) {
        const T t = z / x;
        T u = std::sqrt(T(1) + t * t);
        if (x < T(0)) u = -u;
        c = T(1) / u;
        s = -t * c;
    } else {
        const T t = x / z;
        T u = std::sqrt(T(1) + t * t);
        if (z < T(0)) u = -u;
        s = -T(1) / u;
        c = -t * s;
    }
}

/// One implicit QR step with Wilkinson shift on the unreduced block [start, end].
/// Rows of `eigenvectors` (when given) follow the rotations.
template <typename T, std::size_t N>
void tridiagonalQrStep(vector<T, N>& d, vector<T, N - 1>& e, std::size_t start, std::size_t end,
                       matrix<T, N, N>* eigenvectors) {
    const T td = (d[end - 1] - d[end]) * T(0.5);
    const T eEnd = e[end - 1];
    T mu = d[end];
    if (td == T(0)) {
        mu -= std::abs(eEnd);
    } else {
        const T e2 = eEnd * eEnd;
        const T h = std::hypot(td, eEnd);
        if (e2 == T(0))
            mu -= (eEnd / (td + (td > T(0) ? T(1) : T(-1)))) * (eEnd / h);
        else
            mu -= e2 / (td + (td > T(0) ? h : -h));
    }

    T x = d[start] - mu;
    T z = e[start];
    for (std::size_t k = start; k < end; ++k) {
        T c, s;
        makeGivens(x, z, c, s);

        const T sdk = s * d[k] + c * e[k];
        const T dkp1 = s * e[k] + c * d[k + 1];
        d[k] = c * (c * d[k] - s * e[k]) - s * (c * e[k] - s * d[k + 1]);
        d[k + 1] = s * sdk + c * dkp1;
        e[k] = c * sdk - s * dkp1;
        if (k > start) e[k - 1] = c * e[k - 1] - s * z;
        x = e[k];
        if (k < end - 1) {
            z = -s * e[k + 1];
            e[k + 1] = c * e[k + 1];
        }

        if (eigenvectors && (c != T(1) || s != T(0))) {
            matrix<T, N, N>& q = *eigenvectors;
            for (std::size_t j = 0; j < N; ++j) {
                const T u = q(k, j);
                const T v = q(k + 1, j);
                q(k, j) = c * u - s * v;
                q(k + 1, j) = s * u + c * v;
            }
        }
    }
}

/// Diagonalises a symmetric tridiagonal matrix in place: the diagonal becomes the eigenvalues and,
/// when wanted, the rows of `eigenvectors` are rotated along. Gives up (false) after
/// maxIterations * N QR steps.
template <typename T, std::size_t N>
bool eigendecomposeTridiagonalMatrix(vector<T, N>& diagonal, vector<T, N - 1>& subdiagonal,
                                     std::size_t maxIterations, bool computeEigenvectors,
                                     matrix<T, N, N>& eigenvectors) {
    const T precision = T(deflationPrecision);
    std::size_t end = N - 1;
    std::size_t start = 0;
    std::size_t iterations = 0;
    while (end > 0) {
        for (std::size_t i = start; i < end; ++i) {
            const T diagonalSize = std::abs(diagonal[i]) + std::abs(diagonal[i + 1]);
            const T ei = subdiagonal[i];
            if (diagonalSize * diagonalSize * precision * precision >= ei * ei ||
                std::abs(ei) <= T(tinyThreshold))
                subdiagonal[i] = T(0);
        }
        while (end > 0 && subdiagonal[end - 1] == T(0)) --end;
        if (end == 0) break;

        if (++iterations > maxIterations * N) return false;

        start = end - 1;
        while (start > 0 && subdiagonal[start - 1] != T(0)) --start;

        tridiagonalQrStep(diagonal, subdiagonal, start, end,
                          computeEigenvectors ? &eigenvectors : nullptr);
    }
    return true;
}

}  // namespace Details

/// Eigenvalues and, unless eigenvaluesOnly, unit eigenvectors of the symmetric matrix `a`: row k
/// of `a` receives the eigenvector of eigenvalues[k]. Eigenvalues are not sorted. Unless
/// noScaling, the matrix is first divided by its largest absolute entry to keep the iteration
/// away from overflow and underflow. Returns false when the iteration does not converge; the
/// outputs then hold the state reached.
template <typename T, std::size_t N>
bool eigenDecomposeSymetricMatrixInplace(matrix<T, N, N>& a, vector<T, N>& eigenvalues,
                                         bool eigenvaluesOnly, bool noScaling) {
    T scale = T(1);
    if (!noScaling) {
        T largest = T(0);
        for (const T value : a.m)
            if (std::abs(value) > largest) largest = std::abs(value);
        // An all-zero matrix is already diagonal; dividing by 1 leaves it so.
        if (largest != T(0)) scale = largest;
        for (T& value : a.m) value /= scale;
    }

    vector<T, N - 1> coefficients;
    Details::householderTridiagonalizeInplace(a, coefficients);

    vector<T, N - 1> subdiagonal;
    for (std::size_t i = 0; i < N; ++i) eigenvalues[i] = a(i, i);
    for (std::size_t i = 0; i + 1 < N; ++i) subdiagonal[i] = a(i, i + 1);

    const bool computeEigenvectors = !eigenvaluesOnly;
    matrix<T, N, N> eigenvectors = matrix<T, N, N>::identity();
    if (computeEigenvectors) {
        // Accumulate the reflections, the last (smallest block) first.
        // Reflection i keeps its essential part in row i from column i + 2 on.
        for (std::size_t i = N - 1; i-- > 0;)
            Details::applyHouseholderOnTheRight(eigenvectors, N - 1 - i, a.m + i * N + i + 2, coefficients[i]);
    }

    constexpr std::size_t maxIterations = 30;
    const bool converged = Details::eigendecomposeTridiagonalMatrix(
        eigenvalues, subdiagonal, maxIterations, computeEigenvectors, eigenvectors);

    if (computeEigenvectors) a = eigenvectors;
    if (!noScaling)
        for (std::size_t i = 0; i < N; ++i) eigenvalues[i] *= scale;
    return converged;
}

}  // namespace LumetraMath
