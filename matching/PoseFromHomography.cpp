#include "matching/PoseFromHomography.h"

#include <cmath>

#include "math/CholeskySolve.h"
#include "math/EigenDecomposition.h"
#include "math/Matrix.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

using LumetraMath::cross;
using LumetraMath::dot;
using LumetraMath::mul;
using Vector3 = LumetraMath::vector<float, 3>;
using Matrix3 = LumetraMath::matrix<float, 3, 3>;
using Quaternion = LumetraMath::quaternion<float>;

constexpr int iterationCount = 3;

/// Least product of the eigenvalues of the normal equations; keeps a singular system (a single
/// bar, markers on a line) solvable with a bounded step.
constexpr double eigenvalueProductFloor = 0.01;

struct WeightedPoint {
    Vector3 position;
    float weight;
};

/// The group's markers and the normals of the planes through the tracker and each bar, in the
/// current levelled frame.
struct Observations {
    std::vector<WeightedPoint> points;
    std::vector<Vector3> normalsOfBarsAlongX;
    std::vector<Vector3> normalsOfBarsAlongZ;
};

Observations observe(const std::vector<Vector3>& rays, const std::vector<Vector3>& rayLengths,
                     const std::vector<LumetraMath::vector<unsigned long, 3>>& patterns,
                     const std::vector<unsigned long>& group, const Quaternion& q0) {
    Observations observations;
    observations.points.reserve(3 * group.size());
    float largestWeight = 0.f;
    for (const unsigned long patternIndex : group) {
        const auto& pattern = patterns.at(patternIndex);
        const Vector3& distances = rayLengths.at(patternIndex);
        const Vector3 r0 = mul(q0, rays.at(pattern.x));
        const Vector3 r1 = mul(q0, rays.at(pattern.y));
        const Vector3 r2 = mul(q0, rays.at(pattern.z));

        const Vector3 n01 = cross(r0, r1);
        const Vector3 n12 = cross(r1, r2);
        const Vector3 n02 = cross(r0, r2);
        auto& normals = std::abs(n02.z) > std::abs(n02.x) ? observations.normalsOfBarsAlongX
                                                          : observations.normalsOfBarsAlongZ;
        normals.push_back(n01);
        normals.push_back(n12);
        normals.push_back(n02);

        // The fourth power of the bar's apparent size: near bars dominate the plane fit.
        const float squaredSize = dot(n02, n02);
        const float weight = squaredSize * squaredSize;
        if (weight > largestWeight) largestWeight = weight;
        observations.points.push_back({r0 * distances.x, weight});
        observations.points.push_back({r1 * distances.y, weight});
        observations.points.push_back({r2 * distances.z, weight});
    }
    const float normalisation = 1.f / largestWeight;
    for (auto& point : observations.points) point.weight *= normalisation;
    return observations;
}

/// Moves the points so that their weighted centroid is the origin and returns that centroid.
Vector3 centre(std::vector<WeightedPoint>& points) {
    Vector3 weightedSum{};
    float weightSum = 0.f;
    for (const auto& point : points) {
        weightedSum += point.position * point.weight;
        weightSum += point.weight;
    }
    const Vector3 centroid = weightedSum / weightSum;
    for (auto& point : points) point.position -= centroid;
    return centroid;
}

