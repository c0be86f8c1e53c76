#include "environment/VeskEnvironment.h"
#include "matching/ConflictMatrix.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "matching/MiddleMarkerCandidates.h"

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

    /// A radius, in spans, about every place where contains() and the middle marker test of
    /// proportion p both hold, within which contains() holds for sure: there the middle marker
    /// has no other point nearer than this times |d|. Zero when no such radius can be vouched for.
    double clearanceAroundMiddle(double p) const {
        const double a = inverse00, b = inverse01, c = inverse11;
        if (!(std::isfinite(a) && std::isfinite(b) && std::isfinite(c)) || a == 0.0 || c == 0.0) return 0.0;
        // The ellipse matrix is the inverse [[1/a, -b/(ac)], [0, 1/c]]; its smallest singular value
        // bounds how far a point moves in (f, g) for a unit move of the inverse image.
        const double m00 = 1.0 / a, m01 = -b / (a * c), m11 = 1.0 / c;
        const double trace = m00 * m00 + m01 * m01 + m11 * m11, determinant = m00 * m11;
        const double gap = std::sqrt(std::max(0.0, trace * trace - 4.0 * determinant * determinant));
        const double smallest = std::sqrt(std::max(0.0, 0.5 * (trace - gap)));
        // The middle marker test allows |f| within 0.05 of 0.5 - p and |g| below 0.01 (widened here
        // past rounding): the inverse image of that box lies within `farthest` of (0, 0), its
        // largest value being at a corner.
        double farthest = 0.0;
        for (const double f : {0.4484 - p, 0.5516 - p, p - 0.4484, p - 0.5516})
            for (const double g : {-0.0105, 0.0105}) farthest = std::max(farthest, std::hypot(a * f + b * g, c * g));
        // 2 % less, far beyond the rounding of f, g and the test while the clearance is not
        // small (see MiddleMarkerCandidates).
        const double clearance = smallest * (1.0 - farthest) * 0.98;
        return std::isfinite(clearance) && clearance >= 0.05 ? clearance : 0.0;
    }
};

/// Whether (f, g) places a point where a bar's middle marker belongs: on the segment, at the bar's
/// proportion from the nearer end.
bool isMiddleMarker(float along, float across, float barProportion) {
    return std::fabs(across) < 0.01f && std::fabs(0.5f - std::fabs(along) - barProportion) < 0.05f;
}

/// What a pair's ellipse holds: how many other points (counting stops at two) and the last found.
struct EllipseContents {
    unsigned count = 0;
    unsigned long point = 0;
    float along = 0.0f, across = 0.0f;  ///< f and g of that point
};

/// A pair of points: its difference d, midpoint mid and squared span |d|², as the search uses them.
struct Pair {
    unsigned long i, j;
    vector<float, 2> d, mid;
    float squaredSpan;

    Pair(const std::vector<vector<float, 2>>& points, unsigned long first, unsigned long second)
        : i(first), j(second), d(points[second] - points[first]), mid((points[first] + points[second]) / 2.0f),
          squaredSpan(dot(d, d)) {}

    /// f and g of point p: its place along the pair (-0.5 at i, +0.5 at j) and across it, in spans.
    vector<float, 2> place(const vector<float, 2>& p) const {
        const vector<float, 2> e = p - mid;
        return {dot(e, d) / squaredSpan, (d.x * e.y - d.y * e.x) / squaredSpan};
    }

    /// Tests every other point in ascending order against the ellipse, until the second inside.
    EllipseContents scan(const std::vector<vector<float, 2>>& points, const SearchEllipse& ellipse) const {
        EllipseContents contents;
        for (unsigned long k = 0; k < points.size() && contents.count < 2; ++k) {
            if (k == i || k == j) continue;
            const vector<float, 2> fg = place(points[k]);
            if (ellipse.contains(fg.x, fg.y)) {
                ++contents.count;
                contents.point = k;
                contents.along = fg.x;
                contents.across = fg.y;
            }
        }
        return contents;
    }
};

