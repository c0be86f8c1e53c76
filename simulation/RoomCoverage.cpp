#include "simulation/RoomCoverage.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <numeric>
#include <set>
#include <stdexcept>
#include <tuple>

#include "environment/Environment.h"
#include "simulation/MatchScenarios.h"
#include "simulation/ParallelFor.h"
#include "simulation/PosePrediction.h"

namespace Lumetra::Testing {

using Vesk::Environment::HorizontalGrid::Environment;
using Vesk::Environment::HorizontalGrid::EnvironmentDescription;

namespace {

constexpr double radiansPerDegree = std::numbers::pi / 180.0;
constexpr std::size_t maximumPositions = 250000;

/// Positions spaced by `step`, centred on 0, filling `extent`: with the cell size as the step, the
/// cell centres.
std::vector<double> lattice(double extent, double step) {
    const double rounded = std::max(1.0, std::round(extent / step));
    if (!(rounded <= static_cast<double>(maximumPositions)))
        throw std::invalid_argument("the lattice step gives too many tracker positions");
    const auto count = static_cast<std::size_t>(rounded);
    std::vector<double> positions(count);
    for (std::size_t i = 0; i < count; ++i)
        positions[i] = (static_cast<double>(i) - 0.5 * static_cast<double>(count - 1)) * step;
    return positions;
}

RoomCoverage emptyMap(const EnvironmentDescription& layout, const CoverageSettings& settings) {
    if (settings.framesPerPosition() == 0) throw std::invalid_argument("the coverage settings give no frames");
    if (!(settings.minDistance > 0) || !(settings.maxDistance >= settings.minDistance))
        throw std::invalid_argument("the tracker's distance range must be positive and ascending");
    RoomCoverage map;
    map.step = settings.step > 0 ? settings.step : static_cast<double>(layout.cellSize);
    map.xs = lattice(static_cast<double>(layout.size.x) * layout.cellSize, map.step);
    map.zs = lattice(static_cast<double>(layout.size.y) * layout.cellSize, map.step);
    if (map.xs.size() * map.zs.size() > maximumPositions)
        throw std::invalid_argument("the lattice step gives too many tracker positions");
    map.threshold = settings.threshold;
    map.framesPerPosition = settings.framesPerPosition();
    map.shares.assign(map.xs.size() * map.zs.size(), 0.0);
    map.identifiable.assign(map.shares.size(), 0.0);
    return map;
}

/// The pose of sample `k` at position (x, z): distances vary slowest, tilts fastest.
TrackerPose samplePose(const CoverageSettings& settings, const EnvironmentDescription& layout, double x, double z,
                       std::size_t k) {
    const std::size_t tilts = settings.tiltsDegrees.size(), yaws = static_cast<std::size_t>(settings.yaws);
    const std::size_t tilt = k % tilts, yaw = (k / tilts) % yaws, level = k / (tilts * yaws);
    const double distance = settings.distances <= 1 ? 0.5 * (settings.minDistance + settings.maxDistance)
                                                    : settings.minDistance + (settings.maxDistance - settings.minDistance) *
                                                                                 static_cast<double>(level) /
                                                                                 (settings.distances - 1);
    TrackerPose pose;
    pose.position = {x, static_cast<double>(layout.height) + (layout.ceiling ? -distance : distance), z};
    pose.yaw = 2.0 * std::numbers::pi * static_cast<double>(yaw) / static_cast<double>(yaws);
    // Tipped about a horizontal axis that turns with the heading.
    pose.tiltAxis = {std::cos(pose.yaw), 0, -std::sin(pose.yaw)};
    pose.tilt = settings.tiltsDegrees[tilt] * radiansPerDegree;
    return pose;
}

FrameOptions frameOptions(const CoverageCamera& camera, bool ceiling) {
    return FrameOptions{.ceiling = ceiling,
                        .fieldOfViewHalfAngle = 0.5 * camera.fieldOfViewDegrees * radiansPerDegree,
                        .angularNoise = camera.noiseDegrees * radiansPerDegree,
                        .dropProbability = camera.dropProbability,
                        .spuriousRays = camera.spuriousRays,
                        .seed = 1};
}

bool correct(const Located& located, const Frame& frame, const TrackerPose& truth, double tolerance) {
    if (!located.found) return false;
    for (std::size_t i = 0; i < located.numbers.size() && i < frame.markerNumbers.size(); ++i)
        if (located.numbers[i] < Vesk::Environment::MarkerNotFound && located.numbers[i] != frame.markerNumbers[i])
            return false;
    const Point3d position = LumetraMath::vectorCast<double>(located.pose.position);
    return LumetraMath::length(position - truth.position) <= tolerance;
}

/// The catalogued features as sets of bars, each once, and which markers a pose sees.
class FeatureView {
public:
    FeatureView(const Environment& environment, const FrameOptions& options)
        : markers_(environment.getMarkers()), options_(options) {
        std::set<std::vector<unsigned long>> features;
        for (const auto& entry : environment.getCombinations()) {
            std::vector<unsigned long> bars(entry.second.begin(), entry.second.end());
            std::sort(bars.begin(), bars.end());
            features.insert(std::move(bars));
        }
        features_.assign(features.begin(), features.end());
    }

