// The room coverage estimate and the layout search on small rooms.

#include <gtest/gtest.h>

#include <random>

#include "simulation/LayoutDesign.h"
#include "simulation/MatchScenarios.h"
#include "simulation/RoomCoverage.h"

namespace Lumetra::Testing {
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;

namespace {

DesignRequest floorRoom(double width, double depth) {
    DesignRequest request;
    request.geometry = matchGeometries()[1].geometry;  // long bars on the floor
    request.roomWidth = width;
    request.roomDepth = depth;
    request.coverage.yaws = 4;
    request.coverage.tiltsDegrees = {0};
    request.evaluations = 40;
    return request;
}

TEST(RoomDesign, BeatsARandomLayoutKeepsWallsAndSpacingAndIsTheSameOnAnyThreads) {
    DesignRequest request = floorRoom(4, 3);
    request.threads = 1;
    const DesignResult one = designLayout(request);
    request.threads = 3;
    const DesignResult three = designLayout(request);
    EXPECT_EQ(one.layout.bars.size(), three.layout.bars.size());
    EXPECT_EQ(one.estimate, three.estimate);

    std::mt19937_64 rng(1);
    EnvironmentDescription random = randomMatchLayout(matchGeometries()[1], static_cast<std::uint32_t>(one.layout.size.x),
                                                     static_cast<std::uint32_t>(one.layout.size.y), rng);
    // Located by identify with a typical camera, the design covers far more of the floor.
    const double before = estimateCoverage(random, CoreLocator(random), request.coverage).coveredFraction();
    const double after = estimateCoverage(one.layout, CoreLocator(one.layout), request.coverage).coveredFraction();
    EXPECT_GT(after, before + 0.2) << before << " -> " << after;

    const auto designed = makeEnvironment(one.layout);
    for (const auto& marker : designed->getMarkers2D()) {
        EXPECT_LE(std::abs(marker.x), 2.0);
        EXPECT_LE(std::abs(marker.y), 1.5);
    }
    for (std::size_t i = 0; i < one.layout.bars.size(); ++i)
        for (std::size_t j = i + 1; j < one.layout.bars.size(); ++j) {
            const auto d = one.layout.bars[i]._position - one.layout.bars[j]._position;
            EXPECT_GT(std::max(std::abs(d.x), std::abs(d.y)), request.spacing);
        }
}

TEST(RoomCoverage, IdentifyCoverageFollowsTheIdentifiableShareAndTrackWalksThroughCells) {
    DesignRequest request = floorRoom(4, 3);
    const DesignResult design = designLayout(request);
    const CoreLocator locator(design.layout);
    CoverageSettings settings = request.coverage;
    settings.camera = *namedCamera("exact");
    const RoomCoverage identified = estimateCoverage(design.layout, locator, settings);
    EXPECT_EQ(identified.identifiableFraction(), design.estimate);
    EXPECT_GT(identified.coveredFraction(), 0.5);
    settings.method = LocateMethod::track;
    settings.camera.rate = 20;
    const RoomCoverage tracked = estimateCoverage(design.layout, locator, settings);
    EXPECT_GE(tracked.coveredFraction(), identified.coveredFraction() - 0.1);
    EXPECT_THROW(gridInRoom(0.5, 3, 0, 0.6), std::invalid_argument);
    EXPECT_EQ(gridInRoom(9, 6, 0, 0.6), std::make_pair(15u, 10u));
}

}  // namespace
}  // namespace Lumetra::Testing
