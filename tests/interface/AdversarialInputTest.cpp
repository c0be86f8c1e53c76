// Hostile and extreme input through the loaded library, as a host could send it. Every case names
// the bound it probes and must end with a clear answer: an error with its message, or a clean
// result, never a crash, a hang or an allocation the input merely announces.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"
#include "simulation/MatchScenarios.h"
#include "tests/support/RefusedCodeTest.h"

namespace Lumetra::Testing {
namespace {

using LumetraTest::EnvironmentDescription;
using Vesk::Environment::MarkerNotFound;
using Vesk::Environment::MarkerUnidentified;
using Vesk::Environment::MaxMatchRays;
using Vesk::Environment::HorizontalGrid::Bar;

constexpr double degree = 3.14159265358979323846 / 180.0;
constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float infinity = std::numeric_limits<float>::infinity();

/// The short-bar floor geometry on a grid of `width` × `height` cells, without bars.
EnvironmentDescription emptyGrid(std::uint64_t width, std::uint64_t height) {
    EnvironmentDescription description = matchGeometries()[2].geometry;
    description.size = {width, height};
    return description;
}

/// The record of `description` without its bar count (its last byte while it has no bars), so
/// that a test can append a hand-made bar list.
std::vector<std::uint8_t> recordBeforeBars(EnvironmentDescription description) {
    description.bars.clear();
    std::vector<std::uint8_t> bytes = LumetraTest::writeEnvironmentRecord(description);
    bytes.pop_back();
    return bytes;
}

/// `value` in ten varint bytes, padded with empty groups when it needs fewer.
void appendTenByteUVarint(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
    for (int group = 0; group < 9; ++group, value >>= 7) bytes.push_back(static_cast<std::uint8_t>(value | 0x80));
    bytes.push_back(static_cast<std::uint8_t>(value));
}

bool isMarkerIndex(MarkerIndex index, std::size_t markerCount) {
    return index < markerCount || index == MarkerNotFound || index == MarkerUnidentified;
}

/// One raw match call, with the pose and result pre-set so that untouched outputs show.
struct RawMatch {
    ExceptionCode code{};
    std::uint32_t result = 0x5A5A5A5A;
    Pose pose{{7.0f, 8.0f, 9.0f}, {0.5f, 0.5f, 0.5f, 0.5f}};
    OutArray<MarkerIndex> indices;
    bool poseWritten = false;

    RawMatch(IEnvironment& environment, const std::vector<Vector3>& rays) {
        const Pose untouched = pose;
        LongBool matched{result};
        code = environment.match({rays.empty() ? nullptr : rays.data(), static_cast<std::uint32_t>(rays.size())},
                                 indices.marshaler(), &pose, &matched);
        result = static_cast<std::uint32_t>(matched);
        poseWritten = std::memcmp(&pose, &untouched, sizeof(Pose)) != 0;
    }
};

/// The promises of match for any input: Ok, a LongBool of exactly 0 or ~0, one allocator call
/// with 0 (pose untouched, False) or the ray count (valid indices, pose written).
void expectCleanMatch(IEnvironment& environment, const std::vector<Vector3>& rays, std::size_t markerCount,
                      const std::string& what) {
    SCOPED_TRACE(what + ", " + std::to_string(rays.size()) + " rays");
    const RawMatch call(environment, rays);
    ASSERT_EQ(call.code, ExceptionCode::Ok);
    EXPECT_TRUE(call.result == 0 || call.result == 0xFFFFFFFF) << std::hex << call.result;
    EXPECT_EQ(call.indices.allocateCalls, 1);
    if (call.indices.requestedCount == 0) {
        EXPECT_EQ(call.result, 0u);
        EXPECT_FALSE(call.poseWritten);
        return;
    }
    EXPECT_EQ(call.indices.requestedCount, rays.size());
    for (MarkerIndex index : call.indices.elements) EXPECT_TRUE(isMarkerIndex(index, markerCount)) << index;
    EXPECT_TRUE(call.poseWritten);
}

void expectCleanMatchByPosition(IEnvironment& environment, const std::vector<Vector3>& rays, const Vector3& position,
                                std::size_t markerCount, const std::string& what) {
    SCOPED_TRACE(what);
    const std::vector<MarkerIndex> indices = matchByPosition(environment, rays, position);
    ASSERT_EQ(indices.size(), rays.size());
    for (MarkerIndex index : indices) EXPECT_TRUE(isMarkerIndex(index, markerCount)) << index;
}

class AdversarialInput : public RefusedCodeTest {
protected:
    void expectRefused(const std::vector<std::uint8_t>& record, const std::string& message) {
        const CallFailed failure = failureOf(LumetraTest::encodeBase64(record));
        EXPECT_EQ(failure.code, ExceptionCode::Failed);
        EXPECT_EQ(failure.message, message);
    }