    /// Whether the markers of at least `needed` features all lie inside the field of view from `pose`.
    bool featuresInView(const TrackerPose& pose, std::size_t needed) const {
        const auto trackerFromWorld = LumetraMath::conjugate(pose.rotation());
        const Point3d axis{0, options_.ceiling ? 1.0 : -1.0, 0};
        const double minCosine = std::cos(options_.fieldOfViewHalfAngle);
        std::vector<signed char> barSeen(markers_.size() / 3, -1);
        const auto seen = [&](unsigned long bar) {
            if (barSeen[bar] < 0) {
                barSeen[bar] = 1;
                for (std::size_t k = 0; k < 3 && barSeen[bar] == 1; ++k) {
                    const Point3d world = LumetraMath::vectorCast<double>(markers_[3 * bar + k]) - pose.position;
                    const Point3d local = LumetraMath::mul(trackerFromWorld, world / LumetraMath::length(world));
                    if (LumetraMath::dot(local, axis) < minCosine) barSeen[bar] = 0;
                }
            }
            return barSeen[bar] == 1;
        };
        std::size_t found = 0;
        for (const std::vector<unsigned long>& bars : features_)
            if (std::all_of(bars.begin(), bars.end(), seen) && ++found >= needed) return true;
        return false;
    }

private:
    std::vector<Point3> markers_;
    FrameOptions options_;
    std::vector<std::vector<unsigned long>> features_;
};

/// Share of the frames of walks through the position that `locator` places correctly: each walk
/// crosses the position's cell along one sample's heading at one sample's distance and tilt,
/// starting `walkLeadIn` before it with identify, then tracking at the camera's rate.
double walkShare(const Locator& locator, const std::vector<Point3>& markers, const EnvironmentDescription& layout,
                 const CoverageSettings& settings, const RoomCoverage& map, std::size_t index, double tolerance) {
    const double x = map.xs[index % map.xs.size()], z = map.zs[index / map.xs.size()];
    FrameOptions options = frameOptions(settings.camera, layout.ceiling);
    const double stride = settings.walkSpeed / settings.camera.rate, half = 0.5 * map.step;
    std::size_t frames = 0, located = 0;
    for (std::size_t k = 0; k < map.framesPerPosition; ++k) {
        TrackerPose pose = samplePose(settings, layout, x, z, k);
        const Point3d direction{std::cos(pose.yaw), 0, -std::sin(pose.yaw)};
        const Point3d centre = pose.position;
        ConstantVelocityPredictor predictor;
        const double travel = settings.walkLeadIn + map.step;
        for (std::size_t f = 0; static_cast<double>(f) * stride <= travel; ++f) {
            pose.position = centre + direction * (static_cast<double>(f) * stride - settings.walkLeadIn - half);
            options.seed = settings.seed + (index * map.framesPerPosition + k) * 4096 + f;
            const Frame frame = generateFrame(markers, pose, options);
            const auto predicted = predictor.predict();
            const Located outcome = locator.locate(predicted ? LocateMethod::track : LocateMethod::identify,
                                                   frame.rays, predicted ? &*predicted : nullptr);
            predictor.update(outcome.found, outcome.pose);
            if (std::abs(pose.position.x - x) > half || std::abs(pose.position.z - z) > half) continue;
            ++frames;
            located += correct(outcome, frame, pose, tolerance) ? 1 : 0;
        }
    }
    return frames == 0 ? 0.0 : static_cast<double>(located) / static_cast<double>(frames);
}

double fractionAtLeast(const std::vector<double>& shares, double threshold) {
    if (shares.empty()) return 0.0;
    const auto count = std::count_if(shares.begin(), shares.end(), [&](double share) { return share >= threshold; });
    return static_cast<double>(count) / static_cast<double>(shares.size());
}

}  // namespace

std::string methodName(LocateMethod method) {
    switch (method) {
        case LocateMethod::match: return "match";
        case LocateMethod::track: return "track";
        case LocateMethod::identify: break;
    }
    return "identify";
}

std::optional<LocateMethod> parseMethod(const std::string& name) {
    for (const LocateMethod method : {LocateMethod::match, LocateMethod::identify, LocateMethod::track})
        if (methodName(method) == name) return method;
    return std::nullopt;
}

std::optional<CoverageCamera> namedCamera(const std::string& name) {
    if (name == "exact") return CoverageCamera{name, 115, 0, 0, 0, 60};
    if (name == "typical") return CoverageCamera{};
    if (name == "harsh") return CoverageCamera{name, 115, 0.1, 0.10, 2, 60};
    return std::nullopt;
}

std::size_t CoverageSettings::framesPerPosition() const {
    if (yaws <= 0 || distances <= 0) return 0;
    return static_cast<std::size_t>(yaws) * static_cast<std::size_t>(distances) * tiltsDegrees.size();
}

std::string CoverageSettings::describe() const {
    char range[64];
    if (minDistance == maxDistance)
        std::snprintf(range, sizeof range, "%g m", minDistance);
    else
        std::snprintf(range, sizeof range, "%g-%g m", minDistance, maxDistance);
    char text[256];
    std::snprintf(text, sizeof text, "%s, %s camera, %g deg field of view, tracker %s from the markers",
                  methodName(method).c_str(), camera.name.c_str(), camera.fieldOfViewDegrees, range);
    return text;
}

std::size_t RoomCoverage::coveredPositions() const {
    return static_cast<std::size_t>(
        std::count_if(shares.begin(), shares.end(), [&](double share) { return share >= threshold; }));
}

double RoomCoverage::coveredFraction() const { return fractionAtLeast(shares, threshold); }

double RoomCoverage::identifiableFraction() const { return fractionAtLeast(identifiable, threshold); }

double RoomCoverage::meanShare() const {
    return shares.empty() ? 0.0 : std::accumulate(shares.begin(), shares.end(), 0.0) / static_cast<double>(shares.size());
}

CoreLocator::CoreLocator(const EnvironmentDescription& description) : environment_(makeEnvironment(description)) {}

CoreLocator::~CoreLocator() = default;

Located CoreLocator::locate(LocateMethod method, const std::vector<Point3>& rays,
                            const LumetraMath::poseP3Q<float>* predicted) const {
    Located located;
    if (method == LocateMethod::match) {
        located.found = environment_->match(rays, located.numbers, located.pose);
        return located;
    }
    const auto outcome = method == LocateMethod::track && predicted != nullptr ? environment_->track(rays, *predicted)
                                                                              : environment_->identify(rays);
    located.found = outcome.found;
    located.numbers = outcome.estimate.markerIndices;
    located.pose = outcome.estimate.pose;
    return located;
}

/// What every position's frames are made from: the layout's markers, the camera and the features.
class CoverageEstimator::Samples {
public:
    Samples(const Environment& environment, const FrameOptions& frameOptions)
        : markers(environment.getMarkers()), options(frameOptions), view(environment, frameOptions) {}

