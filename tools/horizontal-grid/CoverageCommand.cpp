// coverage: where on the floor the tracker finds itself, as a table and as one figure.

#include <cmath>
#include <memory>
#include <optional>

#include <fmt/core.h>

#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Coverage.h"
#include "tools/horizontal-grid/DescriptionJson.h"

namespace Lumetra::Tools {
namespace {

struct CoverageCommandOptions {
    InputSource input;
    CoverageOptions coverage;
    bool json = false;
};

void printTable(const CoverageMap& map) {
    fmt::print("{:>8} |", "z \\ x");
    for (const double x : map.xs) fmt::print("{:>6.2f}", x);
    fmt::print("\n{:->9}{:->{}}\n", "+", "", 6 * map.xs.size());
    for (std::size_t row = 0; row < map.zs.size(); ++row) {
        fmt::print("{:>8.2f} |", map.zs[row]);
        for (std::size_t column = 0; column < map.xs.size(); ++column)
            fmt::print("{:>6.0f}", 100.0 * map.share(column, row));
        fmt::print("\n");
    }
}

Json coverageJson(const CoverageMap& map, double height, const CameraProfile& camera, const CoverageMap* exact) {
    Json rows = Json::array();
    for (std::size_t row = 0; row < map.zs.size(); ++row) {
        Json shares = Json::array();
        for (std::size_t column = 0; column < map.xs.size(); ++column) shares.push_back(map.share(column, row));
        rows.push_back(std::move(shares));
    }
    return Json{{"height", height},
                {"step", map.step},
                {"framesPerPosition", map.framesPerPosition},
                {"threshold", map.threshold},
                {"worldX", map.xs},
                {"worldZ", map.zs},
                {"shares", std::move(rows)},
                {"camera", Json{{"profile", camera.name},
                                {"noiseDegrees", camera.noiseDegrees},
                                {"dropProbability", camera.dropProbability},
                                {"spuriousRays", camera.spuriousRays}}},
                {"coveredFraction", map.coveredFraction()},
                {"meanShare", map.meanShare()},
                {"exactCoveredFraction", exact != nullptr ? exact->coveredFraction() : map.coveredFraction()},
                {"exactMeanShare", exact != nullptr ? exact->meanShare() : map.meanShare()}};
}

int runCoverage(const CoverageCommandOptions& options) {
    const LoadedCode loaded = loadCode(options.input);
    const LibraryMatcher matcher(options.coverage.tracker.library, loaded.code);
    const CameraProfile camera = options.coverage.camera();
    const CoverageMap map = computeCoverage(matcher, loaded.description, options.coverage, camera);
    // The figure on perfect rays beside it: how much the camera's errors cost.
    std::optional<CoverageMap> exact;
    if (!camera.exact()) exact = computeCoverage(matcher, loaded.description, options.coverage, CameraProfile{"exact"});
    const double height = options.coverage.trackerHeight(loaded.description);
    if (options.json) {
        fmt::print("{}\n", coverageJson(map, height, camera, exact ? &*exact : nullptr).dump(2));
        return 0;
    }
    fmt::print("percent of frames matched correctly at world x (columns) and z (rows) in metres; tracker at height "
               "{:g} ({:g} from the markers), {} frames per position ({} headings x {} tilts)\n\n",
               height, std::abs(height - loaded.description.height), map.framesPerPosition, options.coverage.yaws,
               options.coverage.tiltsDegrees.size());
    printTable(map);
    fmt::print("\ncovered: {:.1f}% of the floor ({} of {} positions with at least {:.0f}% of frames matched "
               "correctly); mean {:.1f}%; {}",
               100.0 * map.coveredFraction(), map.coveredPositions(), map.shares.size(), 100.0 * map.threshold,
               100.0 * map.meanShare(), camera.describe());
    if (exact) fmt::print("; exact rays: {:.1f}% (mean {:.1f}%)", 100.0 * exact->coveredFraction(), 100.0 * exact->meanShare());
    fmt::print("\n");
    return 0;
}

}  // namespace

void addCoverageCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<CoverageCommandOptions>();
    CLI::App* command = tool.add_subcommand(
        "coverage", "Match frames from a lattice of tracker positions and show where matching works");
    addInputOptions(*command, options->input, "code", "environment code");
    addCoverageOptions(*command, options->coverage);
    command->add_flag("--json", options->json, "Write JSON");
    selectOnParse(*command, selected, options, runCoverage);
}

}  // namespace Lumetra::Tools