/// Normal equations for the small rotation u, read as omega = (u2, -u0, -u1): the points ask for
/// y = 0 (weight w per row), bars along x for normals with x = 0, bars along z for z = 0.
void buildNormalEquations(const Observations& observations, Matrix3& m, Vector3& b) {
    m = Matrix3{};
    b = Vector3{};
    for (const auto& [p, w] : observations.points) {
        const float wx = w * p.x;
        const float wz = w * p.z;
        const float w2 = w * w;
        m(1, 1) += wx * wx;
        m(1, 2) += w2 * p.x * p.z;
        m(2, 2) += wz * wz;
        b.y += w2 * p.x * p.y;
        b.z += w2 * p.y * p.z;
    }
    for (const Vector3& n : observations.normalsOfBarsAlongX) {
        m(0, 0) += n.z * n.z;
        m(0, 1) += -n.z * n.y;
        m(1, 1) += n.y * n.y;
        b.x += n.z * n.x;
        b.y += -n.x * n.y;
    }
    for (const Vector3& n : observations.normalsOfBarsAlongZ) {
        m(0, 0) += n.x * n.x;
        m(0, 2) += n.x * n.y;
        m(2, 2) += n.y * n.y;
        b.x += -n.x * n.z;
        b.z += -n.z * n.y;
    }
    m(1, 0) = m(0, 1);
    m(2, 0) = m(0, 2);
    m(2, 1) = m(1, 2);
}

/// Raises the smallest eigenvalue so that the product of all three is at least the floor.
void floorEigenvalueProduct(Vector3& lambda) {
    const double product = static_cast<double>(lambda.x) * static_cast<double>(lambda.y) * static_cast<double>(lambda.z);
    if (!(product < eigenvalueProductFloor)) return;
    const std::size_t smallerOfFirstTwo = lambda.x > lambda.y ? 1 : 0;
    const std::size_t smallest = lambda[smallerOfFirstTwo] > lambda.z ? 2 : smallerOfFirstTwo;
    const double othersProduct =
        static_cast<double>(lambda[(smallest + 1) % 3]) * static_cast<double>(lambda[(smallest + 2) % 3]);
    lambda[smallest] = static_cast<float>(eigenvalueProductFloor / othersProduct);
}

/// Sum over k of lambda_k e_k e_k^T, with e_k the rows of `eigenvectors`.
Matrix3 recompose(const Matrix3& eigenvectors, const Vector3& lambda) {
    Matrix3 m;
    for (std::size_t k = 0; k < 3; ++k)
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t j = 0; j < 3; ++j) m(i, j) += lambda[k] * eigenvectors(k, i) * eigenvectors(k, j);
    return m;
}

/// Unit quaternion of the small rotation omega = (u2, -u0, -u1): (omega / 2, 1) normalised.
Quaternion stepRotation(const Vector3& u) {
    const float hx = u.z / 2.f;
    const float hy = -u.x / 2.f;
    const float hz = -u.y / 2.f;
    const float norm = std::sqrt(hx * hx + hy * hy + hz * hz + 1.f);
    return {hx / norm, hy / norm, hz / norm, 1.f / norm};
}

}  // namespace

HomographyResult findHomography(const std::vector<Vector3>& rays, const std::vector<Vector3>& rayLengths,
                                const std::vector<LumetraMath::vector<unsigned long, 3>>& patterns,
                                const std::vector<unsigned long>& group, float yaw) {
    const Quaternion q0 = LumetraMath::quaternionFromAxisAngle(Vector3{0.f, 1.f, 0.f}, yaw);
    Observations observations = observe(rays, rayLengths, patterns, group, q0);
    HomographyResult result{q0, -centre(observations.points)};

    for (int iteration = 0; iteration < iterationCount; ++iteration) {
        Matrix3 m;
        Vector3 b;
        buildNormalEquations(observations, m, b);

        Matrix3 eigenvectors = m;
        Vector3 lambda;
        if (!LumetraMath::eigenDecomposeSymetricMatrixInplace(eigenvectors, lambda, false, false)) break;
        floorEigenvalueProduct(lambda);

        const Matrix3 factor = LumetraMath::choleskyFactorize(recompose(eigenvectors, lambda));
        const Quaternion step = stepRotation(LumetraMath::choleskySolve(factor, b));

        for (auto& point : observations.points) point.position = mul(step, point.position);
        for (Vector3& n : observations.normalsOfBarsAlongX) n = mul(step, n);
        for (Vector3& n : observations.normalsOfBarsAlongZ) n = mul(step, n);
        result.offset = mul(step, result.offset);
        result.rotation = step * result.rotation;
    }
    return result;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