    std::vector<Point3> markers;
    FrameOptions options;
    FeatureView view;
};

CoverageEstimator::CoverageEstimator(const EnvironmentDescription& layout, const Locator& locator,
                                     const CoverageSettings& settings)
    : layout_(layout),
      locator_(locator),
      settings_(settings),
      lattice_(emptyMap(layout, settings)),
      samples_(std::make_unique<const Samples>(*makeEnvironment(layout), frameOptions(settings.camera, layout.ceiling))) {}

CoverageEstimator::~CoverageEstimator() = default;

std::pair<double, double> CoverageEstimator::shares(std::size_t index) const {
    const RoomCoverage& map = lattice_;
    const double tolerance = settings_.tolerance > 0 ? settings_.tolerance : 0.25 * layout_.cellSize;
    const double x = map.xs[index % map.xs.size()], z = map.zs[index / map.xs.size()];
    std::size_t located = 0, identifiable = 0;
    for (std::size_t k = 0; k < map.framesPerPosition; ++k) {
        const TrackerPose pose = samplePose(settings_, layout_, x, z, k);
        identifiable += samples_->view.featuresInView(pose, 1) ? 1 : 0;
        if (settings_.method == LocateMethod::track) continue;
        FrameOptions options = samples_->options;
        options.seed = settings_.seed + index * map.framesPerPosition + k;
        const Frame frame = generateFrame(samples_->markers, pose, options);
        located += correct(locator_.locate(settings_.method, frame.rays, nullptr), frame, pose, tolerance) ? 1 : 0;
    }
    const double frames = static_cast<double>(map.framesPerPosition);
    return {settings_.method == LocateMethod::track
                ? walkShare(locator_, samples_->markers, layout_, settings_, map, index, tolerance)
                : static_cast<double>(located) / frames,
            static_cast<double>(identifiable) / frames};
}

RoomCoverage estimateCoverage(const EnvironmentDescription& layout, const Locator& locator,
                              const CoverageSettings& settings, const CoverageProgress& progress) {
    const CoverageEstimator estimator(layout, locator, settings);
    RoomCoverage map = estimator.lattice();
    std::mutex progressMutex;
    std::size_t done = 0;
    // Every frame has its own seed, so the map is the same for any number of threads.
    parallelFor(map.shares.size(), settings.threads, [&](std::size_t index) {
        std::tie(map.shares[index], map.identifiable[index]) = estimator.shares(index);
        if (progress) {
            const std::lock_guard lock(progressMutex);
            progress(++done, map.shares.size());
        }
    });
    return map;
}

RoomCoverage identifiableCoverage(const Environment& environment, const EnvironmentDescription& layout,
                                  const CoverageSettings& settings, std::size_t featuresNeeded) {
    RoomCoverage map = emptyMap(layout, settings);
    const FeatureView view(environment, frameOptions(settings.camera, layout.ceiling));
    for (std::size_t index = 0; index < map.shares.size(); ++index) {
        const double x = map.xs[index % map.xs.size()], z = map.zs[index / map.xs.size()];
        std::size_t identifiable = 0;
        for (std::size_t k = 0; k < map.framesPerPosition; ++k)
            identifiable += view.featuresInView(samplePose(settings, layout, x, z, k), featuresNeeded) ? 1 : 0;
        map.identifiable[index] = static_cast<double>(identifiable) / static_cast<double>(map.framesPerPosition);
    }
    map.shares = map.identifiable;
    return map;
}

}  // namespace Lumetra::Testing
