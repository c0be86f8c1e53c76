// Matching through the loaded library on synthetic frames of random layouts: a host's view.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"
#include "simulation/MatchScenarios.h"

namespace Lumetra::Testing {
namespace {

constexpr double degree = 3.14159265358979323846 / 180.0;
constexpr MarkerIndex notFound = 0xFFFFFFFE;
constexpr MarkerIndex unidentified = 0xFFFFFFFF;

/// What many matches of one kind of view came to.
struct MatchFigures {
    int views = 0;
    int matched = 0;
    int wrongNumbers = 0;     ///< rays of successful matches numbered with another marker
    int viewsWithWrongNumbers = 0;
    int unnumberedRays = 0;   ///< rays of successful matches left without a number
    double maxPositionError = 0;
    double maxRotationError = 0;  ///< radians
    std::vector<double> positionErrors;

    void add(const View& view, const MatchOutcome& outcome) {
        ++views;
        if (!outcome.matched) return;
        ++matched;
        const int wrongBefore = wrongNumbers;
        for (std::size_t i = 0; i < outcome.markerIndices.size(); ++i) {
            const MarkerIndex found = outcome.markerIndices[i];
            if (found == notFound || found == unidentified)
                ++unnumberedRays;
            else if (found != view.frame.markerNumbers[i])
                ++wrongNumbers;
        }
        viewsWithWrongNumbers += wrongNumbers > wrongBefore;
        const Point3d position = LumetraMath::vectorCast<double>(outcome.pose.position);
        const double positionError = LumetraMath::length(position - view.pose.position);
        const auto& q = outcome.pose.rotation;
        const double rotationError =
            rotationAngleBetween(LumetraMath::quaternion<double>{q.x, q.y, q.z, q.w}, view.pose.rotation());
        positionErrors.push_back(positionError);
        maxPositionError = std::max(maxPositionError, positionError);
        maxRotationError = std::max(maxRotationError, rotationError);
    }

    double successRate() const { return views == 0 ? 0.0 : static_cast<double>(matched) / views; }
    double medianPositionError() {
        if (positionErrors.empty()) return 0;
        std::nth_element(positionErrors.begin(), positionErrors.begin() + static_cast<long>(positionErrors.size() / 2),
                         positionErrors.end());
        return positionErrors[positionErrors.size() / 2];
    }

    void print(const std::string& title) {
        std::printf("%-28s views %4d  matched %5.1f%%  wrong %d (in %d views)  unnumbered %d  position median "
                    "%.2e max %.2e  rotation max %.4f deg\n",
                    title.c_str(), views, 100.0 * successRate(), wrongNumbers, viewsWithWrongNumbers, unnumberedRays,
                    medianPositionError(), maxPositionError, maxRotationError / degree);
    }
};

class MatchEndToEnd : public ::testing::TestWithParam<MatchGeometry> {
protected:
    /// Matches `viewsPerLayout` views of each of `layouts` random layouts.
    MatchFigures run(int layouts, int viewsPerLayout, double maxTilt, const FrameOptions& options,
                     std::size_t minBars, std::uint64_t seed) {
        std::mt19937_64 rng(seed);
        MatchFigures figures;
        for (int l = 0; l < layouts; ++l) {
            const auto layout = randomMatchLayout(GetParam(), 24, 24, rng);
            const auto environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
            const std::vector<Point3> markers = getMarkers(*environment);
            for (int v = 0; v < viewsPerLayout; ++v) {
                const std::optional<View> view =
                    drawView(markers, GetParam(), layout, maxTilt, options, minBars, 1000, rng);
                if (!view) continue;
                figures.add(*view, match(*environment, view->frame.rays));
            }
        }
        return figures;
    }

    LibraryHost host;
};

TEST_P(MatchEndToEnd, LevelTrackerWithExactRaysIsIdentifiedAndPlaced) {
    MatchFigures figures = run(4, 25, 0.0, FrameOptions{.fieldOfViewHalfAngle = 60 * degree}, 5, 11);
    figures.print(GetParam().name + " level");
    // A view whose arrangement looks the same after a half turn, or occurs elsewhere on the grid,
    // cannot be placed; such views are rare.
    EXPECT_GE(figures.successRate(), 0.97);
    EXPECT_EQ(figures.wrongNumbers, 0);
    EXPECT_EQ(figures.unnumberedRays, 0);
    EXPECT_LT(figures.maxPositionError, 1e-3);
    EXPECT_LT(figures.maxRotationError, 0.05 * degree);
}

/// The share of tilted views a geometry identifies at least. Levelling a tilted view from its
/// bars alone is approximate, and a view whose pose misses one of its own numbered markers by more
/// than the safety margin of the marker search is not reported as identified.
double tiltedSuccessRate(const std::string& geometry) {
    if (geometry == "LongCeiling") return 0.90;
    if (geometry == "LongFloor") return 0.96;
    return 0.94;
}

TEST_P(MatchEndToEnd, TiltedTrackerWithExactRaysNeverGetsAWrongNumber) {
    MatchFigures figures = run(20, 100, 15 * degree, FrameOptions{.fieldOfViewHalfAngle = 60 * degree}, 5, 12);
    figures.print(GetParam().name + " tilt up to 15 deg");
    EXPECT_GE(figures.views, 1900);
    EXPECT_EQ(figures.wrongNumbers, 0);
    EXPECT_GE(figures.successRate(), tiltedSuccessRate(GetParam().name));
    // Most views are placed as precisely as level ones; the others within centimetres.
    EXPECT_LT(figures.medianPositionError(), 1e-4);
    EXPECT_LT(figures.maxPositionError, 0.1);
    EXPECT_LT(figures.maxRotationError, 1.5 * degree);
}

TEST_P(MatchEndToEnd, KnownPositionNumbersEveryVisibleMarker) {
    std::mt19937_64 rng(21);
    const auto layout = randomMatchLayout(GetParam(), 24, 24, rng);
    const auto environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
    const std::vector<Point3> markers = getMarkers(*environment);
    for (int v = 0; v < 20; ++v) {
        const std::optional<View> view =
            drawView(markers, GetParam(), layout, 15 * degree, FrameOptions{.fieldOfViewHalfAngle = 1.2}, 1, 1000, rng);
        ASSERT_TRUE(view.has_value());
        const Point3 position = LumetraMath::vectorCast<float>(view->pose.position);
        EXPECT_EQ(matchByPosition(*environment, view->frame.worldRays, position), view->frame.markerNumbers)
            << "view " << v;
    }
}

INSTANTIATE_TEST_SUITE_P(Geometries, MatchEndToEnd, ::testing::ValuesIn(matchGeometries()),
                         [](const ::testing::TestParamInfo<MatchGeometry>& param) { return param.param.name; });

}  // namespace
}  // namespace Lumetra::Testing
