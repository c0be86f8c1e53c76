// suggest: the bars that would add the most unique features, for all empty cells or for the dead
// zones that coverage finds; --apply writes the code with the best of them added.

#include <memory>
#include <optional>

#include <fmt/core.h>

#include "simulation/EnvironmentCodeWriter.h"
#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Conventions.h"
#include "tools/horizontal-grid/Coverage.h"
#include "tools/horizontal-grid/CoverageGuidedApply.h"
#include "tools/horizontal-grid/DescriptionJson.h"
#include "tools/horizontal-grid/Room.h"
#include "tools/horizontal-grid/Suggestions.h"

namespace Lumetra::Tools {
namespace {

struct SuggestOptions {
    InputSource input;
    std::size_t top = 10;
    std::size_t apply = 0;
    std::vector<int> region;
    double clearance = 0;
    int spacing = 0;
    bool deadZones = false;
    std::size_t candidates = 12;
    std::optional<RoomSize> room;
    double margin = 0;
    CoverageOptions coverage;
    bool json = false;
    std::string output;
};

LumetraMath::Rectangle candidateArea(const SuggestOptions& options) {
    if (options.region.empty()) return {{0, 0}, {2147483647, 2147483647}};
    if (options.region[0] > options.region[2] || options.region[1] > options.region[3])
        throw UsageError(fmt::format("--region {},{},{},{} is reversed: give the lower corner x0,y0 first", options.region[0],
                                     options.region[1], options.region[2], options.region[3]));
    return {{options.region[0], options.region[1]}, {options.region[2], options.region[3]}};
}

/// The candidate cells whose nearest coverage position is not covered.
std::vector<Cell> deadCells(const LoadedCode& loaded, const std::vector<Cell>& cells, const CoverageOptions& options) {
    const LibraryMatcher matcher(options.tracker.library, loaded.code);
    const CameraProfile camera = options.camera();
    const CoverageMap map = computeCoverage(matcher, loaded.description, options, camera);
    std::vector<Cell> dead = deadCellsOf(loaded.description, map, cells);
    fmt::print(stderr, "{} of {} candidate cells lie in dead zones ({:.1f}% of the floor covered by {})\n",
               dead.size(), cells.size(), 100.0 * map.coveredFraction(),
               options.settings(loaded.description, camera).describe());
    return dead;
}

/// --dead-zones --apply: bars chosen by the coverage they bring.
int applyForDeadZones(const SuggestOptions& options, const LoadedCode& loaded, const SuggestionFinder& finder,
                      const std::vector<Cell>& cells) {
    EnvironmentDescription improved = loaded.description;
    const std::vector<CoverageStep> steps =
        applyForCoverage(improved, finder, cells, options.coverage, options.apply, options.candidates);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Suggestion& s = steps[i].suggestion;
        fmt::print(stderr, "added bar {} at ({}, {}), rotation {} deg: covered {:.1f}% -> {:.1f}% ({} new, {} lost "
                           "unique features)\n",
                   loaded.description.bars.size() + i, s.bar._position.x, s.bar._position.y,
                   rotationDegrees(s.bar.rotation()), 100 * steps[i].coveredBefore, 100 * steps[i].coveredAfter,
                   s.newFeatures, s.lostFeatures);
    }
    if (steps.size() < options.apply)
        fmt::print(stderr, "only {} of {} bars raised coverage by {}\n", steps.size(), options.apply,
                   options.coverage.settings(loaded.description, options.coverage.camera()).describe());
    writeOutput(options.output, LumetraTest::writeEnvironmentCode(improved, 2) + "\n");
    return 0;
}

Json suggestionJson(const Suggestion& s) {
    return Json{{"x", s.bar._position.x}, {"y", s.bar._position.y}, {"rotationDegrees", rotationDegrees(s.bar.rotation())},
                {"newFeatures", s.newFeatures}, {"lostFeatures", s.lostFeatures}, {"net", s.net()}};
}

void printRanking(const std::vector<Suggestion>& ranked, std::size_t top) {
    fmt::print("{:>4}  {:>12}  {:>8}  {:>5}  {:>5}  {:>5}\n", "rank", "cell", "rotation", "new", "lost", "net");
    for (std::size_t i = 0; i < ranked.size() && i < top; ++i) {
        const Suggestion& s = ranked[i];
        fmt::print("{:>4}  {:>12}  {:>4} deg  {:>5}  {:>5}  {:>5}\n", i + 1,
                   fmt::format("({}, {})", s.bar._position.x, s.bar._position.y), rotationDegrees(s.bar.rotation()),
                   s.newFeatures, s.lostFeatures, s.net());
    }
}

int runSuggest(const SuggestOptions& options) {
    const LoadedCode loaded = loadCode(options.input);
    const EnvironmentPtr geometry = buildEnvironment(loaded.description);
    SuggestionFinder finder(*geometry, options.clearance, options.spacing, options.coverage.tracker.progressMode());
    if (options.room) finder.keepInside(*options.room, options.margin);

    std::vector<Cell> cells = emptyCells(loaded.description, candidateArea(options));
    if (options.deadZones && options.apply > 0) return applyForDeadZones(options, loaded, finder, cells);
    if (options.deadZones) cells = deadCells(loaded, cells, options.coverage);

    if (options.apply > 0) {
        EnvironmentDescription improved = loaded.description;
        const std::vector<Suggestion> added = finder.apply(improved, cells, options.apply);
        for (std::size_t i = 0; i < added.size(); ++i) {
            const Suggestion& s = added[i];
            fmt::print(stderr, "added bar {} at ({}, {}), rotation {} deg: {} new, {} lost unique features\n",
                       loaded.description.bars.size() + i, s.bar._position.x, s.bar._position.y,
                       rotationDegrees(s.bar.rotation()), s.newFeatures, s.lostFeatures);
        }
        if (added.size() < options.apply)
            fmt::print(stderr, "only {} of {} bars could be added with a gain\n", added.size(), options.apply);
        writeOutput(options.output, LumetraTest::writeEnvironmentCode(improved, 2) + "\n");
        return 0;
    }

    const std::vector<Suggestion> ranked = finder.rank(loaded.description, cells);
    if (options.json) {
        Json list = Json::array();
        for (std::size_t i = 0; i < ranked.size() && i < options.top; ++i) list.push_back(suggestionJson(ranked[i]));
        writeOutput(options.output, Json{{"candidateCells", cells.size()}, {"clearance", finder.clearance()},
                                         {"suggestions", std::move(list)}}
                                            .dump(2) +
                                        "\n");
        return 0;
    }
    fmt::print("{} candidate cells, {} of them admit a bar keeping {:.3g} from other markers\n\n", cells.size(),
               ranked.size(), finder.clearance());
    printRanking(ranked, options.top);
    return 0;
}

}  // namespace

void addSuggestCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<SuggestOptions>();
    CLI::App* command = tool.add_subcommand(
        "suggest", "Rank the bars that would add the most unique features; --apply N adds the best N");
    addInputOptions(*command, options->input, "code", "environment code");
    command->add_option("--top", options->top, "Number of suggestions listed")->check(notNegative())->capture_default_str();
    command->add_option("--apply", options->apply,
                        "Add the best N bars one after another and write the new code (bars are appended, so "
                        "existing marker numbers stay)")
        ->check(notNegative())
        ->check(CLI::Range(std::size_t{0}, std::size_t{100000}));
    command->add_option("--region", options->region, "Only cells in x0,y0,x1,y1 (inclusive)")
        ->delimiter(',')
        ->expected(4);
    command->add_option("--clearance", options->clearance,
                        "Smallest distance from a new marker to another bar's markers, metres (default: the bar's own "
                        "smallest marker spacing)")
        ->check(finiteNumber())
        ->check(nonNegativeNumber());
    command->add_option("--spacing", options->spacing, "Cells kept free around every bar (Chebyshev distance)")
        ->check(CLI::Range(0, 100))
        ->capture_default_str();
    CLI::Option* room = addRoomOption(*command, "--room", options->room,
                                      "Only bars whose markers stay inside a room WIDTHxDEPTH in metres, e.g. 8x5");
    command->add_option("--margin", options->margin, "With --room: distance kept between markers and walls, metres")
        ->check(finiteNumber())
        ->check(nonNegativeNumber())
        ->needs(room);
    command->add_flag("--dead-zones", options->deadZones,
                      "Only cells where coverage finds matching failing with the camera profile (options as for coverage); "
                      "with --apply, each bar is the one of the best --candidates that covers the most");
    command->add_option("--candidates", options->candidates,
                        "With --dead-zones --apply: best-ranked bars whose coverage is tried for every bar added")
        ->check(notNegative())
        ->check(CLI::Range(std::size_t{1}, std::size_t{1000}))
        ->capture_default_str();
    addCoverageOptions(*command, options->coverage);
    command->add_flag("--json", options->json, "Write the ranking as JSON");
    command->add_option("-o,--output", options->output, "Write to this file instead of standard output");
    selectOnParse(*command, selected, options, runSuggest);
}

}  // namespace Lumetra::Tools
