#include "tools/horizontal-grid/Coverage.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <stdexcept>

#include <fmt/core.h>

#include "tools/horizontal-grid/Progress.h"

namespace Lumetra::Tools {

void addCoverageOptions(CLI::App& command, CoverageOptions& options) {
    addTrackerOptions(command, options.tracker);
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
                            const CoverageOptions& options) {
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

    Testing::FrameOptions frameOptions = options.tracker.frameOptions(description.ceiling);
    const double tolerance = options.tracker.positionTolerance(description.cellSize);
    Progress progress("coverage", map.xs.size() * map.zs.size(), options.tracker.progressMode());
    std::uint64_t frameNumber = 0;
    for (const double z : map.zs) {
        for (const double x : map.xs) {
            std::size_t correct = 0;
            for (int k = 0; k < options.yaws; ++k) {
                for (const double tilt : options.tiltsDegrees) {
                    Testing::TrackerPose pose;
                    pose.position = {x, height, z};
                    pose.yaw = 2.0 * std::numbers::pi * k / options.yaws;
                    // Tipped about a horizontal axis that turns with the heading.
                    pose.tiltAxis = {std::cos(pose.yaw), 0, -std::sin(pose.yaw)};
                    pose.tilt = tilt * radiansPerDegree;
                    frameOptions.seed = options.tracker.seed + frameNumber++;
                    if (matcher.match(pose, matcher.frame(pose, frameOptions)).correct(tolerance)) ++correct;
                }
            }
            map.shares.push_back(map.framesPerPosition == 0
                                     ? 0.0
                                     : static_cast<double>(correct) / static_cast<double>(map.framesPerPosition));
            progress.advance();
        }
    }
    return map;
}

}  // namespace Lumetra::Tools
