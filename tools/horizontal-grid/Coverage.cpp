#include "tools/horizontal-grid/Coverage.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <tuple>

#include <fmt/core.h>

#include "tools/horizontal-grid/Progress.h"

namespace Lumetra::Tools {

namespace {

CameraProfile namedProfile(const std::string& name) {
    if (name == "exact") return {name, 0, 0, 0};
    if (name == "harsh") return {name, 0.1, 0.10, 2};
    return {"typical", 0.05, 0.05, 1};
}

}  // namespace

std::string CameraProfile::describe() const {
    if (exact()) return name + " rays (no noise, drops or stray rays)";
    return fmt::format("{} camera ({:g} deg noise, {:g}% of markers dropped, {} stray ray{} a frame)", name, noiseDegrees,
                       100 * dropProbability, spuriousRays, spuriousRays == 1 ? "" : "s");
}

CameraProfile CoverageOptions::camera() const {
    CameraProfile camera = namedProfile(profile);
    const bool given[3] = {noiseOption != nullptr && noiseOption->count() > 0,
                           dropOption != nullptr && dropOption->count() > 0,
                           spuriousOption != nullptr && spuriousOption->count() > 0};
    if (given[0]) camera.noiseDegrees = tracker.noiseDegrees;
    if (given[1]) camera.dropProbability = tracker.dropProbability;
    if (given[2]) camera.spuriousRays = tracker.spuriousRays;
    if (given[0] || given[1] || given[2]) camera.name = "given";
    return camera;
}

void addCoverageOptions(CLI::App& command, CoverageOptions& options) {
    addTrackerOptions(command, options.tracker);
    // These figures come from --profile unless given: their defaults are the profile's.
    for (const char* name : {"--noise", "--drop", "--spurious"}) {
        CLI::Option* figure = command.get_option(name);
        figure->default_str("")->description(figure->get_description() + " (default: the --profile's)");
    }
    options.noiseOption = command.get_option("--noise");
    options.dropOption = command.get_option("--drop");
    options.spuriousOption = command.get_option("--spurious");
    command.add_option("--profile", options.profile,
                       "What the camera gets wrong: exact (perfect rays), typical (0.05 deg noise, 5% of markers "
                       "dropped, 1 stray ray a frame) or harsh (0.1 deg, 10%, 2); --noise, --drop and --spurious "
                       "replace single figures")
        ->check(CLI::IsMember({"exact", "typical", "harsh"}))
        ->capture_default_str();
    command.add_option("--threads", options.threads, "Threads matching frames (default: one per core)")
        ->check(notNegative())
        ->check(CLI::Range(0u, 1024u));
    command.add_option("--method", options.method,
                       "How the tracker finds itself: identify (each frame afresh), track (walks through every "
                       "position at --rate, each frame predicted from the last two) or match")
        ->check(CLI::IsMember({"identify", "track", "match"}))
        ->capture_default_str();
    CLI::Option* distance = command.add_option("--distance", options.distances,
                                               "Distance of the tracker from the marker plane, metres: one, or a "
                                               "range MIN,MAX")
                                ->delimiter(',')
                                ->expected(1, 2)
                                ->check(finiteNumber())
                                ->check(positiveNumber())
                                ->capture_default_str();
    command.add_option("--height", options.heights,
                       "Height of the tracker (world y, metres), one or a range MIN,MAX, instead of --distance")
        ->delimiter(',')
        ->expected(1, 2)
        ->check(finiteNumber())
        ->excludes(distance);
    command.add_option("--levels", options.levels, "Distances tried across a range, evenly spread")
        ->check(CLI::Range(1, 50))
        ->capture_default_str();
    command.add_option("--rate", options.rate, "Frames a second of the walks of --method track")
        ->check(finiteNumber())
        ->check(CLI::Range(1.0, 1000.0))
        ->capture_default_str();
    command.add_option("--step", options.step, "Spacing of the tracker positions, metres (default: one per cell)")
        ->check(finiteNumber())
        ->check(nonNegativeNumber());
    command.add_option("--yaws", options.yaws, "Headings tried at every position, evenly spread")
        ->check(CLI::Range(1, 360))
        ->capture_default_str();
    command.add_option("--tilts", options.tiltsDegrees, "Tilts tried with every heading, degrees")
        ->check(finiteNumber())
        ->delimiter(',')
        ->check(CLI::Range(0.0, 80.0))
        ->capture_default_str();
    command.add_option("--threshold", options.threshold, "Share of correct frames from which a position is covered")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();
}

std::pair<double, double> CoverageOptions::distanceRange(
    const Vesk::Environment::HorizontalGrid::EnvironmentDescription& d) const {
    std::vector<double> given = givenDistances(d);
    std::sort(given.begin(), given.end());
    return {given.front(), given.back()};
}

std::vector<double> CoverageOptions::givenDistances(
    const Vesk::Environment::HorizontalGrid::EnvironmentDescription& d) const {
    if (heights.empty()) return distances;
    std::vector<double> result;
    for (const double height : heights) {
        requireTrackerSide(d, height);
        result.push_back(std::abs(height - static_cast<double>(d.height)));
    }
    return result;
}

Testing::CoverageSettings CoverageOptions::settings(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& d,
                                                    const CameraProfile& camera) const {
    Testing::CoverageSettings settings;
    settings.method = *Testing::parseMethod(method);
    settings.camera = {camera.name, tracker.fieldOfViewDegrees, camera.noiseDegrees, camera.dropProbability,
                       camera.spuriousRays, rate};
    std::tie(settings.minDistance, settings.maxDistance) = distanceRange(d);
    settings.distances = settings.minDistance == settings.maxDistance ? 1 : levels;
    settings.yaws = yaws;
    settings.tiltsDegrees = tiltsDegrees;
    settings.step = step;
    settings.threshold = threshold;
    settings.tolerance = tracker.positionTolerance(d.cellSize);
    settings.seed = tracker.seed;
    settings.threads = threads;
    return settings;
}

std::size_t nearestIndex(const std::vector<double>& positions, double value) {
    const auto nearest = std::min_element(positions.begin(), positions.end(), [&](double a, double b) {
        return std::abs(a - value) < std::abs(b - value);
    });
    return static_cast<std::size_t>(nearest - positions.begin());
}

CoverageMap computeCoverage(const LibraryMatcher& matcher,
                            const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description,
                            const CoverageOptions& options, const CameraProfile& camera) {
    const Testing::CoverageSettings settings = options.settings(description, camera);
    const double step = settings.step > 0 ? settings.step : static_cast<double>(description.cellSize);
    const auto count = [&](unsigned long cells) {
        return std::max(1.0, std::round(static_cast<double>(cells) * description.cellSize / step));
    };
    const double positions = count(description.size.x) * count(description.size.y);
    if (!(positions <= 250000.0))
        throw std::runtime_error(fmt::format("a step of {} gives too many tracker positions; use a larger --step", step));
    Progress progress(options.method + ", " + camera.name, static_cast<std::size_t>(positions),
                      options.tracker.progressMode());
    try {
        return Testing::estimateCoverage(description, matcher, settings, [&](std::size_t, std::size_t) {
            progress.advance();
        });
    } catch (const std::invalid_argument& refused) {
        throw std::runtime_error(std::string(refused.what()) + "; use a larger --step");
    }
}

}  // namespace Lumetra::Tools
