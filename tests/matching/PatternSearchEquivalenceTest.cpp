// The pattern search against its literal form: every pair of points, every other point tested in
// turn. The library's search skips points that cannot lie in a pair's ellipse; it must find
// exactly the same patterns, in the same order, on any input.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <random>

#include "environment/VeskEnvironment.h"

namespace {

using LumetraMath::vector;
using Pattern = VeskEnvironment::Pattern;
using Points = std::vector<vector<float, 2>>;

std::vector<Pattern> literalPatterns(const Points& points, float barProportion, const vector<float, 3>& ellipse,
                                     float ellipseScale) {
    const float m00 = (ellipse.x - 0.5f) * ellipseScale + 0.5f;
    const float m11 = ellipse.y * ellipseScale;
    const float m01 = ellipse.z * ellipseScale;
    const float determinant = m00 * m11;
    const float inverse00 = m11 / determinant, inverse01 = -m01 / determinant, inverse11 = m00 / determinant;

    std::vector<Pattern> patterns;
    for (unsigned long i = 0; i < points.size(); ++i)
        for (unsigned long j = i + 1; j < points.size(); ++j) {
            const vector<float, 2> d = points[j] - points[i];
            const vector<float, 2> mid = (points[i] + points[j]) / 2.0f;
            const float squaredSpan = dot(d, d);
            unsigned inside = 0;
            unsigned long middle = 0;
            float along = 0, across = 0;
            for (unsigned long k = 0; k < points.size() && inside < 2; ++k) {
                if (k == i || k == j) continue;
                const vector<float, 2> e = points[k] - mid;
                const float f = dot(e, d) / squaredSpan;
                const float g = (d.x * e.y - d.y * e.x) / squaredSpan;
                const float u = inverse00 * f + inverse01 * g, w = inverse11 * g;
                if (u * u + w * w < 1.0f) {
                    ++inside;
                    middle = k;
                    along = f;
                    across = g;
                }
            }
            if (inside == 1 && std::fabs(across) < 0.01f && std::fabs(0.5f - std::fabs(along) - barProportion) < 0.05f)
                patterns.push_back(along > 0 ? Pattern{j, middle, i} : Pattern{i, middle, j});
        }
    return patterns;
}

/// Random frames: bars (some slightly off the line or the proportion), loose points, repeats of
/// earlier points, and on request values at the edges of float.
class FrameMaker {
public:
    explicit FrameMaker(std::uint64_t seed) : rng(seed) {}

    Points frame(float proportion, float scale, bool oddValues) {
        Points points;
        const int bars = pick(0, 12), loose = pick(0, 12);
        for (int b = 0; b < bars; ++b) {
            const vector<float, 2> start{uniform(-scale, scale), uniform(-scale, scale)};
            const float angle = uniform(-3.2f, 3.2f), length = uniform(0.05f, 0.6f) * scale;
            const vector<float, 2> along{std::cos(angle) * length, std::sin(angle) * length};
            const vector<float, 2> across{-along.y, along.x};
            const float at = proportion + uniform(-0.06f, 0.06f), off = uniform(-0.015f, 0.015f);
            points.insert(points.end(), {start, start + along * at + across * off, start + along});
        }
        for (int l = 0; l < loose; ++l) points.push_back({uniform(-scale, scale), uniform(-scale, scale)});
        for (int r = pick(0, 3); r > 0 && !points.empty(); --r) points.push_back(points[pickIndex(points.size())]);
        if (oddValues)
            for (int o = pick(1, 6); o > 0; --o) points.push_back(oddPoint(points));
        std::shuffle(points.begin(), points.end(), rng);
        return points;
    }

