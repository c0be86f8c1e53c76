#include "tools/horizontal-grid/Coverage.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <numeric>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

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
    CLI::Option* distance =
        command.add_option("--distance", options.distance, "Distance of the tracker from the marker plane, metres")
            ->check(finiteNumber())
            ->check(positiveNumber())
            ->capture_default_str();
    command.add_option("--height", options.height, "Height of the tracker (world y, metres) instead of --distance")
        ->check(finiteNumber())
        ->excludes(distance);
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

double CoverageOptions::trackerHeight(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& d) const {
    if (height) return *height;
    return static_cast<double>(d.height) + (d.ceiling ? -distance : distance);
}

std::size_t CoverageMap::coveredPositions() const {
    return static_cast<std::size_t>(
        std::count_if(shares.begin(), shares.end(), [&](double share) { return share >= threshold; }));
}

double CoverageMap::coveredFraction() const {
    return shares.empty() ? 0.0 : static_cast<double>(coveredPositions()) / static_cast<double>(shares.size());
}

double CoverageMap::meanShare() const {
    return shares.empty() ? 0.0 : std::accumulate(shares.begin(), shares.end(), 0.0) / static_cast<double>(shares.size());
}

namespace {

constexpr std::size_t maximumPositions = 250000;

/// Positions spaced by `step`, centred on 0, filling `extent`: with the cell size as the step, the
/// cell centres.
std::vector<double> lattice(double extent, double step) {
    const double rounded = std::max(1.0, std::round(extent / step));
    if (!(rounded <= static_cast<double>(maximumPositions)))
        throw std::runtime_error(fmt::format("a step of {} gives too many tracker positions; use a larger --step", step));
    const auto count = static_cast<std::size_t>(rounded);
    std::vector<double> positions(count);
    for (std::size_t i = 0; i < count; ++i)
        positions[i] = (static_cast<double>(i) - 0.5 * static_cast<double>(count - 1)) * step;
    return positions;
}

std::size_t nearestIndex(const std::vector<double>& positions, double value) {
    const auto nearest = std::min_element(positions.begin(), positions.end(), [&](double a, double b) {
        return std::abs(a - value) < std::abs(b - value);
    });
    return static_cast<std::size_t>(nearest - positions.begin());
}

}  // namespace

std::size_t CoverageMap::nearestColumn(double x) const { return nearestIndex(xs, x); }
std::size_t CoverageMap::nearestRow(double z) const { return nearestIndex(zs, z); }

CoverageMap computeCoverage(const LibraryMatcher& matcher,
                            const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description,
                            const CoverageOptions& options, const CameraProfile& camera) {
    const double height = options.trackerHeight(description);
    requireTrackerSide(description, height);
    CoverageMap map;
    map.step = options.step > 0 ? options.step : static_cast<double>(description.cellSize);
    map.xs = lattice(static_cast<double>(description.size.x) * description.cellSize, map.step);
    map.zs = lattice(static_cast<double>(description.size.y) * description.cellSize, map.step);
    if (map.xs.size() * map.zs.size() > maximumPositions)
        throw std::runtime_error(fmt::format("{} x {} tracker positions are too many; use a larger --step",
                                             map.xs.size(), map.zs.size()));
    map.threshold = options.threshold;
    map.framesPerPosition = static_cast<std::size_t>(options.yaws) * options.tiltsDegrees.size();

    TrackerOptions tracker = options.tracker;
    tracker.noiseDegrees = camera.noiseDegrees;
    tracker.dropProbability = camera.dropProbability;
    tracker.spuriousRays = camera.spuriousRays;
    const Testing::FrameOptions frameOptions = tracker.frameOptions(description.ceiling);
    const double tolerance = options.tracker.positionTolerance(description.cellSize);
    const std::size_t positions = map.xs.size() * map.zs.size();
    map.shares.assign(positions, 0.0);

    // Every position has its own frame seeds, so the map is the same for any number of threads.
    const auto sharesAt = [&](std::size_t index) {
        const double x = map.xs[index % map.xs.size()], z = map.zs[index / map.xs.size()];
        Testing::FrameOptions frame = frameOptions;
        std::uint64_t frameNumber = index * map.framesPerPosition;
        std::size_t correct = 0;
        for (int k = 0; k < options.yaws; ++k) {
            for (const double tilt : options.tiltsDegrees) {
                Testing::TrackerPose pose;
                pose.position = {x, height, z};
                pose.yaw = 2.0 * std::numbers::pi * k / options.yaws;
                // Tipped about a horizontal axis that turns with the heading.
                pose.tiltAxis = {std::cos(pose.yaw), 0, -std::sin(pose.yaw)};
                pose.tilt = tilt * radiansPerDegree;
                frame.seed = options.tracker.seed + frameNumber++;
                if (matcher.match(pose, matcher.frame(pose, frame)).correct(tolerance)) ++correct;
            }
        }
        return map.framesPerPosition == 0 ? 0.0
                                          : static_cast<double>(correct) / static_cast<double>(map.framesPerPosition);
    };

    Progress progress("coverage, " + camera.name, positions, options.tracker.progressMode());
    std::mutex progressMutex;
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    const auto work = [&] {
        try {
            for (std::size_t index = next++; index < positions; index = next++) {
                map.shares[index] = sharesAt(index);
                const std::lock_guard lock(progressMutex);
                progress.advance();
            }
        } catch (...) {
            const std::lock_guard lock(progressMutex);
            if (!failure) failure = std::current_exception();
            next = positions;
        }
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads = std::min<std::size_t>(options.threads > 0 ? options.threads : cores, positions);
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
    if (failure) std::rethrow_exception(failure);
    return map;
}

}  // namespace Lumetra::Tools
