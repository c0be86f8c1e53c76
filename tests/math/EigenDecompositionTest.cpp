#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "math/EigenDecomposition.h"

using namespace LumetraMath;
using Matrix3 = matrix<float, 3, 3>;
using Vector3 = vector<float, 3>;

namespace {

Matrix3 diagonal(float a, float b, float c) { return Matrix3{{a, 0, 0, 0, b, 0, 0, 0, c}}; }

Matrix3 randomSymmetric(std::mt19937& random) {
    std::uniform_real_distribution<float> entry(-1.f, 1.f);
    Matrix3 m;
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = r; c < 3; ++c) m(r, c) = m(c, r) = entry(random);
    return m;
}

/// Sum over k of lambda_k e_k e_k^T in double, e_k the rows of `eigenvectors`.
double reconstructionError(const Matrix3& original, const Matrix3& eigenvectors, const Vector3& lambda) {
    double worst = 0;
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            double sum = 0;
            for (std::size_t k = 0; k < 3; ++k)
                sum += double(lambda[k]) * eigenvectors(k, i) * eigenvectors(k, j);
            worst = std::max(worst, std::abs(sum - original(i, j)));
        }
    return worst;
}

double orthonormalityError(const Matrix3& e) {
    double worst = 0;
    for (std::size_t a = 0; a < 3; ++a)
        for (std::size_t b = 0; b < 3; ++b) {
            double d = 0;
            for (std::size_t j = 0; j < 3; ++j) d += double(e(a, j)) * e(b, j);
            worst = std::max(worst, std::abs(d - (a == b ? 1.0 : 0.0)));
        }
    return worst;
}

}  // namespace

TEST(EigenDecomposition, DiagonalMatrixKeepsItsEntriesInPlaceWithIdentityVectors) {
    for (const Matrix3& m : {diagonal(5.f, -2.f, 0.5f), diagonal(3.f, 1.f, 2.f)}) {
        Matrix3 work = m;
        Vector3 lambda;
        ASSERT_TRUE(eigenDecomposeSymetricMatrixInplace(work, lambda, false, false));
        EXPECT_EQ(lambda, (Vector3{m(0, 0), m(1, 1), m(2, 2)}));  // unsorted
        EXPECT_EQ(work, Matrix3::identity());
    }
}

TEST(EigenDecomposition, AllZeroMatrixGivesZeroEigenvaluesWithoutNaN) {
    Matrix3 work{};
    Vector3 lambda{1, 1, 1};
    ASSERT_TRUE(eigenDecomposeSymetricMatrixInplace(work, lambda, false, false));
    EXPECT_EQ(lambda, (Vector3{0, 0, 0}));
    EXPECT_EQ(work, Matrix3::identity());
}

TEST(EigenDecomposition, RandomSymmetricMatricesReconstructFromOrthonormalEigenvectors) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 500; ++trial) {
        const Matrix3 m = randomSymmetric(random);
        Matrix3 work = m;
        Vector3 lambda;
        ASSERT_TRUE(eigenDecomposeSymetricMatrixInplace(work, lambda, false, false));
        EXPECT_LT(reconstructionError(m, work, lambda), 2e-6) << "trial " << trial;
        EXPECT_LT(orthonormalityError(work), 2e-6) << "trial " << trial;
    }
}

TEST(EigenDecomposition, SpecialStructuresReconstruct) {
    const Matrix3 cases[] = {
        Matrix3{{2, 1, 1, 1, 2, 1, 1, 1, 2}},        // repeated eigenvalue 1
        Matrix3{{1, 0, 3, 0, 2, 0, 3, 0, 1}},        // no (0, 1) coupling: reflection from the corner alone
        Matrix3{{1, -2, 0, -2, 1, 0, 0, 0, 5}},      // already tridiagonal, negative coupling
        Matrix3{{1e-20f, 0, 0, 0, 1, 1e-20f, 0, 1e-20f, 1}},  // tiny entries
        Matrix3{{0, 1, 1, 1, 0, 1, 1, 1, 0}},        // indefinite
    };
    for (const Matrix3& m : cases) {
        Matrix3 work = m;
        Vector3 lambda;
        ASSERT_TRUE(eigenDecomposeSymetricMatrixInplace(work, lambda, false, false));
        EXPECT_LT(reconstructionError(m, work, lambda), 3e-6);
        EXPECT_LT(orthonormalityError(work), 3e-6);
    }
}