    vector<float, 3> ellipse() {
        switch (pick(0, 3)) {
            case 0: return {0.6f, 0.6f, 0.0f};
            case 1: return {uniform(0.5f, 0.9f), uniform(0.05f, 0.9f), uniform(-0.3f, 0.3f)};
            case 2: return {uniform(0.0f, 2.0f), uniform(0.0f, 2.0f), uniform(-2.0f, 2.0f)};
            default: return {uniform(0.5f, 0.7f), uniform(1e-6f, 1e-3f), uniform(-50.0f, 50.0f)};  // very skewed
        }
    }

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    float uniform(float low, float high) { return std::uniform_real_distribution<float>(low, high)(rng); }

private:
    std::size_t pickIndex(std::size_t size) { return std::uniform_int_distribution<std::size_t>(0, size - 1)(rng); }

    vector<float, 2> oddPoint(const Points& points) {
        constexpr float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
        constexpr float values[] = {nan, inf, -inf, 3e38f, -3e38f, 1e20f, 1e-20f, 1e-39f, 1e-45f, 0.0f, -0.0f};
        const auto value = [&] { return values[pickIndex(std::size(values))]; };
        switch (pick(0, 3)) {
            case 0: return {value(), value()};
            case 1: return {value(), uniform(-1, 1)};
            case 2: return {uniform(-1, 1), value()};
            default: {
                // A hair away from an existing point: spans too small for a normal |d|².
                if (points.empty()) return {value(), value()};
                const vector<float, 2> near = points[pickIndex(points.size())];
                return {near.x + 1e-22f * static_cast<float>(pick(-2, 2)), near.y};
            }
        }
    }

    std::mt19937_64 rng;
};

void expectSamePatterns(FrameMaker& maker, int frames, bool oddValues) {
    std::size_t found = 0;
    for (int n = 0; n < frames; ++n) {
        const float proportion = maker.pick(0, 3) == 0 ? maker.uniform(0.0f, 0.6f) : 0.3f;
        const float scale = std::pow(10.0f, maker.uniform(-18.0f, 12.0f) * (maker.pick(0, 2) == 0 ? 1.0f : 0.0f));
        const Points points = maker.frame(proportion, scale, oddValues);
        const vector<float, 3> ellipse = maker.ellipse();
        const float ellipseScale = maker.pick(0, 3) == 0 ? maker.uniform(0.1f, 2.0f) : 0.75f;
        const auto expected = literalPatterns(points, proportion, ellipse, ellipseScale);
        ASSERT_EQ(VeskEnvironment::findAllPossiblePatterns(points, proportion, ellipse, ellipseScale), expected)
            << "frame " << n;
        found += expected.size();
    }
    EXPECT_GT(found, static_cast<std::size_t>(frames));  // the comparison covered many accepted patterns
}

TEST(PatternSearchEquivalence, SameAsTestingEveryPointOnRandomFrames) {
    FrameMaker maker(1);
    expectSamePatterns(maker, 3000, false);
}

TEST(PatternSearchEquivalence, SameAsTestingEveryPointWithNonFiniteHugeTinyAndRepeatedPoints) {
    FrameMaker maker(2);
    expectSamePatterns(maker, 3000, true);
}

TEST(PatternSearchEquivalence, SameAsTestingEveryPointOnCrowdedAndDegenerateFrames) {
    // Many points on one line, on a lattice, or all equal: pairs with many points in their ellipse.
    FrameMaker maker(3);
    for (int n = 0; n < 200; ++n) {
        Points points;
        const int count = maker.pick(3, 70);
        const int kind = n % 3;
        for (int k = 0; k < count; ++k) {
            const float t = static_cast<float>(k);
            points.push_back(kind == 0   ? vector<float, 2>{t * 0.1f, 0.0f}
                             : kind == 1 ? vector<float, 2>{static_cast<float>(k % 7), static_cast<float>(k / 7)}
                                         : vector<float, 2>{0.5f, 0.5f});
        }
        const vector<float, 3> ellipse = maker.ellipse();
        ASSERT_EQ(VeskEnvironment::findAllPossiblePatterns(points, 0.3f, ellipse, 0.75f),
                  literalPatterns(points, 0.3f, ellipse, 0.75f))
            << "frame " << n;
    }
}

}  // namespace
