// generate: a layout designed for a room (--room), or a random one of a grid size, of one of the
// bar geometries that matching is tried on, as a code.

#include <cmath>
#include <memory>
#include <optional>
#include <random>

#include <fmt/core.h>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LayoutDesign.h"
#include "simulation/MatchScenarios.h"
#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Conventions.h"
#include "tools/horizontal-grid/Coverage.h"
#include "tools/horizontal-grid/EnvironmentModel.h"
#include "tools/horizontal-grid/Room.h"
#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {
namespace {

struct GenerateOptions {
    std::string geometry = "long-ceiling";
    std::vector<std::uint32_t> size{20, 12};
    double fill = -1;
    int spacing = -1;
    std::optional<RoomSize> room;
    double margin = 0;
    std::string output;
    // Designing for a room:
    bool random = false;               ///< fill the room at random instead
    std::optional<double> ceiling;     ///< markers under a ceiling of this height
    std::optional<double> markerHeight;
    std::optional<double> cellSize;
    double target = 95;                ///< percent of the floor
    std::size_t maxBars = 0;
    CoverageOptions coverage;
    const CLI::Option* geometryOption = nullptr;
};

/// "LongCeiling" → "long-ceiling".
std::string optionName(const std::string& name) {
    std::string result;
    for (const char c : name) {
        if (c >= 'A' && c <= 'Z') {
            if (!result.empty()) result += '-';
            result += static_cast<char>(c - 'A' + 'a');
        } else {
            result += c;
        }
    }
    return result;
}

/// The grid that fits the room less its margin on every side, in cells of `cellSize`.
std::pair<std::uint32_t, std::uint32_t> gridInRoom(const RoomSize& room, double margin, double cellSize) {
    try {
        return Testing::gridInRoom(room.width, room.depth, margin, cellSize);
    } catch (const std::invalid_argument& refused) {
        throw UsageError(fmt::format("a room of {:g} x {:g} m less a margin of {:g} m: {} of {:g} m", room.width,
                                     room.depth, margin, refused.what(), cellSize));
    }
}

/// Drops the bars with a marker outside the room less its margin, and says what the room holds.
void keepInsideRoom(EnvironmentDescription& layout, const RoomSize& room, double margin) {
    const auto markers = buildEnvironment(layout)->getMarkers2D();
    std::vector<Vesk::Environment::HorizontalGrid::Bar> kept;
    for (std::size_t i = 0; i < layout.bars.size(); ++i) {
        const auto box = markerBox({markers[3 * i], markers[3 * i + 1], markers[3 * i + 2]});
        if (box->inside(room, margin)) kept.push_back(layout.bars[i]);
    }
    const std::size_t dropped = layout.bars.size() - kept.size();
    layout.bars = std::move(kept);
    const auto box = markerBox(layout.bars.empty() ? decltype(markers){} : buildEnvironment(layout)->getMarkers2D());
    fmt::print(stderr, "room {:g} x {:g} m, margin {:g} m: grid {} x {} cells of {:g} m, {} bars{}", room.width,
               room.depth, margin, layout.size.x, layout.size.y, layout.cellSize, layout.bars.size(),
               dropped == 0 ? "" : fmt::format(" ({} left out that would reach beyond)", dropped));
    if (box) fmt::print(stderr, "; markers span {:.2f} x {:.2f} m", box->width(), box->depth());
    fmt::print(stderr, "\n");
}

const Testing::MatchGeometry& namedGeometry(const std::string& name) {
    static const std::vector<Testing::MatchGeometry> geometries = Testing::matchGeometries();
    for (const Testing::MatchGeometry& geometry : geometries)
        if (optionName(geometry.name) == name) return geometry;
    throw std::runtime_error("unknown geometry \"" + name + "\"");
}

int generateRandom(const GenerateOptions& options, const Testing::MatchGeometry& geometry) {
    const auto [columns, rows] = options.room ? gridInRoom(*options.room, options.margin, geometry.geometry.cellSize)
                                              : std::pair(options.size[0], options.size[1]);
    std::mt19937_64 rng(options.coverage.tracker.seed);
    EnvironmentDescription layout = Testing::randomLayout(
        geometry.geometry, columns, rows, options.fill >= 0 ? options.fill : geometry.fill,
        options.spacing >= 0 ? options.spacing : geometry.minSpacing, rng);
    if (options.room) keepInsideRoom(layout, *options.room, options.margin);
    Vesk::Environment::HorizontalGrid::validateEnvironmentDescription(layout);
    writeOutput(options.output, LumetraTest::writeEnvironmentCode(layout, 2) + "\n");
    return 0;
}

/// The design request of the options for `geometry`, the tracker `distances` from the markers.
Testing::DesignRequest designRequest(const GenerateOptions& options, const EnvironmentDescription& geometry,
                                     const CameraProfile& camera, std::pair<double, double> distances) {
    Testing::DesignRequest request;
    request.geometry = geometry;
    request.roomWidth = options.room->width;
    request.roomDepth = options.room->depth;
    request.margin = options.margin;
    request.spacing = options.spacing >= 0 ? options.spacing : 1;
    CoverageOptions coverage = options.coverage;
    coverage.distances = {distances.first, distances.second};
    coverage.heights.clear();
    request.coverage = coverage.settings(geometry, camera);
    request.target = options.target / 100;
    request.maxBars = options.maxBars;
    request.seed = options.coverage.tracker.seed;
    request.threads = options.coverage.threads;
    return request;
}

/// A quicker search, for the alternatives tried when a design misses its target: the random
/// packings alone.
Testing::DesignRequest probeRequest(const GenerateOptions& options, const EnvironmentDescription& geometry,
                                    const CameraProfile& camera, std::pair<double, double> distances) {
    Testing::DesignRequest request = designRequest(options, geometry, camera, distances);
    request.evaluations = request.starts;
    return request;
}

struct Designed {
    EnvironmentDescription layout;
    CoverageMap coverage;
};

/// The designed layout, with its coverage by the method asked for, through the library.
Designed design(const Testing::DesignRequest& request, const GenerateOptions& options) {
    Testing::DesignResult result = Testing::designLayout(request);
    Vesk::Environment::HorizontalGrid::validateEnvironmentDescription(result.layout);
    const LibraryMatcher matcher(options.coverage.tracker.library, LumetraTest::writeEnvironmentCode(result.layout, 2));
    CoverageMap coverage = Testing::estimateCoverage(result.layout, matcher, request.coverage);
    return {std::move(result.layout), std::move(coverage)};
}

/// The geometry of the options: the named one with the room's marker plane and cell size.
EnvironmentDescription roomGeometry(const GenerateOptions& options, const Testing::MatchGeometry& named) {
    EnvironmentDescription geometry = named.geometry;
    geometry.ceiling = options.ceiling.has_value();
    geometry.height = static_cast<float>(options.markerHeight ? *options.markerHeight : options.ceiling.value_or(0.0));
    if (options.cellSize) geometry.cellSize = static_cast<float>(*options.cellSize);
    return geometry;
}

/// What would reach the target when the design does not: the nearest tracker distance (in steps of
/// 0.1 m, the range keeping its width) and the other geometries at the distances asked for.
void adviseOnTarget(const GenerateOptions& options, const EnvironmentDescription& geometry, const CameraProfile& camera,
                    std::pair<double, double> distances, double reached) {
    const double target = options.target / 100;
    fmt::print(stderr, "target {:g}% not reached: {} bars cover at most {:.1f}% of the floor with the tracker "
                       "{:g}-{:g} m from the markers\n",
               options.target, geometry.schemeName, 100 * reached, distances.first, distances.second);
    for (const Testing::MatchGeometry& other : Testing::matchGeometries()) {
        if (other.geometry.schemeName == geometry.schemeName) continue;
        EnvironmentDescription candidate = other.geometry;
        candidate.ceiling = geometry.ceiling, candidate.height = geometry.height;
        const Designed trial = design(probeRequest(options, candidate, camera, distances), options);
        fmt::print(stderr, "  {} bars at the same distances: {:.1f}%{}\n", candidate.schemeName,
                   100 * trial.coverage.coveredFraction(), trial.coverage.coveredFraction() >= target ? " (reaches it)" : "");
    }
    const double width = distances.second - distances.first;
    for (int tenth = 1; tenth <= 30; ++tenth) {
        const std::pair shifted{distances.first + 0.1 * tenth, distances.second + 0.1 * tenth};
        if (geometry.ceiling && shifted.second >= geometry.height) break;
        const Designed trial = design(probeRequest(options, geometry, camera, shifted), options);
        if (trial.coverage.coveredFraction() < target) continue;
        fmt::print(stderr, "  {} bars reach {:.1f}% with the tracker {:g}-{:g} m from the markers (the nearest "
                           "{:g} m more than asked{})\n",
                   geometry.schemeName, 100 * trial.coverage.coveredFraction(), shifted.first, shifted.first + width,
                   0.1 * tenth,
                   geometry.ceiling ? fmt::format("; a ceiling of {:g} m over the same tracker heights",
                                                  geometry.height + 0.1 * tenth)
                                    : std::string());
        return;
    }
    fmt::print(stderr, "  no tracker distance up to 3 m more reaches it with this geometry\n");
}

int generateForRoom(const GenerateOptions& options, const Testing::MatchGeometry& named) {
    const EnvironmentDescription geometry = roomGeometry(options, named);
    gridInRoom(*options.room, options.margin, geometry.cellSize);  // a room too small is a usage error
    const CameraProfile camera = options.coverage.camera();
    // Unless given: 1.2-2.0 m above floor markers, or a tracker 1.5-1.9 m high under a ceiling.
    CoverageOptions coverage = options.coverage;
    if (coverage.distanceGiven == nullptr || coverage.distanceGiven->count() == 0) {
        if (coverage.heights.empty() && geometry.ceiling) coverage.heights = {1.5, 1.9};
        if (coverage.heights.empty()) coverage.distances = {1.2, 2.0};
    }
    const std::pair distances = coverage.distanceRange(geometry);
    const Designed designed = design(designRequest(options, geometry, camera, distances), options);
    const Testing::CoverageSettings settings = designRequest(options, geometry, camera, distances).coverage;
    fmt::print(stderr, "room {:g} x {:g} m, {} at {:g} m: grid {} x {} cells of {:g} m, {} {} bars designed\n",
               options.room->width, options.room->depth, geometry.ceiling ? "markers under a ceiling" : "markers on the floor",
               geometry.height, designed.layout.size.x, designed.layout.size.y, geometry.cellSize, designed.layout.bars.size(),
               geometry.schemeName);
    fmt::print(stderr, "covered: {:.1f}% of the floor (mean {:.1f}%), identifiable {:.1f}%; {}\n",
               100 * designed.coverage.coveredFraction(), 100 * designed.coverage.meanShare(),
               100 * designed.coverage.identifiableFraction(), settings.describe());
    if (designed.coverage.coveredFraction() < options.target / 100)
        adviseOnTarget(options, geometry, camera, distances, designed.coverage.coveredFraction());
    writeOutput(options.output, LumetraTest::writeEnvironmentCode(designed.layout, 2) + "\n");
    return 0;
}

int runGenerate(const GenerateOptions& options) {
    std::string name = options.geometry;
    // Under a ceiling the long ceiling bars, unless a geometry was named.
    if (options.ceiling && (options.geometryOption == nullptr || options.geometryOption->count() == 0))
        name = "long-ceiling";
    else if (options.room && !options.random && (options.geometryOption == nullptr || options.geometryOption->count() == 0))
        name = "long-floor";
    const Testing::MatchGeometry& geometry = namedGeometry(name);
    if (options.room && !options.random) return generateForRoom(options, geometry);
    return generateRandom(options, geometry);
}

}  // namespace

void addGenerateCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<GenerateOptions>();
    std::vector<std::string> names;
    std::string described;
    for (const Testing::MatchGeometry& geometry : Testing::matchGeometries()) {
        names.push_back(optionName(geometry.name));
        const auto& g = geometry.geometry;
        described += fmt::format("\n  {}: bars of {} ({} of the cell {}), {}", names.back(), g.barLength,
                                 g.barLength / g.cellSize, g.cellSize, g.ceiling ? "under a ceiling" : "on the floor");
    }
    CLI::App* command = tool.add_subcommand("generate", "Design a layout for a room (--room), or write a random one, as a code");
    command->footer("Geometries:" + described);
    command->add_option("-g,--geometry", options->geometry,
                        "Bar geometry (default when designing for a room: long-floor, long-ceiling with --ceiling)")
        ->check(CLI::IsMember(names))
        ->capture_default_str();
    CLI::Option* size = command->add_option("-s,--size", options->size, "Grid size in cells: columns (world x),rows (world z)")
        ->delimiter(',')
        ->expected(2)
        ->check(CLI::Range(std::uint32_t{1}, std::uint32_t{4096}))
        ->capture_default_str();
    CLI::Option* room = addRoomOption(*command, "--room", options->room,
                                      "Room in metres, width (world x) x depth (world z), e.g. 8x5: the largest grid "
                                      "that fits, keeping every marker inside the room")
                            ->excludes(size);
    command->add_option("--margin", options->margin, "With --room: distance kept between markers and walls, metres")
        ->check(finiteNumber())
        ->check(nonNegativeNumber())
        ->needs(room);
    command->add_option("--fill", options->fill, "Chance that an admissible cell takes a bar (default: the geometry's)")
        ->check(CLI::Range(0.0, 1.0));
    command->add_option("--spacing", options->spacing,
                        "Cells kept free around every bar (default: what the geometry's bars need; designing for a "
                        "room, 1, with no two bars crossing or nearer than a bar's own marker spacing)")
        ->check(CLI::Range(0, 100));
    command->add_flag("--random", options->random, "With --room: fill the room at random instead of designing")
        ->needs(room);
    command->add_option("--ceiling", options->ceiling,
                        "With --room: markers under a ceiling of this height, metres (default: on the floor)")
        ->check(finiteNumber())
        ->check(positiveNumber())
        ->needs(room);
    command->add_option("--marker-height", options->markerHeight,
                        "Height of the marker plane, metres (default: 0 on the floor, the --ceiling's under one)")
        ->check(finiteNumber())
        ->needs(room);
    command->add_option("--cell", options->cellSize, "Cell size, metres (default: the geometry's)")
        ->check(finiteNumber())
        ->check(CLI::Range(0.05, 10.0))
        ->needs(room);
    command->add_option("--target", options->target, "Percent of the floor the design aims to cover by identify")
        ->check(CLI::Range(1.0, 100.0))
        ->capture_default_str();
    command->add_option("--max-bars", options->maxBars, "Most bars of the design (default: as many as help)")
        ->check(notNegative());
    addCoverageOptions(*command, options->coverage);
    command->get_option("--seed")->description("Seed of the layout, and of the frames that measure its coverage");
    options->geometryOption = command->get_option("--geometry");
    options->coverage.distanceGiven = command->get_option("--distance");
    command->get_option("--distance")->default_str("1.2,2.0 above floor markers");
    command->get_option("--height")->description(
        "Height of the tracker (world y, metres), one or a range MIN,MAX, instead of --distance (default under a "
        "ceiling: 1.5,1.9)");
    command->add_option("-o,--output", options->output, "Write the code to this file instead of standard output");
    selectOnParse(*command, selected, options, runGenerate);
}

}  // namespace Lumetra::Tools