/// The most the stray-tolerant middle marker test widens for noise, in spans: a bar whose rays'
/// noise moves its middle marker farther cannot be told from its neighbourhood anyway.
constexpr float maxNoiseWidening = 0.1f;

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
    const auto accept = [&](const Pair& pair) {
        const EllipseContents inside = pair.scan(points, searchEllipse);
        if (inside.count != 1 || !isMiddleMarker(inside.along, inside.across, barProportion)) return;
        patterns.push_back(inside.along > 0.0f ? Pattern{pair.j, inside.point, pair.i}
                                               : Pattern{pair.i, inside.point, pair.j});
    };
    // Pairs are tried in ascending (i, j) order, each scanned as a test of every point would; where
    // the middle marker candidates can vouch for the frame, only the pairs that may yield a pattern.
    if (const auto candidates =
            findMiddleMarkerCandidates(points, barProportion, searchEllipse.clearanceAroundMiddle(barProportion))) {
        // The pairs in which a candidate middle marker passes the middle marker test.
        std::vector<std::pair<unsigned long, unsigned long>> pairs;
        for (const auto& [nearEnd, farEnd, middle] : *candidates) {
            const Pair pair(points, std::min(nearEnd, farEnd), std::max(nearEnd, farEnd));
            const vector<float, 2> fg = pair.place(points[middle]);
            if (isMiddleMarker(fg.x, fg.y, barProportion)) pairs.emplace_back(pair.i, pair.j);
        }
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        for (const auto& [i, j] : pairs) accept(Pair(points, i, j));
    } else {
        for (unsigned long i = 0; i < points.size(); ++i)
            for (unsigned long j = i + 1; j < points.size(); ++j) accept(Pair(points, i, j));
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
    // Pattern p's words are rayBits[p · words] onwards, all in one list.
    std::vector<std::uint64_t> rayBits(patterns.size() * words, 0);
    for (std::size_t p = 0; p < patterns.size(); ++p)
        for (std::size_t m = 0; m < 3; ++m) {
            const unsigned long ray = patterns[p][m];
            if (ray < markerCount) rayBits[p * words + ray / 64] |= std::uint64_t{1} << (ray % 64);
        }

    for (std::size_t i = 0; i < patterns.size(); ++i)
        for (std::size_t j = i + 1; j < patterns.size(); ++j)
            for (unsigned long w = 0; w < words; ++w)
                if ((rayBits[i * words + w] & rayBits[j * words + w]) != 0) {
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

std::vector<VeskEnvironment::Pattern> VeskEnvironment::findPatternsToleratingStrays(
    const std::vector<vector<float, 2>>& points, float barProportion, const vector<float, 3>& ellipse,
    float ellipseScale, float rayNoise) {
    constexpr unsigned maxInside = 3;  // a bar's own middle marker and up to two strays
    std::vector<Pattern> patterns;
    const SearchEllipse searchEllipse(ellipse, ellipseScale);
    // Where a ray's noise moves its point: by up to noise · (1 + |p|²) on the plane of projection.
    std::vector<float> spread(points.size());
    for (std::size_t k = 0; k < points.size(); ++k) spread[k] = rayNoise * (1.0f + dot(points[k], points[k]));
    for (unsigned long i = 0; i < points.size(); ++i)
        for (unsigned long j = i + 1; j < points.size(); ++j) {
            const Pair pair(points, i, j);
            unsigned long inside[maxInside + 1];
            vector<float, 2> places[maxInside + 1];
            unsigned count = 0;
            for (unsigned long k = 0; k < points.size() && count <= maxInside; ++k) {
                if (k == i || k == j) continue;
                const vector<float, 2> fg = pair.place(points[k]);
                if (!searchEllipse.contains(fg.x, fg.y)) continue;
                inside[count] = k;
                places[count++] = fg;
            }
            if (count == 0 || count > maxInside) continue;
            // Two standard deviations of a point's place in spans, beside the fixed tolerances; NaN
            // (a non-finite point) widens nothing.
            const float inverseSpan = 2.0f / std::sqrt(pair.squaredSpan);
            const auto widening = [&](float pointSpread) {
                const float w = pointSpread * inverseSpan;
                return w > 0.0f ? std::min(w, maxNoiseWidening) : 0.0f;
            };
            const float endsWidening = widening(std::max(spread[i], spread[j]));
            for (unsigned m = 0; m < count; ++m) {
                // Noisy rays of a far or short bar leave its middle marker a little off the segment.
                const float noise = std::max(endsWidening, widening(spread[inside[m]]));
                if (!(std::fabs(places[m].y) < 0.025f + noise &&
                      std::fabs(0.5f - std::fabs(places[m].x) - barProportion) < 0.06f + noise))
                    continue;
                patterns.push_back(places[m].x > 0.0f ? Pattern{j, inside[m], i} : Pattern{i, inside[m], j});
            }
        }
    return patterns;
}