    void expectRefused(const EnvironmentDescription& description, const std::string& message) {
        expectRefused(LumetraTest::writeEnvironmentRecord(description), message);
    }
};

// Bound: 16,777,216 cells. The cell index of such a grid takes 128 MB; no bars means no catalogue,
// no markers and nothing to match.
TEST_F(AdversarialInput, GridsAtTheCellLimitAreAcceptedAndMatchNothing) {
    const std::vector<Vector3> rays{{0.1f, -1.0f, 0.0f}, {0.0f, -1.0f, 0.1f}, {0.0f, -1.0f, 0.0f}};
    for (const auto& [width, height] : {std::pair<std::uint64_t, std::uint64_t>{4096, 4096}, {1, 16777216},
                                        {16777216, 1}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const InterfacePtr<IEnvironment> environment =
            host.createEnvironment(LumetraTest::writeEnvironmentCode(emptyGrid(width, height)));
        EXPECT_TRUE(getMarkers(*environment).empty());
        expectCleanMatch(*environment, rays, 0, "empty grid");
        EXPECT_FALSE(match(*environment, rays).matched);
        EXPECT_EQ(matchByPosition(*environment, rays, {0.0f, 2.0f, 0.0f}),
                  std::vector<MarkerIndex>(rays.size(), MarkerNotFound));
    }
}

// Bounds: geometric values within ±1e6, lengths at least 1e-6, on the largest grid. Bars in the
// far corners of such grids lie billions of units apart, and a tiny bar's markers coincide in
// float: creation still ends in an environment or a message, and whatever is built answers
// queries cleanly.
TEST_F(AdversarialInput, ExtremeGeometryOnTheLargestGridGivesCleanAnswers) {
    EnvironmentDescription corners = emptyGrid(4096, 4096);
    for (const auto& [x, y] : {std::pair{0, 0}, {4095, 0}, {0, 4095}, {4095, 4095}, {2048, 2047}, {2049, 2047}})
        corners.bars.push_back(Bar{{x, y}, static_cast<std::uint8_t>(x & 3)});
    std::vector<EnvironmentDescription> extremes;
    for (float cellSize : {1e-6f, 1e6f})
        for (float barLength : {1e-6f, 1e6f}) {
            EnvironmentDescription description = corners;
            description.cellSize = cellSize;
            description.barLength = barLength;
            extremes.push_back(description);
            description.barProportion = -1e6f;
            description.barSlope = 1e6f;
            description.barOffset = {-1e6f, 1e6f};
            description.height = -1e6f;
            description.ceiling = true;
            extremes.push_back(description);
        }
    for (std::size_t i = 0; i < extremes.size(); ++i) {
        SCOPED_TRACE("extreme geometry " + std::to_string(i));
        const std::string code = LumetraTest::writeEnvironmentCode(extremes[i]);
        const InterfacePtr<ILibrary> library = host.createLibrary();
        IEnvironment* slot = nullptr;
        const ExceptionCode created = createEnvironment(*library, code, &slot);
        if (created != ExceptionCode::Ok) {
            EXPECT_FALSE(threadMessage(*library).empty());
            continue;
        }
        const InterfacePtr<IEnvironment> environment = InterfacePtr<IEnvironment>::adopt(slot);
        const std::vector<Vector3> markers = getMarkers(*environment);
        ASSERT_EQ(markers.size(), 3 * extremes[i].bars.size());
        const Vector3 above{0.0f, extremes[i].height + (extremes[i].ceiling ? -2.0f : 2.0f), 0.0f};
        std::vector<Vector3> rays;
        for (const Vector3& marker : markers) rays.push_back(marker - above);
        expectCleanMatchByPosition(*environment, rays, above, markers.size(), "rays at the markers");
        expectCleanMatch(*environment, rays, markers.size(), "rays at the markers");
    }
}

// Bound: a side below 2^31 cells even when the grid holds no cell at all.
TEST_F(AdversarialInput, GridsWithoutCellsAreAcceptedUpToTheSideLimit) {
    for (const auto& [width, height] : {std::pair<std::uint64_t, std::uint64_t>{0, 0}, {2147483647, 0},
                                        {0, 2147483647}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const InterfacePtr<IEnvironment> environment =
            host.createEnvironment(LumetraTest::writeEnvironmentCode(emptyGrid(width, height)));
        EXPECT_TRUE(getMarkers(*environment).empty());
        expectCleanMatch(*environment, {{0.0f, -1.0f, 0.0f}}, 0, "grid without cells");
    }
}

// Bounds: 16,777,216 cells, sides below 2^31; sizes are 64-bit values and are never truncated.
TEST_F(AdversarialInput, GridsBeyondTheLimitsAreRefusedWithTheirMessage) {
    expectRefused(emptyGrid(4096, 4097), "grid size 4096 x 4097 has 16781312 cells, more than the 16777216 allowed");
    expectRefused(emptyGrid(16777217, 1), "grid size 16777217 x 1 has 16777217 cells, more than the 16777216 allowed");
    expectRefused(emptyGrid(2147483648, 1), "grid size 2147483648 x 1 has a side of 2^31 cells or more");
    expectRefused(emptyGrid(0, 2147483648), "grid size 0 x 2147483648 has a side of 2^31 cells or more");
    // 2^32 + 4 would read as 4 if the size kept only its low 32 bits.
    expectRefused(emptyGrid(4294967300, 1), "grid size 4294967300 x 1 has a side of 2^31 cells or more");
    const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    expectRefused(emptyGrid(largest, largest),
                  "grid size 18446744073709551615 x 18446744073709551615 has a side of 2^31 cells or more");
}

// Bound: an announced count must fit the bytes that follow it, checked before any room is made.
TEST_F(AdversarialInput, AnnouncedCountsBeyondTheDataFailAtOnce) {
    std::vector<std::uint8_t> fourBillionBars = recordBeforeBars(emptyGrid(8, 8));
    LumetraTest::appendUVarint(fourBillionBars, 4'000'000'000);
    expectRefused(fourBillionBars, "LumetraSerialization error Vector count 4000000000 exceeds the 0 bytes that "
                                   "remain (each element takes at least 3 bytes)");
    // One bar's bytes do follow: still far too few for the count.
    fourBillionBars.insert(fourBillionBars.end(), {1, 1, 0});
    expectRefused(fourBillionBars, "LumetraSerialization error Vector count 4000000000 exceeds the 3 bytes that "
                                   "remain (each element takes at least 3 bytes)");

    std::vector<std::uint8_t> mostBars = recordBeforeBars(emptyGrid(8, 8));
    LumetraTest::appendUVarint(mostBars, std::numeric_limits<std::uint64_t>::max());
    expectRefused(mostBars, "LumetraSerialization error Vector count 18446744073709551615 exceeds the 0 bytes that "
                            "remain (each element takes at least 3 bytes)");

    std::vector<std::uint8_t> longName{2};
    LumetraTest::appendUVarint(longName, std::uint64_t{1} << 40);
    longName.insert(longName.end(), {'a', 'b'});
    expectRefused(longName, "LumetraSerialization error record truncated: String needs 1099511627776 bytes, 2 bytes "
                            "left");
}

// Bound: a varint takes at most ten bytes; bar coordinates keep the low 32 bits of its value.
TEST_F(AdversarialInput, TenByteVarintPositionsKeepTheirLow32Bits) {
    EnvironmentDescription plain = emptyGrid(4, 4);
    plain.bars = {Bar{{1, 2}, 1}, Bar{{2, 1}, 3}};
    const std::vector<Vector3> expected = getMarkers(*host.createEnvironment(LumetraTest::writeEnvironmentCode(plain)));

    std::vector<std::uint8_t> record = recordBeforeBars(plain);
    record.push_back(2);
    appendTenByteUVarint(record, (std::uint64_t{1} << 32) + 1);  // padded: 2^32 + 1 → 1
    LumetraTest::appendUVarint(record, 0xFFFFFFFF00000002);        // ten bytes, bit 63 set → 2
    record.push_back(1);
    LumetraTest::appendUVarint(record, 0x8000000000000002);  // → 2
    appendTenByteUVarint(record, 1);                         // padded: 1
    record.push_back(3);
    ASSERT_EQ(record.size(), recordBeforeBars(plain).size() + 1 + 2 * (10 + 10 + 1));
    EXPECT_EQ(getMarkers(*host.createEnvironment(LumetraTest::encodeBase64(record))), expected);

    // Low 32 bits of all ones are −1: outside the grid.
    std::vector<std::uint8_t> negative = recordBeforeBars(plain);
    negative.push_back(1);
    LumetraTest::appendUVarint(negative, 0x80000000FFFFFFFF);
    LumetraTest::appendUVarint(negative, 1);
    negative.push_back(0);
    expectRefused(negative, "bar 0 at cell (-1, 1) lies outside the 4 x 4 grid");

    // An eleventh byte, or a tenth one carrying more than bit 63, is no varint.
    std::vector<std::uint8_t> tooLong = recordBeforeBars(plain);
    tooLong.push_back(1);
    tooLong.insert(tooLong.end(), 10, 0x80);
    tooLong.insert(tooLong.end(), {0x00, 0x01, 0x00});
    expectRefused(tooLong, "LumetraSerialization error UVarint longer than 10 bytes");
    std::vector<std::uint8_t> overflowing = recordBeforeBars(plain);
    overflowing.push_back(1);
    overflowing.insert(overflowing.end(), 9, 0x80);
    overflowing.insert(overflowing.end(), {0x02, 0x01, 0x00});
    expectRefused(overflowing, "LumetraSerialization error UVarint overflows 64 bits");
}

// The densest window: every cell of an 8 × 8 grid holds a bar (192 markers). Accepted; it builds in
// about half a second in a debug build.
TEST_F(AdversarialInput, FullyOccupiedWindowIsAcceptedAndMatchedByPosition) {
    std::mt19937_64 rng(5);
    EnvironmentDescription dense = emptyGrid(8, 8);
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 8; ++y) dense.bars.push_back(Bar{{x, y}, static_cast<std::uint8_t>(rng() & 3)});
    const InterfacePtr<IEnvironment> environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(dense));
    const std::vector<Vector3> markers = getMarkers(*environment);
    ASSERT_EQ(markers.size(), 192u);

    const Vector3 above{0.1f, 3.0f, -0.2f};
    std::vector<Vector3> rays;
    for (const Vector3& marker : markers) rays.push_back(marker - above);
    std::vector<MarkerIndex> expected(markers.size());
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<MarkerIndex>(i);
    EXPECT_EQ(matchByPosition(*environment, rays, above), expected);
    expectCleanMatch(*environment, rays, markers.size(), "every marker of the dense window");

    // MaxMatchRays rays, each at a real marker, seen from three places at once: bar-shaped triples
    // everywhere, none of them a consistent view.
    std::vector<Vector3> crowded;
    for (const Vector3& from : {above, Vector3{1.0f, 2.0f, 0.5f}, Vector3{-0.7f, 2.5f, 0.9f}})
        for (const Vector3& marker : markers)
            if (crowded.size() < MaxMatchRays) crowded.push_back(marker - from);
    expectCleanMatch(*environment, crowded, markers.size(), "three views of the dense window at once");
}

/// A random layout of the long floor geometry with views of it.
class AdversarialRays : public AdversarialInput {
protected:
    static void SetUpTestSuite() {
        std::mt19937_64 rng(41);
        geometry = new MatchGeometry(matchGeometries()[1]);
        layout = new EnvironmentDescription(randomMatchLayout(*geometry, 24, 24, rng));
    }
    static void TearDownTestSuite() {
        delete geometry;
        delete layout;
    }

    void SetUp() override {
        environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(*layout));
        markers = getMarkers(*environment);
    }

    /// A view of at least `minBars` complete bars, seen from a slightly tilted tracker.
    View view(std::size_t minBars, std::uint64_t seed) const {
        std::mt19937_64 rng(seed);
        const std::optional<View> found = drawView(markers, *geometry, *layout, 10 * degree,
                                                   FrameOptions{.fieldOfViewHalfAngle = 70 * degree}, minBars, 1000, rng);
        if (!found) throw std::runtime_error("no view of " + std::to_string(minBars) + " bars");
        return *found;
    }

    /// The rays of a real view cut or filled up with random downward rays to exactly `count`.
    std::vector<Vector3> raysOfCount(std::size_t count, std::uint64_t seed) const {
        std::vector<Vector3> rays = view(4, seed).frame.rays;
        std::mt19937_64 rng(seed);
        std::uniform_real_distribution<float> spread(-1.0f, 1.0f);
        while (rays.size() < count) rays.push_back({spread(rng), -1.0f, spread(rng)});
        rays.resize(count);
        return rays;
    }

    static MatchGeometry* geometry;
    static EnvironmentDescription* layout;
    InterfacePtr<IEnvironment> environment;
    std::vector<Vector3> markers;
};

MatchGeometry* AdversarialRays::geometry = nullptr;
EnvironmentDescription* AdversarialRays::layout = nullptr;

// Bounds: up to MaxMatchRays (512) rays are searched; pattern sets of 64 fill one machine word.
TEST_F(AdversarialRays, FramesOfEverySizeGiveCleanResults) {
    for (std::size_t count : {0, 1, 2, 64, 65, 512})
        for (std::uint64_t seed = 1; seed <= 3; ++seed)
            expectCleanMatch(*environment, raysOfCount(count, seed), markers.size(), "seed " + std::to_string(seed));
}

// Bound: MaxMatchRays (512) rays in regular arrangements, where many triples line up like bars:
// a square lattice, a row of equally spaced rays, and one direction repeated.
TEST_F(AdversarialRays, StructuredFramesOfMaxMatchRaysGiveCleanResults) {
    std::vector<Vector3> lattice, row, repeated;
    for (std::size_t i = 0; i < MaxMatchRays; ++i) {
        const float column = static_cast<float>(i % 32), line = static_cast<float>(i / 32);
        lattice.push_back({0.05f * column - 0.8f, -1.0f, 0.05f * line - 0.4f});
        row.push_back({0.003f * static_cast<float>(i) - 0.75f, -1.0f, 0.1f});
        repeated.push_back({0.1f, -1.0f, 0.2f});
    }
    expectCleanMatch(*environment, lattice, markers.size(), "lattice");
    expectCleanMatch(*environment, row, markers.size(), "row");
    expectCleanMatch(*environment, repeated, markers.size(), "one direction");
}

// Bound: MaxMatchRays. A larger frame is refused without a search: False, one allocator call with
// 0, the pose untouched.
TEST_F(AdversarialRays, FramesBeyondMaxMatchRaysAreFalseAtOnce) {
    const std::vector<Vector3> real = view(8, 3).frame.rays;
    for (std::size_t count : {std::size_t{MaxMatchRays} + 1, std::size_t{1000}}) {
        std::vector<Vector3> rays;
        while (rays.size() < count) rays.push_back(real[rays.size() % real.size()]);
        const RawMatch call(*environment, rays);
        EXPECT_EQ(call.code, ExceptionCode::Ok);
        EXPECT_EQ(call.result, 0u);
        EXPECT_EQ(call.indices.allocateCalls, 1);
        EXPECT_EQ(call.indices.requestedCount, 0u);
        EXPECT_FALSE(call.poseWritten);
    }
}

// Rays that hit no plane: NaN and infinite components, zero length, horizontal (y = 0), and
// magnitudes at the float limits; alone, as a whole frame, and mixed into a real view.
TEST_F(AdversarialRays, DegenerateRaysGiveCleanResults) {
    const std::vector<Vector3> degenerate{{nan, -1.0f, 0.0f},
                                          {0.0f, nan, 0.0f},
                                          {nan, nan, nan},
                                          {infinity, -1.0f, 0.0f},
                                          {0.0f, -infinity, 0.0f},
                                          {-infinity, infinity, -infinity},
                                          {0.0f, 0.0f, 0.0f},
                                          {-0.0f, -0.0f, -0.0f},
                                          {1.0f, 0.0f, 0.0f},
                                          {0.3f, -0.0f, -0.7f},
                                          {3e38f, -3e38f, 3e38f},
                                          {1e-45f, -1e-45f, 1e-45f},
                                          {0.0f, -1e-45f, 0.0f}};
    const View real = view(6, 9);
    const Vector3 position = LumetraMath::vectorCast<float>(real.pose.position);
    ASSERT_TRUE(match(*environment, real.frame.rays).matched) << "the view itself must be identified";
    for (std::size_t i = 0; i < degenerate.size(); ++i) {
        const std::string what = "degenerate ray " + std::to_string(i);
        expectCleanMatch(*environment, {degenerate[i]}, markers.size(), what);
        expectCleanMatch(*environment, std::vector<Vector3>(9, degenerate[i]), markers.size(), what + " nine times");
        std::vector<Vector3> mixed = real.frame.rays;
        mixed[i % mixed.size()] = degenerate[i];
        mixed.push_back(degenerate[i]);
        expectCleanMatch(*environment, mixed, markers.size(), what + " in a view");
        std::vector<Vector3> mixedWorld = real.frame.worldRays;
        mixedWorld.push_back(degenerate[i]);
        expectCleanMatchByPosition(*environment, mixedWorld, position, markers.size(), what + " by position");
        for (const Vector3& reference : {Vector3{0.0f, 1.0f, 0.0f}, degenerate[i]}) {
            LongBool kept{0x5A5A5A5A};
            ASSERT_EQ(environment->filterRay(degenerate[i], reference, &kept), ExceptionCode::Ok);
            EXPECT_TRUE(kept == LongBool::False || kept == LongBool::True) << what;
        }
    }
    expectCleanMatch(*environment, degenerate, markers.size(), "all degenerate rays");
    for (const Vector3& badPosition : degenerate)
        expectCleanMatchByPosition(*environment, real.frame.worldRays, badPosition, markers.size(),
                                   "degenerate position");
}

// Bound: none on matchByPosition; 100,000 rays give 100,000 numbers. Each marker is hit once, the
// other rays point past the grid. (Its speed is measured by MatchByPosition/LongFloor/rays.)
TEST_F(AdversarialRays, MatchByPositionNumbersOneHundredThousandRays) {
    constexpr std::size_t rayCount = 100'000;
    const Vector3 position{0.3f, 2.0f, -0.4f};
    std::vector<Vector3> rays;
    std::vector<MarkerIndex> expected;
    for (std::size_t i = 0; i < rayCount; ++i) {
        if (i < markers.size()) {
            rays.push_back(markers[i] - position);
            expected.push_back(static_cast<MarkerIndex>(i));
        } else {
            const float angle = static_cast<float>(i) * 0.001f;
            rays.push_back({100.0f * std::cos(angle), -1.0f, 100.0f * std::sin(angle)});
            expected.push_back(MarkerNotFound);
        }
    }
    EXPECT_EQ(matchByPosition(*environment, rays, position), expected);
}

}  // namespace
}  // namespace Lumetra::Testing
