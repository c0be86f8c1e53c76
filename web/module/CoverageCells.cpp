#include "web/module/CoverageCells.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace Lumetra::Web {

namespace {

constexpr double radiansPerDegree = std::numbers::pi / 180.0;

void require(bool condition, const char* message) {
    if (!condition) throw std::runtime_error(message);
}

}  // namespace

void CoverageSettings::check() const {
    require(method == "match" || method == "identify", "the method must be match or identify");
    require(fieldOfViewDegrees >= 1 && fieldOfViewDegrees <= 179, "the field of view must be 1 to 179 degrees");
    require(noiseDegrees >= 0 && noiseDegrees <= 10, "the noise must be 0 to 10 degrees");
    require(dropProbability >= 0 && dropProbability <= 1, "the share of dropped markers must be 0 to 1");
    require(spuriousRays <= 1000, "at most 1000 stray rays a frame");
    require(distance > 0 && distance <= 100, "the tracker must be 0 to 100 m from the markers");
    require(yaws >= 1 && yaws <= 360, "1 to 360 headings");
    require(!tiltsDegrees.empty() && tiltsDegrees.size() <= 16, "1 to 16 tilts");
    for (const double tilt : tiltsDegrees) require(tilt >= 0 && tilt <= 80, "tilts must be 0 to 80 degrees");
    require(threshold >= 0 && threshold <= 1, "the threshold must be 0 to 1");
    require(tolerance >= 0 && std::isfinite(tolerance), "the tolerance must be a length of 0 or more");
}

double CoverageSettings::reach() const {
    double tilt = 0;
    for (const double t : tiltsDegrees) tilt = std::max(tilt, t);
    const double widest = (0.5 * fieldOfViewDegrees + tilt) * radiansPerDegree;
    return widest < 0.5 * std::numbers::pi ? distance * std::tan(widest) : std::numeric_limits<double>::infinity();
}

CoverageCells::CoverageCells(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description,
                             Testing::IEnvironment& environment, Testing::ITrackingEnvironment& tracking,
                             const std::vector<Testing::Point3>& markers, const CoverageSettings& settings)
    : environment_(environment),
      tracking_(tracking),
      markers_(markers),
      settings_(settings),
      columns_(description.size.x),
      rows_(description.size.y),
      step_(description.cellSize),
      trackerHeight_(static_cast<double>(description.height) + (description.ceiling ? -1 : 1) * settings.distance),
      tolerance_(settings.tolerance > 0 ? settings.tolerance : 0.25 * static_cast<double>(description.cellSize)) {
    settings.check();
    frameOptions_.ceiling = description.ceiling;
    frameOptions_.fieldOfViewHalfAngle = 0.5 * settings.fieldOfViewDegrees * radiansPerDegree;
    frameOptions_.angularNoise = settings.noiseDegrees * radiansPerDegree;
    frameOptions_.dropProbability = settings.dropProbability;
    frameOptions_.spuriousRays = settings.spuriousRays;
}

double CoverageCells::x(std::size_t index) const {
    return (static_cast<double>(index % columns_) - 0.5 * static_cast<double>(columns_ - 1)) * step_;
}

double CoverageCells::z(std::size_t index) const {
    return (static_cast<double>(index / columns_) - 0.5 * static_cast<double>(rows_ - 1)) * step_;
}

bool CoverageCells::correct(const Testing::TrackerPose& pose, const Testing::Frame& frame) const {
    const Testing::PoseOutcome outcome = [&] {
        if (settings_.method == "identify") return Testing::identify(tracking_, frame.rays);
        Testing::MatchOutcome matched = Testing::match(environment_, frame.rays);
        return Testing::PoseOutcome{matched.matched, std::move(matched.markerIndices), matched.pose, {}};
    }();
    if (!outcome.found) return false;
    for (std::size_t i = 0; i < outcome.markerIndices.size() && i < frame.markerNumbers.size(); ++i) {
        const Testing::MarkerIndex found = outcome.markerIndices[i];
        if (found < Vesk::Environment::MarkerNotFound && found != frame.markerNumbers[i]) return false;
    }
    const Testing::Point3d position = LumetraMath::vectorCast<double>(outcome.pose.position);
    return LumetraMath::length(position - pose.position) <= tolerance_;
}

double CoverageCells::share(std::size_t index) const {
    const std::size_t framesPerPosition = static_cast<std::size_t>(settings_.yaws) * settings_.tiltsDegrees.size();
    Testing::FrameOptions frame = frameOptions_;
    std::uint64_t frameNumber = index * framesPerPosition;
    std::size_t correctFrames = 0;
    for (int k = 0; k < settings_.yaws; ++k) {
        for (const double tilt : settings_.tiltsDegrees) {
            Testing::TrackerPose pose;
            pose.position = {x(index), trackerHeight_, z(index)};
            pose.yaw = 2.0 * std::numbers::pi * k / settings_.yaws;
            pose.tiltAxis = {std::cos(pose.yaw), 0, -std::sin(pose.yaw)};
            pose.tilt = tilt * radiansPerDegree;
            frame.seed = settings_.seed + frameNumber++;
            if (correct(pose, Testing::generateFrame(markers_, pose, frame))) ++correctFrames;
        }
    }
    return static_cast<double>(correctFrames) / static_cast<double>(framesPerPosition);
}

}  // namespace Lumetra::Web
