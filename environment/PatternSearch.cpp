#include "environment/VeskEnvironment.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

using LumetraMath::vector;

namespace {

/// The marker ellipse scaled for the search: its first diagonal entry pulled toward 0.5 (the
/// distance of the end markers from the bar centre), the others shrunk by `scale`. Holds the
/// upper triangular inverse, so that membership is one matrix-vector product.
struct SearchEllipse {
    float inverse00, inverse01, inverse11;

    SearchEllipse(const vector<float, 3>& ellipse, float scale) {
        const float m00 = (ellipse.x - 0.5f) * scale + 0.5f;
        const float m11 = ellipse.y * scale;
        const float m01 = ellipse.z * scale;
        const float determinant = m00 * m11;
        inverse00 = m11 / determinant;
        inverse01 = -m01 / determinant;
        inverse11 = m00 / determinant;
    }

    /// Strictly inside; any NaN answers false.
    bool contains(float f, float g) const {
        const float u = inverse00 * f + inverse01 * g;
        const float w = inverse11 * g;
        return u * u + w * w < 1.0f;
    }
};

void requireSameSize(const ConflictMatrix& matrix, std::size_t valueCount, const char* what) {
    if (valueCount != matrix.size())
        throw std::invalid_argument(std::string(what) + ": one value per pattern of the matrix expected");
}

}  // namespace

std::vector<VeskEnvironment::Pattern> VeskEnvironment::findAllPossiblePatterns(
    const std::vector<vector<float, 2>>& points, float barProportion, const vector<float, 3>& ellipse,
    float ellipseScale) {
    std::vector<Pattern> patterns;
    patterns.reserve(points.size() / 3);
    const SearchEllipse searchEllipse(ellipse, ellipseScale);

    for (unsigned long i = 0; i < points.size(); ++i) {
        for (unsigned long j = i + 1; j < points.size(); ++j) {
            const vector<float, 2> d = points[j] - points[i];
            const vector<float, 2> mid = (points[i] + points[j]) / 2.0f;
            const float squaredSpan = dot(d, d);

            unsigned inside = 0;
            unsigned long middle = 0;
            float along = 0.0f, across = 0.0f;
            for (unsigned long k = 0; k < points.size() && inside < 2; ++k) {
                if (k == i || k == j) continue;
                const vector<float, 2> e = points[k] - mid;
                const float f = dot(e, d) / squaredSpan;                 // -0.5 at i, +0.5 at j
                const float g = (d.x * e.y - d.y * e.x) / squaredSpan;  // across, in spans
                if (searchEllipse.contains(f, g)) {
                    ++inside;
                    middle = k;
                    along = f;
                    across = g;
                }
            }
            if (inside != 1) continue;
            // The middle marker lies on the segment, at the bar's proportion from the nearer end.
            if (!(std::fabs(across) < 0.01f && std::fabs(0.5f - std::fabs(along) - barProportion) < 0.05f))
                continue;
            patterns.push_back(along > 0.0f ? Pattern{j, middle, i} : Pattern{i, middle, j});
        }
    }
    return patterns;
}

std::vector<float> VeskEnvironment::calculateLengthsForPatterns(const std::vector<vector<float, 2>>& points,
                                                                const std::vector<Pattern>& patterns) {
    std::vector<float> lengths;
    lengths.reserve(patterns.size());
    for (const Pattern& pattern : patterns)
        lengths.push_back(LumetraMath::length(points.at(pattern.x) - points.at(pattern.z)));
    return lengths;
}

std::vector<vector<float, 2>> VeskEnvironment::calcQuadAngleSinCosForPatterns(
    const std::vector<vector<float, 2>>& points, const std::vector<Pattern>& patterns) {
    std::vector<vector<float, 2>> quadAngles;
    quadAngles.reserve(patterns.size());
    for (const Pattern& pattern : patterns) {
        const vector<float, 2> toMiddle = points.at(pattern.y) - points.at(pattern.x);
        const float length = LumetraMath::length(toMiddle);
        const float c = toMiddle.x / length;
        const float s = toMiddle.y / length;
        const float cos2 = c * c - s * s;
        const float sin2 = 2.0f * s * c;
        quadAngles.push_back({cos2 * cos2 - sin2 * sin2, 2.0f * cos2 * sin2});
    }
    return quadAngles;
}

std::optional<ConflictMatrix> VeskEnvironment::buildMarkersConflictMatrix(const std::vector<Pattern>& patterns,
                                                                          unsigned long markerCount) {
    if (patterns.size() > ConflictMatrix::MaxSize) return std::nullopt;
    ConflictMatrix matrix(patterns.size());

    // One bit set of rays per pattern. Ray indices not below markerCount are not rays and are
    // ignored; the sets only reach as far as the highest ray in use.
    unsigned long words = 0;
    for (const Pattern& pattern : patterns)
        for (std::size_t m = 0; m < 3; ++m)
            if (pattern[m] < markerCount) words = std::max(words, pattern[m] / 64 + 1);
    std::vector<std::vector<std::uint64_t>> rayBits(patterns.size(), std::vector<std::uint64_t>(words, 0));
    for (std::size_t p = 0; p < patterns.size(); ++p)
        for (std::size_t m = 0; m < 3; ++m) {
            const unsigned long ray = patterns[p][m];
            if (ray < markerCount) rayBits[p][ray / 64] |= std::uint64_t{1} << (ray % 64);
        }

    for (std::size_t i = 0; i < patterns.size(); ++i)
        for (std::size_t j = i + 1; j < patterns.size(); ++j)
            for (unsigned long w = 0; w < words; ++w)
                if ((rayBits[i][w] & rayBits[j][w]) != 0) {
                    matrix.markConflict(i, j);
                    break;
                }
    return matrix;
}

void VeskEnvironment::addLengthConflictsToMatrix(ConflictMatrix& matrix, const std::vector<float>& lengths,
                                                 float tolerance) {
    requireSameSize(matrix, lengths.size(), "addLengthConflictsToMatrix");
    for (unsigned long i = 0; i < matrix.size(); ++i)
        for (unsigned long j = i + 1; j < matrix.size(); ++j)
            if (!matrix.isConflict(i, j) &&
                tolerance < std::fabs(lengths[i] - lengths[j]) / std::min(lengths[i], lengths[j]))
                matrix.markConflict(i, j);
}

void VeskEnvironment::addQuadAngleConflictsToMatrix(ConflictMatrix& matrix,
                                                    const std::vector<vector<float, 2>>& quadAngles,
                                                    float threshold) {
    requireSameSize(matrix, quadAngles.size(), "addQuadAngleConflictsToMatrix");
    for (unsigned long i = 0; i < matrix.size(); ++i)
        for (unsigned long j = i + 1; j < matrix.size(); ++j)
            if (!matrix.isConflict(i, j) && dot(quadAngles[i], quadAngles[j]) < threshold)
                matrix.markConflict(i, j);
}
