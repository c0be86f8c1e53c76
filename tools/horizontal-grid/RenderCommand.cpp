// render: an SVG picture of the environment, optionally over its coverage map.

#include "tools/horizontal-grid/RenderCommand.h"

#include <memory>
#include <optional>

#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/EnvironmentSvg.h"

namespace Lumetra::Tools {

int runRender(const RenderOptions& options) {
    const LoadedCode loaded = loadCode(options.input);
    const EnvironmentPtr environment = buildEnvironment(loaded.description);
    std::optional<CoverageMap> coverage;
    if (options.coverage) {
        const LibraryMatcher matcher(options.coverageOptions.tracker.library, loaded.code);
        coverage = computeCoverage(matcher, loaded.description, options.coverageOptions,
                                   options.coverageOptions.camera());
    }
    SvgOptions svg;
    svg.cellPixels = options.cellPixels;
    svg.markerNumbers = !options.noNumbers;
    svg.coverage = coverage ? &*coverage : nullptr;
    svg.fromBelow = options.view == "below";
    svg.room = options.room;
    writeOutput(options.output, renderEnvironmentSvg(loaded.description, *environment, svg));
    return 0;
}

void addRenderCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<RenderOptions>();
    CLI::App* command = tool.add_subcommand(
        "render", "Draw the environment as SVG: cells, metre rulers, room, contour, axes, numbered bars and markers");
    addInputOptions(*command, options->input, "code", "environment code");
    command->add_option("-o,--output", options->output, "Write the SVG to this file instead of standard output");
    command->add_option("--cell-pixels", options->cellPixels, "Drawn size of one cell")
        ->check(finiteNumber())
        ->check(CLI::Range(4.0, 1000.0))
        ->capture_default_str();
    command->add_flag("--no-numbers", options->noNumbers, "Leave out the marker numbers");
    command->add_option("--view", options->view,
                        "above: as seen from above; below: as an installer looking up at a ceiling sees it (mirrored)")
        ->check(CLI::IsMember({"above", "below"}))
        ->capture_default_str();
    addRoomOption(*command, "--room", options->room, "Draw the outline of a room WIDTHxDEPTH in metres, e.g. 8x5");
    command->add_flag("--coverage", options->coverage,
                      "Colour the floor by the share of frames matched correctly (options as for coverage)");
    addCoverageOptions(*command, options->coverageOptions);
    selectOnParse(*command, selected, options, runRender);
}

}  // namespace Lumetra::Tools
