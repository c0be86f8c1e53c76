// render: a picture of the environment, optionally over its coverage map, or its installation
// sheet; SVG, PNG or PDF by the output file's extension.

#include "tools/horizontal-grid/RenderCommand.h"

#include <cmath>
#include <memory>
#include <optional>

#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/EnvironmentSvg.h"
#include "tools/horizontal-grid/InstallationSheet.h"
#include "tools/horizontal-grid/PictureOutput.h"

namespace Lumetra::Tools {

namespace {

/// "1:50" → 50.
double printScale(const std::string& text) {
    double scale = 0;
    if (text.rfind("1:", 0) != 0 || !CLI::detail::lexical_cast(text.substr(2), scale) || !std::isfinite(scale) ||
        !(scale >= 1) || scale > 10000)
        throw UsageError("--scale " + text + " is not a print scale such as 1:50");
    return scale;
}

int renderSheet(const RenderOptions& options, const LoadedCode& loaded, const Environment& environment) {
    const LibraryMatcher matcher(options.coverageOptions.tracker.library, loaded.code);
    const CameraProfile camera = options.coverageOptions.camera();
    const CoverageMap coverage = computeCoverage(matcher, loaded.description, options.coverageOptions, camera);
    SheetOptions sheet;
    sheet.paper = options.paper;
    sheet.scale = printScale(options.scale);
    const auto& d = loaded.description;
    sheet.room = options.room.value_or(RoomSize{static_cast<double>(d.size.x) * d.cellSize,
                                                static_cast<double>(d.size.y) * d.cellSize});
    sheet.coverage = &coverage;
    sheet.coverageLegend = options.coverageOptions.settings(d, camera).describe();
    // 150 dots an inch: the sheet's PNG reads like the print.
    writePicture(options.output, renderInstallationSheet(d, environment, sheet), 150);
    return 0;
}

}  // namespace

int runRender(const RenderOptions& options) {
    const LoadedCode loaded = loadCode(options.input);
    const EnvironmentPtr environment = buildEnvironment(loaded.description);
    if (options.sheet) return renderSheet(options, loaded, *environment);
    std::optional<CoverageMap> coverage;
    std::string coverageLegend;
    if (options.coverage) {
        const LibraryMatcher matcher(options.coverageOptions.tracker.library, loaded.code);
        const CameraProfile camera = options.coverageOptions.camera();
        coverage = computeCoverage(matcher, loaded.description, options.coverageOptions, camera);
        coverageLegend = options.coverageOptions.settings(loaded.description, camera).describe();
    }
    SvgOptions svg;
    svg.cellPixels = options.cellPixels;
    svg.markerNumbers = !options.noNumbers;
    svg.coverage = coverage ? &*coverage : nullptr;
    svg.coverageLegend = coverageLegend;
    svg.fromBelow = options.view == "below";
    svg.room = options.room;
    writePicture(options.output, renderEnvironmentSvg(loaded.description, *environment, svg));
    return 0;
}

void addRenderCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<RenderOptions>();
    CLI::App* command = tool.add_subcommand(
        "render", "Draw the environment (SVG, PNG or PDF): cells, metre rulers, room, contour, axes, numbered bars and "
                  "markers; or its installation sheet");
    addInputOptions(*command, options->input, "code", "environment code");
    command->add_option("-o,--output", options->output,
                        "Write the picture to this file instead of standard output: PNG or PDF by a .png or .pdf "
                        "extension, else SVG");
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
                      "Colour the floor by the share of frames located correctly (options as for coverage)");
    command->add_flag("--sheet", options->sheet,
                      "The installation sheet: the room to scale with numbered bars, their angles, the distances "
                      "from the walls to each end marker, the coverage (uncovered cells hatched) and a scale bar");
    command->add_option("--paper", options->paper, "Paper of the sheet, landscape")
        ->check(CLI::IsMember({"A4", "A3"}))
        ->capture_default_str();
    command->add_option("--scale", options->scale, "Print scale of the sheet")->capture_default_str();
    addCoverageOptions(*command, options->coverageOptions);
    selectOnParse(*command, selected, options, runRender);
}

}  // namespace Lumetra::Tools
