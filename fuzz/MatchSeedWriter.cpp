// Writes seed inputs for fuzz_match: camera frames of the fixed environments seen from random
// poses, as the tracker reports them (for match) and in the world frame from the known position
// (for matchByPosition). Only frames that match are kept, so the engine starts from inputs that
// reach the end of the pipeline. Usage: fuzz_match_seeds <directory>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "environment/EnvironmentRecord.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/InProcessLibrary.h"
#include "fuzz/MatchCase.h"
#include "simulation/FrameGenerator.h"

namespace {

using namespace LumetraFuzz;
using Lumetra::Testing::Frame;
using Lumetra::Testing::FrameOptions;
using Lumetra::Testing::PoseRange;

constexpr int MatchSeedsPerEnvironment = 3;
constexpr int PositionSeedsPerEnvironment = 2;
constexpr std::size_t MaximumRays = 30;
constexpr int Attempts = 500;

bool matches(IEnvironment& environment, const std::vector<Vector3>& rays) {
    OutArray<MarkerIndex> indices;
    Pose pose{};
    LongBool result = LongBool::False;
    return environment.match(inArray(rays), indices.marshaler(), &pose, &result) == ExceptionCode::Ok &&
           result == LongBool::True;
}

void writeSeed(const std::string& path, const MatchCase& matchCase) {
    const std::vector<std::uint8_t> bytes = writeMatchCase(matchCase);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    LUMETRA_FUZZ_CHECK(out.good(), "cannot write %s", path.c_str());
}

/// Seeds for one environment; returns how many were written.
int writeSeeds(const std::string& directory, std::size_t index, std::mt19937_64& rng) {
    const std::string_view code = matchEnvironmentCodes()[index];
    const auto description = Lumetra::Vesk::Environment::HorizontalGrid::decodeEnvironmentCode(std::string(code));
    IEnvironment& environment = requireEnvironment(code);
    OutArray<Vector3> markers;
    LUMETRA_FUZZ_CHECK(environment.getMarkers(markers.marshaler()) == ExceptionCode::Ok, "getMarkers failed");

    PoseRange range;
    range.halfWidth = 0.5 * static_cast<double>(description.size.x) * description.cellSize;
    range.halfDepth = 0.5 * static_cast<double>(description.size.y) * description.cellSize;
    range.minDistance = description.ceiling ? 0.7 : 1.2;
    range.maxDistance = range.minDistance + 1.0;
    range.maxTilt = 0.2;
    FrameOptions options;
    options.ceiling = description.ceiling;

    int matchSeeds = 0;
    int positionSeeds = 0;
    const std::string prefix = directory + "/environment" + std::to_string(index);
    for (int attempt = 0; attempt < Attempts && matchSeeds < MatchSeedsPerEnvironment; ++attempt) {
        const auto trackerPose = randomTrackerPose(range, description.height, description.ceiling, rng);
        options.seed = rng();
        const Frame frame = generateFrame(markers.elements, trackerPose, options);
        if (frame.rays.size() > MaximumRays || !matches(environment, frame.rays)) continue;
        writeSeed(prefix + "-match" + std::to_string(matchSeeds++), {index, MatchOperation::match, {}, frame.rays});
        if (positionSeeds < PositionSeedsPerEnvironment)
            writeSeed(prefix + "-position" + std::to_string(positionSeeds++),
                      {index, MatchOperation::matchByPosition,
                       LumetraMath::vectorCast<float>(trackerPose.position), frame.worldRays});
    }
    environment.Release();
    return matchSeeds + positionSeeds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    std::mt19937_64 rng(1);
    for (std::size_t index = 0; index < matchEnvironmentCodes().size(); ++index)
        std::printf("environment %zu: %d seeds\n", index, writeSeeds(argv[1], index, rng));
    return 0;
}
