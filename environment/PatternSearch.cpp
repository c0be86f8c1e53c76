#include "environment/VeskEnvironment.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

using LumetraMath::vector;

namespace {

constexpr double floatEpsilon = 0x1p-24;

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

    /// A bound on |(f, g)| for every (f, g) that contains() accepts, rounding included: the
    /// largest singular value of the ellipse matrix, widened by a margin far above the few float
    /// roundings of the test. Infinite when the inverse is degenerate and no bound holds.
    double reach() const {
        const double a = inverse00, b = inverse01, c = inverse11;
        if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || a == 0.0 || c == 0.0)
            return std::numeric_limits<double>::infinity();
        // The ellipse matrix is the inverse [[1/a, -b/(ac)], [0, 1/c]]; its largest singular value
        // from the trace and determinant of its Gram matrix.
        const double m00 = 1.0 / a, m01 = -b / (a * c), m11 = 1.0 / c;
        const double trace = m00 * m00 + m01 * m01 + m11 * m11, determinant = m00 * m11;
        const double largest = std::sqrt(0.5 * (trace + std::sqrt(std::max(0.0, trace * trace - 4.0 * determinant * determinant))));
        return largest * (1.0 + 1e-4 + 16.0 * floatEpsilon * std::fabs(b / c));
    }
};

/// A point that can lie inside a pair's ellipse, with its index in the caller's list.
struct Candidate {
    float x, y;
    unsigned long index;
};

/// The finite points sorted by x: a point with a non-finite coordinate gives a non-finite offset
/// from the pair's midpoint and so a non-finite f, which no ellipse test accepts.
std::vector<Candidate> sortedCandidates(const std::vector<vector<float, 2>>& points) {
    std::vector<Candidate> candidates;
    candidates.reserve(points.size());
    for (unsigned long k = 0; k < points.size(); ++k)
        if (std::isfinite(points[k].x) && std::isfinite(points[k].y))
            candidates.push_back({points[k].x, points[k].y, k});
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.x < b.x || (a.x == b.x && a.index < b.index); });
    return candidates;
}

/// What a pair's ellipse holds: how many points (counting stops at two) and the last one found.
struct EllipseContents {
    unsigned count = 0;
    unsigned long point = 0;
    float along = 0.0f, across = 0.0f;
};

/// The points of `candidates` inside the ellipse of the pair (i, j), exactly as a test of every
/// other point in turn finds them. Only points within `radius` of the midpoint can be inside, so
/// the scan covers the x window of that radius, nearest the midpoint first, and stops at the
/// second point inside: the outcome (a lone point, or two or more) does not depend on the order.
EllipseContents scanEllipse(const std::vector<Candidate>& candidates, const SearchEllipse& ellipse,
                            unsigned long i, unsigned long j, const vector<float, 2>& mid,
                            const vector<float, 2>& d, float squaredSpan, double radius) {
    // fl(x - mid.x) grows with x, so the window is found by bisection on the very offsets tested.
    const auto offset = [&](const Candidate& c) { return static_cast<double>(c.x - mid.x); };
    const auto begin = std::partition_point(candidates.begin(), candidates.end(),
                                            [&](const Candidate& c) { return offset(c) < -radius; });
    const auto end = std::partition_point(begin, candidates.end(),
                                          [&](const Candidate& c) { return offset(c) <= radius; });
    auto right = std::partition_point(begin, end, [&](const Candidate& c) { return offset(c) < 0.0; });
    auto left = right;

    EllipseContents contents;
    while (contents.count < 2 && (left != begin || right != end)) {
        const Candidate& c = (right == end || (left != begin && -offset(*(left - 1)) < offset(*right)))
                                 ? *--left
                                 : *right++;
        if (c.index == i || c.index == j) continue;
        const vector<float, 2> e{c.x - mid.x, c.y - mid.y};
        if (std::fabs(static_cast<double>(e.y)) > radius) continue;
        const float f = dot(e, d) / squaredSpan;                 // -0.5 at i, +0.5 at j
        const float g = (d.x * e.y - d.y * e.x) / squaredSpan;  // across, in spans
        if (ellipse.contains(f, g)) {
            ++contents.count;
            contents.point = c.index;
            contents.along = f;
            contents.across = g;
        }
    }
    return contents;
}

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
    const double reach = searchEllipse.reach();
    const std::vector<Candidate> candidates = sortedCandidates(points);

    for (unsigned long i = 0; i < points.size(); ++i) {
        for (unsigned long j = i + 1; j < points.size(); ++j) {
            const vector<float, 2> d = points[j] - points[i];
            const vector<float, 2> mid = (points[i] + points[j]) / 2.0f;
            const float squaredSpan = dot(d, d);
            // Coincident ends: f = e·d / 0 is never finite, so no point is inside.
            if (squaredSpan == 0.0f) continue;
            // Inside means |e| < reach·|d| up to rounding, which the float test keeps within the
            // margin of reach while |d|² is a normal float; otherwise every candidate is tested.
            const double radius = squaredSpan >= std::numeric_limits<float>::min() &&
                                          squaredSpan <= std::numeric_limits<float>::max()
                                      ? reach * std::sqrt(static_cast<double>(squaredSpan)) + 1e-24
                                      : std::numeric_limits<double>::infinity();

            const EllipseContents inside = scanEllipse(candidates, searchEllipse, i, j, mid, d, squaredSpan, radius);
            if (inside.count != 1) continue;
            // The middle marker lies on the segment, at the bar's proportion from the nearer end.
            if (!(std::fabs(inside.across) < 0.01f && std::fabs(0.5f - std::fabs(inside.along) - barProportion) < 0.05f))
                continue;
            patterns.push_back(inside.along > 0.0f ? Pattern{j, inside.point, i} : Pattern{i, inside.point, j});
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
