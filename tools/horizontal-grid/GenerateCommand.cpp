// generate: a random layout of one of the bar geometries that matching is tried on, as a code to
// start from.

#include <cmath>
#include <memory>
#include <optional>
#include <random>

#include <fmt/core.h>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/MatchScenarios.h"
#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Conventions.h"
#include "tools/horizontal-grid/EnvironmentModel.h"
#include "tools/horizontal-grid/SymmetryWarning.h"
#include "tools/horizontal-grid/Room.h"
#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {
namespace {

struct GenerateOptions {
    std::string geometry = "long-ceiling";
    std::vector<std::uint32_t> size{20, 12};
    double fill = -1;
    int spacing = -1;
    std::uint64_t seed = 1;
    std::optional<RoomSize> room;
    double margin = 0;
    std::string output;
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
    const double columns = std::floor((room.width - 2 * margin) / cellSize);
    const double rows = std::floor((room.depth - 2 * margin) / cellSize);
    if (!(columns >= 1 && rows >= 1))
        throw UsageError(fmt::format("a room of {:g} x {:g} m less a margin of {:g} m holds no cell of {:g} m", room.width,
                                     room.depth, margin, cellSize));
    if (columns > 4096 || rows > 4096)
        throw UsageError(fmt::format("a room of {:g} x {:g} m needs more than 4096 cells a side", room.width, room.depth));
    return {static_cast<std::uint32_t>(columns), static_cast<std::uint32_t>(rows)};
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

int runGenerate(const GenerateOptions& options) {
    for (const Testing::MatchGeometry& geometry : Testing::matchGeometries()) {
        if (optionName(geometry.name) != options.geometry) continue;
        const auto [columns, rows] = options.room ? gridInRoom(*options.room, options.margin, geometry.geometry.cellSize)
                                                  : std::pair(options.size[0], options.size[1]);
        std::mt19937_64 rng(options.seed);
        EnvironmentDescription layout = Testing::randomLayout(
            geometry.geometry, columns, rows, options.fill >= 0 ? options.fill : geometry.fill,
            options.spacing >= 0 ? options.spacing : geometry.minSpacing, rng);
        if (options.room) keepInsideRoom(layout, *options.room, options.margin);
        Vesk::Environment::HorizontalGrid::validateEnvironmentDescription(layout);
        warnIfLayoutRepeats(*buildEnvironment(layout));
        writeOutput(options.output, LumetraTest::writeEnvironmentCode(layout, 2) + "\n");
        return 0;
    }
    throw std::runtime_error("unknown geometry \"" + options.geometry + "\"");
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
    CLI::App* command = tool.add_subcommand("generate", "Write the code of a random layout to start from");
    command->footer("Geometries:" + described);
    command->add_option("-g,--geometry", options->geometry, "Bar geometry")
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
                        "Cells kept free around every bar (default: what the geometry's bars need)")
        ->check(CLI::Range(0, 100));
    command->add_option("--seed", options->seed, "Seed of the layout")->check(notNegative())->capture_default_str();
    command->add_option("-o,--output", options->output, "Write the code to this file instead of standard output");
    selectOnParse(*command, selected, options, runGenerate);
}

}  // namespace Lumetra::Tools
