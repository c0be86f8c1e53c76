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

Json coverageJson(const CoverageMap& map, const Testing::CoverageSettings& settings, const CameraProfile& camera,
                  const CoverageMap* exact) {
    Json rows = Json::array(), identifiable = Json::array();
    for (std::size_t row = 0; row < map.zs.size(); ++row) {
        Json shares = Json::array(), whole = Json::array();
        for (std::size_t column = 0; column < map.xs.size(); ++column) {
            shares.push_back(map.share(column, row));
            whole.push_back(map.identifiable[row * map.xs.size() + column]);
        }
        rows.push_back(std::move(shares));
        identifiable.push_back(std::move(whole));
    }
    return Json{{"method", Testing::methodName(settings.method)},
                {"fieldOfViewDegrees", settings.camera.fieldOfViewDegrees},
                {"minDistance", settings.minDistance},
                {"maxDistance", settings.maxDistance},
                {"step", map.step},
                {"framesPerPosition", map.framesPerPosition},
                {"threshold", map.threshold},
                {"worldX", map.xs},
                {"worldZ", map.zs},
                {"shares", std::move(rows)},
                {"identifiable", std::move(identifiable)},
                {"camera", Json{{"profile", camera.name},
                                {"noiseDegrees", camera.noiseDegrees},
                                {"dropProbability", camera.dropProbability},
                                {"spuriousRays", camera.spuriousRays}}},
                {"coveredFraction", map.coveredFraction()},
                {"identifiableFraction", map.identifiableFraction()},
                {"meanShare", map.meanShare()},
                {"exactCoveredFraction", exact != nullptr ? exact->coveredFraction() : map.coveredFraction()},
                {"exactMeanShare", exact != nullptr ? exact->meanShare() : map.meanShare()}};
}

int runCoverage(const CoverageCommandOptions& options) {
    const LoadedCode loaded = loadCode(options.input);
    const LibraryMatcher matcher(options.coverage.tracker.library, loaded.code);
    const CameraProfile camera = options.coverage.camera();
    const Testing::CoverageSettings settings = options.coverage.settings(loaded.description, camera);
    const CoverageMap map = computeCoverage(matcher, loaded.description, options.coverage, camera);
    // The figure on perfect rays beside it: how much the camera's errors cost.
    std::optional<CoverageMap> exact;
    if (!camera.exact()) exact = computeCoverage(matcher, loaded.description, options.coverage, CameraProfile{"exact"});
    if (options.json) {
        fmt::print("{}\n", coverageJson(map, settings, camera, exact ? &*exact : nullptr).dump(2));
        return 0;
    }
    fmt::print("percent of frames located correctly at world x (columns) and z (rows) in metres; {}; {} frames per "
               "position ({} headings x {} tilts{})\n\n",
               settings.describe(), map.framesPerPosition, settings.yaws, settings.tiltsDegrees.size(),
               settings.distances > 1 ? fmt::format(" x {} distances", settings.distances) : "");
    printTable(map);
    fmt::print("\ncovered: {:.1f}% of the floor ({} of {} positions with at least {:.0f}% of frames located "
               "correctly by {}); mean {:.1f}%; {}",
               100.0 * map.coveredFraction(), map.coveredPositions(), map.shares.size(), 100.0 * map.threshold,
               options.coverage.method, 100.0 * map.meanShare(), camera.describe());
    if (exact) fmt::print("; exact rays: {:.1f}% (mean {:.1f}%)", 100.0 * exact->coveredFraction(), 100.0 * exact->meanShare());
    fmt::print("\nidentifiable: {:.1f}% of the floor has a catalogued feature wholly in view in at least {:.0f}% of "
               "frames\n",
               100.0 * map.identifiableFraction(), 100.0 * map.threshold);
    return 0;
}

}  // namespace

void addCoverageCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<CoverageCommandOptions>();
    CLI::App* command = tool.add_subcommand(
        "coverage", "Locate frames from a lattice of tracker positions and show where the tracker finds itself");
    addInputOptions(*command, options->input, "code", "environment code");
    addCoverageOptions(*command, options->coverage);
    command->add_flag("--json", options->json, "Write JSON");
    selectOnParse(*command, selected, options, runCoverage);
}

}  // namespace Lumetra::Tools
