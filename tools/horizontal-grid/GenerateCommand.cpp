// generate: a random layout of one of the bar geometries that matching is tried on, as a code to
// start from.

#include <memory>
#include <random>

#include <fmt/core.h>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/MatchScenarios.h"
#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Conventions.h"

namespace Lumetra::Tools {
namespace {

struct GenerateOptions {
    std::string geometry = "long-ceiling";
    std::vector<std::uint32_t> size{20, 12};
    double fill = -1;
    int spacing = -1;
    std::uint64_t seed = 1;
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

int runGenerate(const GenerateOptions& options) {
    for (const Testing::MatchGeometry& geometry : Testing::matchGeometries()) {
        if (optionName(geometry.name) != options.geometry) continue;
        std::mt19937_64 rng(options.seed);
        const EnvironmentDescription layout = Testing::randomLayout(
            geometry.geometry, options.size[0], options.size[1], options.fill >= 0 ? options.fill : geometry.fill,
            options.spacing >= 0 ? options.spacing : geometry.minSpacing, rng);
        Vesk::Environment::HorizontalGrid::validateEnvironmentDescription(layout);
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
    command->add_option("-s,--size", options->size, "Grid size in cells: width,height")
        ->delimiter(',')
        ->expected(2)
        ->check(CLI::Range(std::uint32_t{1}, std::uint32_t{4096}))
        ->capture_default_str();
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
