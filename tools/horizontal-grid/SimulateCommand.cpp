// simulate: synthetic frames from random or given poses, matched through the library, with the
// figures a host developer asks first: how often, how wrong, how accurate and how fast.

#include <memory>
#include <random>

#include <fmt/core.h>

#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/DescriptionJson.h"
#include "tools/horizontal-grid/LibraryMatcher.h"
#include "tools/horizontal-grid/PoseInput.h"
#include "tools/horizontal-grid/Progress.h"
#include "tools/horizontal-grid/Statistics.h"
#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {
namespace {

struct SimulateOptions {
    InputSource input;
    TrackerOptions tracker;
    std::size_t frames = 500;
    std::vector<double> distances{1.2, 2.0};
    std::vector<double> heights;
    double maxTiltDegrees = 15;
    std::vector<std::string> poses;
    std::string poseFile;
    bool json = false;
};

struct Tally {
    std::size_t frames = 0, correct = 0, wrong = 0, inaccurate = 0, failed = 0, failedWithoutBar = 0;
    std::size_t wrongRays = 0, numberedRays = 0;
    std::vector<double> positionErrors, rotationErrorsDegrees, microseconds;

    void add(const FrameOutcome& outcome, double tolerance) {
        ++frames;
        microseconds.push_back(outcome.seconds * 1e6);
        if (!outcome.matched) {
            ++failed;
            if (outcome.completeBars == 0) ++failedWithoutBar;
            return;
        }
        wrongRays += outcome.wrongRays;
        numberedRays += outcome.numberedRays;
        positionErrors.push_back(outcome.positionError);
        rotationErrorsDegrees.push_back(outcome.rotationError / radiansPerDegree);
        if (outcome.wrong())
            ++wrong;
        else if (outcome.correct(tolerance))
            ++correct;
        else
            ++inaccurate;
    }
};

std::vector<Testing::TrackerPose> givenPoses(const SimulateOptions& options) {
    std::vector<Testing::TrackerPose> poses;
    for (const std::string& pose : options.poses) poses.push_back(parsePose(pose));
    if (!options.poseFile.empty()) {
        const auto fromFile = parsePoseFile(readTextFile(options.poseFile), options.poseFile);
        poses.insert(poses.end(), fromFile.begin(), fromFile.end());
    }
    return poses;
}

/// The range of tracker heights (y), lowest first.
std::pair<double, double> heightRange(const SimulateOptions& options, const EnvironmentDescription& d) {
    const double plane = d.height, side = d.ceiling ? -1.0 : 1.0;
    double low = 0, high = 0;
    if (!options.heights.empty()) {
        low = options.heights.front(), high = options.heights.back();
    } else {
        low = plane + side * options.distances.front(), high = plane + side * options.distances.back();
    }
    requireTrackerSide(d, low);
    requireTrackerSide(d, high);
    return {std::min(low, high), std::max(low, high)};
}

std::vector<Testing::TrackerPose> randomPoses(const SimulateOptions& options, const EnvironmentDescription& d) {
    const auto [low, high] = heightRange(options, d);
    Testing::PoseRange range;
    range.halfWidth = 0.5 * static_cast<double>(d.size.x) * d.cellSize;
    range.halfDepth = 0.5 * static_cast<double>(d.size.y) * d.cellSize;
    const double plane = d.height;
    range.minDistance = std::min(std::abs(low - plane), std::abs(high - plane));
    range.maxDistance = std::max(std::abs(low - plane), std::abs(high - plane));
    range.maxTilt = options.maxTiltDegrees * radiansPerDegree;
    std::mt19937_64 rng(options.tracker.seed);
    std::vector<Testing::TrackerPose> poses;
    for (std::size_t i = 0; i < options.frames; ++i) poses.push_back(Testing::randomTrackerPose(range, plane, d.ceiling, rng));
    return poses;
}

Json summaryJson(const Summary& s) {
    return Json{{"mean", s.mean}, {"p50", s.p50}, {"p90", s.p90}, {"p99", s.p99}, {"max", s.max}};
}

void printSummary(const char* title, const Summary& s, int decimals) {
    if (s.count == 0) {
        fmt::print("{:<26} none\n", title);
        return;
    }
    fmt::print("{:<26} p50 {:.{}f}  p90 {:.{}f}  p99 {:.{}f}  max {:.{}f}  (mean {:.{}f})\n", title, s.p50, decimals,
               s.p90, decimals, s.p99, decimals, s.max, decimals, s.mean, decimals);
}

double percent(std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

void printTally(const Tally& t, double tolerance) {
    fmt::print("matched correctly     {:>7}  {:5.1f}%\n", t.correct, percent(t.correct, t.frames));
    fmt::print("wrong markers         {:>7}  {:5.1f}%  ({} of {} numbered rays wrong)\n", t.wrong,
               percent(t.wrong, t.frames), t.wrongRays, t.numberedRays);
    fmt::print("pose off by > {:<7.3g} {:>7}  {:5.1f}%\n", tolerance, t.inaccurate, percent(t.inaccurate, t.frames));
    fmt::print("not matched           {:>7}  {:5.1f}%  ({} of them showed no complete bar)\n\n", t.failed,
               percent(t.failed, t.frames), t.failedWithoutBar);
    printSummary("position error (matched)", summarize(t.positionErrors), 4);
    printSummary("rotation error, degrees", summarize(t.rotationErrorsDegrees), 3);
    printSummary("time per frame, us", summarize(t.microseconds), 1);
}

int runSimulate(const SimulateOptions& options) {
    const LoadedCode loaded = loadCode(options.input);
    const EnvironmentDescription& d = loaded.description;
    std::vector<Testing::TrackerPose> poses = givenPoses(options);
    const bool given = !poses.empty();
    if (!given) poses = randomPoses(options, d);

    const LibraryMatcher matcher(options.tracker.library, loaded.code);
    const double tolerance = options.tracker.positionTolerance(d.cellSize);
    Testing::FrameOptions frameOptions = options.tracker.frameOptions(d.ceiling);
    Tally tally;
    {
        Progress progress("simulate", poses.size(), options.tracker.progress);
        for (std::size_t i = 0; i < poses.size(); ++i) {
            frameOptions.seed = options.tracker.seed + i;
            tally.add(matcher.match(poses[i], matcher.frame(poses[i], frameOptions)), tolerance);
            progress.advance();
        }
    }

    if (options.json) {
        fmt::print("{}\n", Json{{"frames", tally.frames},
                                {"correct", tally.correct},
                                {"wrong", tally.wrong},
                                {"inaccurate", tally.inaccurate},
                                {"failed", tally.failed},
                                {"failedWithoutCompleteBar", tally.failedWithoutBar},
                                {"wrongRays", tally.wrongRays},
                                {"numberedRays", tally.numberedRays},
                                {"successRate", tally.frames == 0 ? 0.0 : percent(tally.correct, tally.frames) / 100},
                                {"positionError", summaryJson(summarize(tally.positionErrors))},
                                {"rotationErrorDegrees", summaryJson(summarize(tally.rotationErrorsDegrees))},
                                {"microsecondsPerFrame", summaryJson(summarize(tally.microseconds))}}
                               .dump(2));
        return 0;
    }
    if (given)
        fmt::print("{} frames from given poses", tally.frames);
    else
        fmt::print("{} frames from random poses over the grid, tracker height {:g} to {:g}, tilt up to {} deg",
                   tally.frames, heightRange(options, d).first, heightRange(options, d).second, options.maxTiltDegrees);
    fmt::print("; field of view {} deg, noise {} deg, {} dropped, {} spurious rays\n\n", options.tracker.fieldOfViewDegrees,
               options.tracker.noiseDegrees, options.tracker.dropProbability, options.tracker.spuriousRays);
    printTally(tally, tolerance);
    return 0;
}

}  // namespace

void addSimulateCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<SimulateOptions>();
    CLI::App* command = tool.add_subcommand(
        "simulate", "Match synthetic frames through the library: success rate, wrong identifications, errors, time");
    addInputOptions(*command, options->input, "code", "environment code");
    addTrackerOptions(*command, options->tracker);
    command->add_option("-n,--frames", options->frames, "Number of random poses")
        ->check(CLI::Range(std::size_t{1}, std::size_t{10000000}))
        ->capture_default_str();
    CLI::Option* distance =
        command->add_option("--distance", options->distances, "Distance of the tracker from the marker plane, or a range low,high")
            ->delimiter(',')
            ->expected(1, 2)
            ->check(CLI::PositiveNumber)
            ->capture_default_str();
    command->add_option("--height", options->heights, "Tracker height or range (y, environment frame) instead of --distance")
        ->delimiter(',')
        ->expected(1, 2)
        ->excludes(distance);
    command->add_option("--tilt", options->maxTiltDegrees, "Largest random tilt, degrees")
        ->check(CLI::Range(0.0, 80.0))
        ->capture_default_str();
    command->add_option("--pose", options->poses, "A given pose x,y,z,yaw[,tilt[,tiltAxis]] (degrees); repeatable");
    command->add_option("--poses", options->poseFile, "A file of given poses, one per line");
    command->add_flag("--json", options->json, "Write JSON");
    selectOnParse(*command, selected, options, runSimulate);
}

}  // namespace Lumetra::Tools
