#include "tools/horizontal-grid/TrackerOptions.h"

#include <cmath>
#include <stdexcept>

#include <fmt/core.h>

namespace Lumetra::Tools {

Testing::FrameOptions TrackerOptions::frameOptions(bool ceiling) const {
    Testing::FrameOptions frame;
    frame.ceiling = ceiling;
    frame.fieldOfViewHalfAngle = 0.5 * fieldOfViewDegrees * radiansPerDegree;
    frame.angularNoise = noiseDegrees * radiansPerDegree;
    frame.dropProbability = dropProbability;
    frame.spuriousRays = spuriousRays;
    frame.seed = seed;
    return frame;
}

ProgressMode TrackerOptions::progressMode() const {
    return progress == "always" ? ProgressMode::always : progress == "never" ? ProgressMode::never : ProgressMode::automatic;
}

double TrackerOptions::positionTolerance(float cellSize) const {
    return tolerance > 0 ? tolerance : 0.25 * static_cast<double>(cellSize);
}

const CLI::Validator& finiteNumber() {
    static const CLI::Validator validator(
        [](const std::string& text) {
            double value = 0;
            return CLI::detail::lexical_cast(text, value) && std::isfinite(value) ? std::string()
                                                                                  : "Value " + text + " is not a finite number";
        },
        "FINITE");
    return validator;
}

void addTrackerOptions(CLI::App& command, TrackerOptions& options) {
    command.add_option("--library", options.library, "The shared library to match with (default: the installed one beside the tool, else the built one)")->capture_default_str();
    command.add_option("--fov", options.fieldOfViewDegrees, "Full opening angle of the camera, degrees")
        ->check(finiteNumber())
        ->check(CLI::Range(1.0, 179.0))
        ->capture_default_str();
    command.add_option("--noise", options.noiseDegrees, "Standard deviation of each ray's direction error, degrees")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 10.0))
        ->capture_default_str();
    command.add_option("--drop", options.dropProbability, "Chance that a visible marker gives no ray")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();
    command.add_option("--spurious", options.spuriousRays, "Rays in random directions added to every frame")
        ->check(notNegative())
        ->check(CLI::Range(0, 1000))
        ->capture_default_str();
    command.add_option("--seed", options.seed, "Seed of the random poses, noise, drops and spurious rays")
        ->check(notNegative())
        ->capture_default_str();
    command.add_option("--tolerance", options.tolerance,
                       "Largest position error of a correct match, metres (default: a quarter of a cell)")
        ->check(finiteNumber())
        ->check(nonNegativeNumber());
    command.add_option("--progress", options.progress, "Progress bar on standard error: auto (on a terminal), always, never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->capture_default_str();
}

void requireTrackerSide(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& d, double height) {
    const auto plane = static_cast<double>(d.height);
    if (d.ceiling && !(height < plane))
        throw std::runtime_error(fmt::format("a tracker at height {} is not below the ceiling markers at {}", height, plane));
    if (!d.ceiling && !(height > plane))
        throw std::runtime_error(fmt::format("a tracker at height {} is not above the floor markers at {}", height, plane));
}

}  // namespace Lumetra::Tools
