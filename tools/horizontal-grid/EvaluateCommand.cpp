// evaluate: the accuracy table of matching over the bar geometries and a sweep of angular noise,
// against the plain pipeline (levelled pose, no refinement, no confirmation) and the best pose the
// true markers allow; with --envelope, the table of match, identify and track over fields of view,
// distances, tilts, geometries, layout densities and ray profiles.

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "simulation/AccuracyEvaluation.h"
#include "tools/horizontal-grid/EnvelopeReport.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Progress.h"
#include "tools/horizontal-grid/TrackerEvaluation.h"
#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {
namespace {

struct EvaluateOptions {
    Testing::AccuracySettings settings;
    std::vector<double> noiseDegrees{0, 0.01, 0.02, 0.05, 0.1};
    double maxTiltDegrees = 15;
    double fieldOfViewDegrees = 115;
    std::string progress = "auto";
    bool json = false;

    bool envelope = false;
    bool framesGiven = false;
    Testing::EnvelopeSettings envelopeSettings;
    Testing::EnvelopeAxes axes;
    std::vector<std::string> distances{"0.6-1.0", "1.2-2.0", "2.0-3.0"};
    std::vector<std::string> geometries{"LongCeiling", "LongFloor", "ShortFloor"};
    std::vector<std::string> layouts{"usual", "dense"};
    std::vector<std::string> rays{"exact", "camera", "noise0.1"};
    std::string readme;
    std::string jsonFile;
    bool tracker = false;  ///< the inertial tracker's table instead
    TrackerEvaluationOptions trackerOptions;
};

ProgressMode progressMode(const std::string& progress) {
    return progress == "always" ? ProgressMode::always : progress == "never" ? ProgressMode::never : ProgressMode::automatic;
}

/// "a-b" in metres.
std::array<double, 2> distanceBand(const std::string& text) {
    const auto dash = text.find('-');
    std::array<double, 2> band{};
    try {
        if (dash == std::string::npos) throw std::invalid_argument(text);
        band = {std::stod(text.substr(0, dash)), std::stod(text.substr(dash + 1))};
    } catch (const std::exception&) {
        throw CLI::ValidationError("--distances", "a band is written MIN-MAX in metres, e.g. 1.2-2.0: " + text);
    }
    if (!(band[0] > 0 && band[1] >= band[0] && band[1] < 100))
        throw CLI::ValidationError("--distances", "a band needs 0 < MIN <= MAX < 100: " + text);
    return band;
}

template <std::size_t N>
std::size_t indexOf(const std::string& name, const char* const (&names)[N]) {
    return static_cast<std::size_t>(std::find(std::begin(names), std::end(names), name) - std::begin(names));
}

int runEnvelope(const EvaluateOptions& options) {
    Testing::EnvelopeSettings settings = options.envelopeSettings;
    if (options.framesGiven) settings.frames = options.settings.frames;
    settings.seed = options.settings.seed;
    settings.library = options.settings.library;
    Testing::EnvelopeAxes axes = options.axes;
    axes.distances.clear();
    for (const std::string& band : options.distances) axes.distances.push_back(distanceBand(band));
    axes.geometries.clear();
    const char* geometryNames[] = {"LongCeiling", "LongFloor", "ShortFloor"};
    for (const std::string& name : options.geometries) axes.geometries.push_back(indexOf(name, geometryNames));
    axes.densities.clear();
    for (const std::string& name : options.layouts) axes.densities.push_back(name == "dense");
    axes.profiles.clear();
    for (const std::string& name : options.rays)
        axes.profiles.push_back(static_cast<Testing::RayProfile>(indexOf(name, Testing::rayProfileNames)));

    const auto cells = Testing::envelopeCells(axes);
    std::vector<Testing::EnvelopeResult> results;
    {
        Progress progress("evaluate", cells.size(), progressMode(options.progress));
        results = Testing::evaluateEnvelope(cells, settings, [&] { progress.advance(); });
    }
    if (!options.jsonFile.empty()) {
        std::ofstream out(options.jsonFile);
        out << Tools::envelopeJson(results, settings).dump(1) << '\n';
        if (!out) throw std::runtime_error("cannot write " + options.jsonFile);
    }
    if (options.json) {
        fmt::print("{}\n", Tools::envelopeJson(results, settings).dump(2));
        return 0;
    }
    const std::string table = envelopeMarkdown(results, settings);
    if (!options.readme.empty()) {
        replaceInReadme(options.readme, table);
        return 0;
    }
    fmt::print("{}", table);
    return 0;
}

double percent(std::size_t part, std::size_t whole) {
    return whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

nlohmann::json losses(const Testing::AccuracyRow& row) {
    nlohmann::json out = nlohmann::json::object();
    for (std::size_t i = 0; i < std::size(Testing::lossNames); ++i) out[Testing::lossNames[i]] = row.losses[i];
    return out;
}

nlohmann::json rowJson(const Testing::AccuracyRow& row) {
    using Testing::quantile;
    return {{"geometry", row.geometry},
            {"noiseDegrees", row.noise / radiansPerDegree},
            {"frames", row.frames},
            {"correct", row.correct},
            {"wrongFrames", row.wrongFrames},
            {"wrongRays", row.wrongRays},
            {"plainCorrect", row.plainCorrect},
            {"plainWrongRays", row.plainWrongRays},
            {"errorP50", quantile(row.errors, 0.5)},
            {"errorP95", quantile(row.errors, 0.95)},
            {"oracleP50", quantile(row.oracleErrors, 0.5)},
            {"oracleP95", quantile(row.oracleErrors, 0.95)},
            {"rightMissMax", row.rightMisses.empty() ? 0.0 : row.rightMisses.back()},
            {"rightMissP999", quantile(row.rightMisses, 0.999)},
            {"wrongMissMin", row.wrongMisses.empty() ? 0.0 : row.wrongMisses.front()},
            {"wrongMissCount", row.wrongMisses.size()},
            {"rightMissUnbounded", row.rightUnbounded},
            {"wrongMissUnbounded", row.wrongUnbounded},
            {"losses", losses(row)}};
}

int runEvaluate(const EvaluateOptions& options) {
    if (options.envelope) return runEnvelope(options);
    if (options.tracker) {
        TrackerEvaluationOptions tracker = options.trackerOptions;
        tracker.seed = options.settings.seed;
        tracker.json = options.json;
        return runTrackerEvaluation(tracker);
    }
    Testing::AccuracySettings settings = options.settings;
    settings.maxTilt = options.maxTiltDegrees * radiansPerDegree;
    settings.fieldOfViewHalfAngle = 0.5 * options.fieldOfViewDegrees * radiansPerDegree;
    const auto geometries = Testing::matchGeometries();
    std::vector<Testing::AccuracyRow> rows;
    {
        Progress progress("evaluate", geometries.size() * options.noiseDegrees.size(), progressMode(options.progress));
        for (const auto& geometry : geometries)
            for (const double noise : options.noiseDegrees) {
                rows.push_back(Testing::evaluateAccuracy(geometry, noise * radiansPerDegree, settings));
                progress.advance();
            }
    }
    if (options.json) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& row : rows) out.push_back(rowJson(row));
        fmt::print("{}\n", out.dump(2));
        return 0;
    }
    fmt::print("{} views per row with at least {} complete bars, {} x {} layouts, tilt up to {} deg, field of view {} deg\n"
               "success: matched with every number right; plain: the levelled pose, unrefined and unconfirmed;\n"
               "wrong: rays of a marker numbered with another (frames); errors: position, mm; oracle: least squares\n"
               "from the true markers; miss: largest miss of a numbered ray before confirmation, in marker spacings\n\n",
               settings.frames, settings.minBars, settings.gridSize, settings.gridSize, options.maxTiltDegrees,
               options.fieldOfViewDegrees);
    fmt::print("{:<12} {:>6} {:>8} {:>7} {:>12} {:>11} {:>8} {:>8} {:>8} {:>8} {:>9} {:>9}\n", "geometry",
               "noise", "success", "plain", "wrong", "plain wrong", "p50", "p95", "oracle50", "oracle95",
               "miss ok", "miss bad");
    for (const auto& row : rows) {
        const nlohmann::json j = rowJson(row);
        fmt::print("{:<12} {:>6.2f} {:>7.1f}% {:>6.1f}% {:>12} {:>11} {:>8.3f} {:>8.3f} {:>8.3f} {:>8.3f} {:>9.3f} {:>9}\n",
                   row.geometry, row.noise / radiansPerDegree, percent(row.correct, row.frames),
                   percent(row.plainCorrect, row.frames), fmt::format("{} ({})", row.wrongRays, row.wrongFrames),
                   row.plainWrongRays, 1e3 * j["errorP50"].get<double>(), 1e3 * j["errorP95"].get<double>(),
                   1e3 * j["oracleP50"].get<double>(), 1e3 * j["oracleP95"].get<double>(),
                   j["rightMissMax"].get<double>(),
                   row.wrongMisses.empty() ? std::string("-") : fmt::format("{:.3f}", row.wrongMisses.front()));
    }
    fmt::print("\nviews without success, by where the search ended\n{:<12} {:>6}", "geometry", "noise");
    for (const char* name : Testing::lossNames) fmt::print(" {:>14}", name);
    fmt::print("\n");
    for (const auto& row : rows) {
        fmt::print("{:<12} {:>6.2f}", row.geometry, row.noise / radiansPerDegree);
        for (const std::size_t count : row.losses) fmt::print(" {:>14}", count);
        fmt::print("\n");
    }
    return 0;
}

}  // namespace

void addEvaluateCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<EvaluateOptions>();
    CLI::App* command = tool.add_subcommand(
        "evaluate", "The accuracy table: success, wrong numbers and pose error per geometry and noise");
    command->add_option("-n,--frames", options->settings.frames, "Views per geometry and noise (per cell: 100 by default)")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1000000}))
        ->capture_default_str()
        ->each([options](const std::string&) { options->framesGiven = true; });
    command->add_option("--noise", options->noiseDegrees, "Angular noise per ray, degrees (list)")
        ->delimiter(',')
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 10.0))
        ->capture_default_str();
    command->add_option("--tilt", options->maxTiltDegrees, "Largest random tilt, degrees")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 80.0))
        ->capture_default_str();
    command->add_option("--fov", options->fieldOfViewDegrees, "Full opening angle of the camera, degrees")
        ->check(finiteNumber())
        ->check(CLI::Range(1.0, 179.0))
        ->capture_default_str();
    command->add_option("--seed", options->settings.seed, "Seed of layouts, poses and noise")->capture_default_str();
    command->add_option("--library", options->settings.library, "The shared library to match with")->capture_default_str();
    command->add_option("--progress", options->progress, "Progress bar: auto, always or never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->capture_default_str();
    command->add_flag("--json", options->json, "Write JSON");
    command->add_flag("--envelope", options->envelope,
                      "The envelope instead: match, identify and track per field of view, distance, tilt, geometry, "
                      "layout and ray profile (a Markdown table, or --json)");
    command->add_option("--fovs", options->axes.fieldsOfViewDegrees, "Envelope: full fields of view, degrees (list)")
        ->delimiter(',')
        ->check(finiteNumber())
        ->check(CLI::Range(1.0, 180.0))
        ->capture_default_str();
    command->add_option("--distances", options->distances, "Envelope: tracker distance bands from the markers, MIN-MAX m (list)")
        ->delimiter(',')
        ->capture_default_str();
    command->add_option("--tilts", options->axes.tiltsDegrees, "Envelope: largest tilts, degrees (list)")
        ->delimiter(',')
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 80.0))
        ->capture_default_str();
    command->add_option("--geometries", options->geometries, "Envelope: bar geometries (list)")
        ->delimiter(',')
        ->check(CLI::IsMember({"LongCeiling", "LongFloor", "ShortFloor"}))
        ->capture_default_str();
    command->add_option("--layouts", options->layouts, "Envelope: layout densities (list)")
        ->delimiter(',')
        ->check(CLI::IsMember({"usual", "dense"}))
        ->capture_default_str();
    command->add_option("--rays", options->rays,
                        "Envelope: ray profiles: exact, camera (0.05 deg noise, 5 % dropped, 2 strays), noise0.1 (list)")
        ->delimiter(',')
        ->check(CLI::IsMember({"exact", "camera", "noise0.1"}))
        ->capture_default_str();
    command->add_option("--min-bars", options->envelopeSettings.minBars, "Envelope: complete bars a frame must show")
        ->check(CLI::Range(std::size_t{0}, std::size_t{100}))
        ->capture_default_str();
    command->add_option("--cell-seconds", options->envelopeSettings.cellSeconds,
                        "Envelope: stop scoring a cell's frames after this much processor time (0: no limit)")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 3600.0))
        ->capture_default_str();
    command->add_option("--walk-seconds", options->envelopeSettings.walkSeconds, "Envelope: length of the tracked walk (0: none)")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 600.0))
        ->capture_default_str();
    command->add_option("--threads", options->envelopeSettings.threads, "Envelope: threads (0: every core)")
        ->check(CLI::Range(0u, 256u))
        ->capture_default_str();
    command->add_option("--readme", options->readme,
                        "Envelope: write the table into this file between <!-- envelope begin --> and <!-- envelope end -->");
    command->add_option("--json-file", options->jsonFile, "Envelope: also write the JSON into this file");
    command->add_flag("--tracker", options->tracker, "The inertial tracker's table instead (walks, rigs, gaps, cold starts)");
    command->add_option("--tracker-seconds", options->trackerOptions.seconds, "Seconds of each tracker run")
        ->check(CLI::Range(1.0, 600.0))
        ->capture_default_str();
    command->add_option("--tracker-runs", options->trackerOptions.seeds, "Runs of each tracker scenario")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
    command->add_option("--tracker-scenario", options->trackerOptions.only,
                        "Only these tracker scenarios (e.g. \"walk rig\", \"fast\", \"cold start\")");
    command->add_option("--tracker-geometry", options->trackerOptions.geometries,
                        "Only these geometries (LongCeiling, LongFloor, ShortFloor)");
    selectOnParse(*command, selected, options, runEvaluate);
}

}  // namespace Lumetra::Tools
