// The envelope evaluation on two small cells: every frame scored by every method and the oracle,
// the oracle exact on exact rays and honest on noisy ones, and the same figures on any number of
// threads.

#include <gtest/gtest.h>

#include "simulation/Envelope.h"

namespace {

using namespace Lumetra::Testing;

TEST(Envelope, ScoresEveryFrameAgainstTheOracleAndRepeatsOnAnyThreads) {
    const std::vector<EnvelopeCell> cells{{115, 1.2, 2.0, 15, 2, false, RayProfile::exact},
                                          {115, 1.2, 2.0, 15, 2, false, RayProfile::camera}};
    EnvelopeSettings settings;
    settings.frames = 30;
    settings.walkSeconds = 0.5;
    settings.threads = 1;
    const auto results = evaluateEnvelope(cells, settings);
    settings.threads = 2;
    const auto again = evaluateEnvelope(cells, settings);
    ASSERT_EQ(results.size(), 2u);
    for (std::size_t c = 0; c < results.size(); ++c) {
        const EnvelopeResult& r = results[c];
        EXPECT_EQ(r.frames, 30u);
        EXPECT_GE(r.poses, r.frames);
        EXPECT_LE(r.identifiable, r.frames);
        EXPECT_EQ(r.walkFrames, 60u);
        for (const MethodTally* m : {&r.match, &r.identify, &r.track}) {
            EXPECT_EQ(m->errors.size(), m->found);
            EXPECT_EQ(m->oracleErrors.size(), m->found);
            EXPECT_EQ(m->seconds.size(), m->tried);
        }
        EXPECT_EQ(r.identify.tried, r.frames);
        EXPECT_GT(r.identify.found, 20u);
        EXPECT_EQ(r.identify.found, again[c].identify.found);
        EXPECT_EQ(r.track.found, again[c].track.found);
        EXPECT_EQ(r.identify.errors, again[c].identify.errors);
    }
    for (const double error : results[0].identify.oracleErrors) EXPECT_LT(error, 1e-5);
    std::size_t count = 0;
    double sum = 0;
    for (const NeesTally& t : results[1].oracleNees) count += t.count, sum += t.sum;
    EXPECT_EQ(count, results[1].frames);
    EXPECT_GT(sum / static_cast<double>(count), 3.0);
    EXPECT_LT(sum / static_cast<double>(count), 10.0);
}

}  // namespace