TEST(EigenDecomposition, KnownSpectrum) {
    // Second-difference matrix: eigenvalues 2 - sqrt 2, 2, 2 + sqrt 2.
    Matrix3 work{{2, -1, 0, -1, 2, -1, 0, -1, 2}};
    Vector3 lambda;
    ASSERT_TRUE(eigenDecomposeSymetricMatrixInplace(work, lambda, false, false));
    std::vector<float> sorted{lambda.x, lambda.y, lambda.z};
    std::sort(sorted.begin(), sorted.end());
    EXPECT_NEAR(sorted[0], 2 - std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(sorted[1], 2, 1e-6);
    EXPECT_NEAR(sorted[2], 2 + std::sqrt(2.0), 1e-6);
}

TEST(EigenDecomposition, ScalingMultipliesEigenvaluesAndKeepsEigenvectors) {
    const Matrix3 m{{4, 1, 0.5f, 1, 3, 0.25f, 0.5f, 0.25f, 1}};
    Matrix3 base = m;
    Vector3 baseLambda;
    ASSERT_TRUE(eigenDecomposeSymetricMatrixInplace(base, baseLambda, false, false));

    for (const float factor : {1000.f, 1e25f, 1e-25f}) {
        Matrix3 scaled;
        for (std::size_t i = 0; i < 9; ++i) scaled.m[i] = m.m[i] * factor;
        Vector3 lambda;
        ASSERT_TRUE(eigenDecomposeSymetricMatrixInplace(scaled, lambda, false, false));
        for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(lambda[k] / factor, baseLambda[k], 1e-5) << factor;
        for (std::size_t i = 0; i < 9; ++i) EXPECT_NEAR(scaled.m[i], base.m[i], 1e-5) << factor;
    }

    // Without scaling, squares of entries this large overflow.
    Matrix3 huge;
    for (std::size_t i = 0; i < 9; ++i) huge.m[i] = m.m[i] * 1e25f;
    Vector3 lambda;
    eigenDecomposeSymetricMatrixInplace(huge, lambda, false, true);
    EXPECT_FALSE(std::isfinite(lambda.x) && std::isfinite(lambda.y) && std::isfinite(lambda.z));
}

TEST(EigenDecomposition, EigenvaluesOnlyGivesTheSameEigenvalues) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 50; ++trial) {
        const Matrix3 m = randomSymmetric(random);
        Matrix3 full = m, valuesOnly = m;
        Vector3 fullLambda, onlyLambda;
        ASSERT_TRUE(eigenDecomposeSymetricMatrixInplace(full, fullLambda, false, false));
        ASSERT_TRUE(eigenDecomposeSymetricMatrixInplace(valuesOnly, onlyLambda, true, false));
        EXPECT_EQ(fullLambda, onlyLambda);
    }
}

TEST(EigenDecomposition, NotANumberInputEndsWithFailureInsteadOfLooping) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Matrix3 work{{1, nan, 0, nan, 2, 0.5f, 0, 0.5f, 3}};
    Vector3 lambda;
    EXPECT_FALSE(eigenDecomposeSymetricMatrixInplace(work, lambda, false, false));
}

TEST(TridiagonalEigenSolver, SubdiagonalBelowRelativePrecisionCountsAsZero) {
    // Deflation bound for diagonal (1, 2): (|1| + |2|) * 2^-22.
    const float bound = 3.f * 0x1p-22f;
    {
        vector<float, 3> d{1, 2, 5};
        vector<float, 2> e{bound * 0.99f, 0};
        Matrix3 q = Matrix3::identity();
        ASSERT_TRUE(Details::eigendecomposeTridiagonalMatrix(d, e, 30, true, q));
        EXPECT_EQ(d, (vector<float, 3>{1, 2, 5}));
        EXPECT_EQ(q, Matrix3::identity());
    }
    {
        vector<float, 3> d{1, 2, 5};
        vector<float, 2> e{bound * 1.01f, 0};
        Matrix3 q = Matrix3::identity();
        ASSERT_TRUE(Details::eigendecomposeTridiagonalMatrix(d, e, 30, true, q));
        EXPECT_NE(q, Matrix3::identity());
    }
}

TEST(TridiagonalEigenSolver, GivesUpWhenTheIterationLimitIsExhausted) {
    vector<float, 3> d{1, 2, 3};
    vector<float, 2> e{0.5f, 0.5f};
    Matrix3 q = Matrix3::identity();
    EXPECT_FALSE(Details::eigendecomposeTridiagonalMatrix(d, e, 0, true, q));
}

TEST(HouseholderTridiagonalization, ClearsTheCornerAndPreservesTheSpectrum) {
    Matrix3 a{{4, 1, 2, 1, 3, 0.5f, 2, 0.5f, 1}};
    vector<float, 2> coefficients;
    Details::householderTridiagonalizeInplace(a, coefficients);
    EXPECT_EQ(coefficients.y, 0.f);
    // A similarity transform keeps the trace and the Frobenius norm.
    const float e0 = a(0, 1), e1 = a(1, 2);
    EXPECT_NEAR(a(0, 0) + a(1, 1) + a(2, 2), 8.f, 1e-5);
    const float frobenius = a(0, 0) * a(0, 0) + a(1, 1) * a(1, 1) + a(2, 2) * a(2, 2) + 2 * (e0 * e0 + e1 * e1);
    EXPECT_NEAR(frobenius, 16 + 9 + 1 + 2 * (1 + 4 + 0.25f), 1e-4);
    EXPECT_NEAR(std::abs(e0), std::sqrt(5.f), 1e-6);
}

TEST(HouseholderTridiagonalization, UpdatesTheUpperEntryInItsOwnOrder) {
    // a12 = (b12 - v1 w'2) - w'1 v2, not the mirror of a21, which rounds differently in about a third
    // of random matrices.
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(-10.f, 10.f);
    for (int trial = 0; trial < 2000; ++trial) {
        const float a00 = value(random), a01 = value(random), a02 = value(random), a11 = value(random),
                    a12 = value(random), a22 = value(random);
        Matrix3 a{{a00, a01, a02, a01, a11, a12, a02, a12, a22}};
        vector<float, 2> coefficients;
        Details::householderTridiagonalizeInplace(a, coefficients);

        float beta = std::sqrt(a01 * a01 + a02 * a02);
        if (a01 >= 0) beta = -beta;
        const float v1 = 1, v2 = a02 / (a01 - beta), tau = (beta - a01) / beta;
        float w1 = a11 * (tau * v1) + a12 * (tau * v2), w2 = a12 * (tau * v1) + a22 * (tau * v2);
        const float correction = tau / 2 * (v1 * w1 + v2 * w2);
        w1 -= correction * v1;
        w2 -= correction * v2;
        ASSERT_EQ(a(1, 2), a12 - v1 * w2 - w1 * v2) << trial;
    }
}
