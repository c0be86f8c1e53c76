#include "simulation/TrackingScenarios.h"

#include <algorithm>
#include <cmath>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/PoseOracle.h"

namespace Lumetra::Testing {
namespace {

constexpr double pi = 3.14159265358979323846;
constexpr MarkerIndex notFound = 0xFFFFFFFE;

Point3d toDouble(const Point3& v) { return LumetraMath::vectorCast<double>(v); }

LumetraMath::quaternion<double> toDouble(const LumetraMath::quaternion<float>& q) { return {q.x, q.y, q.z, q.w}; }

Pose toPose(const TrackerPose& truth) {
    const auto q = truth.rotation();
    return {LumetraMath::vectorCast<float>(truth.position),
            {static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z), static_cast<float>(q.w)}};
}

}  // namespace

double quantile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    const auto at = values.begin() + static_cast<long>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

TrackingScene::TrackingScene(const LibraryHost& host, const MatchGeometry& base, std::uint32_t size,
                             std::uint64_t seed)
    : geometry(base) {
    std::mt19937_64 rng(seed);
    layout = randomMatchLayout(geometry, size, size, rng);
    environment = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
    tracking = trackingFace(*environment);
    markers = getMarkers(*environment);
    float smallest = 1e30f;
    for (std::size_t i = 0; i < markers.size(); ++i)
        for (std::size_t j = i + 1; j < markers.size(); ++j)
            smallest = std::min(smallest, LumetraMath::length(markers[i] - markers[j]));
    markerSpacing = smallest;
}

std::vector<View> cameraViews(const TrackingScene& scene, const CameraProfile& camera, std::size_t count,
                              std::mt19937_64& rng) {
    std::uniform_real_distribution<double> fieldOfView(camera.minFieldOfView, camera.maxFieldOfView);
    std::vector<View> views;
    while (views.size() < count) {
        FrameOptions options{.fieldOfViewHalfAngle = fieldOfView(rng) / 2,
                             .angularNoise = camera.noise,
                             .dropProbability = camera.dropProbability,
                             .spuriousRays = camera.strayRays};
        if (auto view = drawView(scene.markers, scene.geometry, scene.layout, camera.maxTilt, options, 4, 100000, rng))
            views.push_back(std::move(*view));
    }
    return views;
}

PoseOutcome oracle(const TrackingScene& scene, const View& view) {
    std::vector<MarkerIndex> numbers(view.frame.markerNumbers.size(), notFound);
    for (std::size_t i = 0; i < numbers.size(); ++i)
        if (view.frame.markerNumbers[i] != spuriousMarker) numbers[i] = view.frame.markerNumbers[i];
    return refinePose(*scene.tracking, view.frame.rays, numbers, toPose(view.pose));
}

void scoreOutcome(const TrackingScene& scene, const View& view, bool found, const std::vector<MarkerIndex>& numbers,
                  const Pose& pose, const PoseReport* report, TrackingFigures& figures) {
    ++figures.frames;
    if (!found) return;
    ++figures.found;
    const auto truth = view.pose.rotation();
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const MarkerIndex number = numbers[i];
        if (number >= scene.markers.size()) continue;
        const std::uint32_t actual = view.frame.markerNumbers[i];
        if (actual != spuriousMarker) {
            figures.wrongNumbers += number != actual;
            continue;
        }
        ++figures.strayNumbered;
        // Where the stray ray, cast from the true pose, meets the marker plane.
        const Point3d direction = toDouble(view.frame.worldRays[i]);
        const Point3d marker = toDouble(scene.markers[number]);
        const double t = (marker.y - view.pose.position.y) / direction.y;
        const Point3d hit = view.pose.position + direction * t;
        if (!(t > 0) || LumetraMath::length(hit - marker) > 0.25 * scene.markerSpacing) ++figures.strayNumberedFar;
    }
    const Point3d positionError = toDouble(pose.position) - view.pose.position;
    figures.positionErrors.push_back(LumetraMath::length(positionError));
    const OracleFit best = fitOraclePose(view.frame, scene.markers, view.pose, 0.0);
    if (best.converged) figures.oraclePositionErrors.push_back(LumetraMath::length(best.position - view.pose.position));

    if (report == nullptr) return;
    const PoseVector error = poseError(toDouble(pose.position), toDouble(pose.rotation), view.pose.position, truth);
    if (const auto nees = normalisedError(unpackCovariance(report->covariance), error)) {
        figures.neesSum += *nees;
        ++figures.neesCount;
    }
}

void evaluateViews(const TrackingScene& scene, const std::vector<View>& views, PoseMethod method,
                   TrackingFigures& figures) {
    for (const View& view : views) {
        switch (method) {
            case PoseMethod::match: {
                const MatchOutcome outcome = match(*scene.environment, view.frame.rays);
                scoreOutcome(scene, view, outcome.matched, outcome.markerIndices, outcome.pose, nullptr, figures);
                break;
            }
            case PoseMethod::identify: {
                const PoseOutcome outcome = identify(*scene.tracking, view.frame.rays);
                scoreOutcome(scene, view, outcome.found, outcome.markerIndices, outcome.pose, &outcome.report, figures);
                break;
            }
            case PoseMethod::oracle: {
                const PoseOutcome outcome = oracle(scene, view);
                std::vector<MarkerIndex> numbers(view.frame.markerNumbers.begin(), view.frame.markerNumbers.end());
                for (MarkerIndex& n : numbers) n = n == spuriousMarker ? notFound : n;
                scoreOutcome(scene, view, outcome.found, numbers, outcome.pose, &outcome.report, figures);
                break;
            }
        }
    }
}

std::vector<TrackerPose> walk(const TrackingScene& scene, double seconds, double rate, std::uint64_t seed) {
    const double distance = scene.geometry.maxDistance;
    const WalkArea area{.halfWidth = 0.35 * static_cast<double>(scene.layout.size.x) * scene.layout.cellSize,
                        .halfDepth = 0.35 * static_cast<double>(scene.layout.size.y) * scene.layout.cellSize,
                        .height = scene.layout.height + (scene.layout.ceiling ? -distance : distance)};
    return walk(area, seconds, rate, seed);
}

std::vector<TrackerPose> walk(const WalkArea& area, double seconds, double rate, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double halfWidth = area.halfWidth, halfDepth = area.halfDepth, height = area.height;
    const double speed = 1.5, peakYawRate = pi, sway = area.sway;
    const double phase = 2 * pi * unit(rng);

    std::vector<TrackerPose> poses;
    Point3d position{(2 * unit(rng) - 1) * halfWidth, height, (2 * unit(rng) - 1) * halfDepth};
    double heading = 2 * pi * unit(rng), yaw = heading;
    const double dt = 1.0 / rate;
    for (std::size_t frame = 0; frame < static_cast<std::size_t>(seconds * rate); ++frame) {
        const double t = static_cast<double>(frame) * dt;
        TrackerPose pose;
        pose.position = position + Point3d{0, 0.03 * std::sin(2 * pi * 1.8 * t), 0};
        pose.yaw = yaw;
        const double axisAngle = 2 * pi * 0.3 * t + phase;
        pose.tiltAxis = {std::cos(axisAngle), 0, std::sin(axisAngle)};
        pose.tilt = sway * std::sin(2 * pi * 0.7 * t);
        poses.push_back(pose);
        // The head turns at up to the peak rate while the walk bends gently; the walk bounces off
        // the edges of the room.
        yaw += peakYawRate * std::sin(2 * pi * 0.25 * t + phase) * dt;
        heading += 0.4 * std::sin(2 * pi * 0.1 * t) * dt;
        Point3d step{speed * std::cos(heading) * dt, 0, speed * std::sin(heading) * dt};
        if (std::fabs(position.x + step.x) > halfWidth) heading = pi - heading, step.x = -step.x;
        if (std::fabs(position.z + step.z) > halfDepth) heading = -heading, step.z = -step.z;
        position += step;
    }
    return poses;
}

void evaluateWalk(const TrackingScene& scene, const std::vector<TrackerPose>& poses, const CameraProfile& camera,
                  TrackingFigures& figures) {
    std::mt19937_64 rng(poses.size());
    const double fieldOfView = camera.maxFieldOfView;
    ConstantVelocityPredictor predictor;
    for (const TrackerPose& truth : poses) {
        FrameOptions options{.ceiling = scene.layout.ceiling,
                             .fieldOfViewHalfAngle = fieldOfView / 2,
                             .angularNoise = camera.noise,
                             .dropProbability = camera.dropProbability,
                             .spuriousRays = camera.strayRays,
                             .seed = rng()};
        const View view{truth, generateFrame(scene.markers, truth, options)};
        const std::optional<Pose> predicted = predictor.predict();
        const PoseOutcome outcome =
            predicted ? track(*scene.tracking, view.frame.rays, *predicted) : identify(*scene.tracking, view.frame.rays);
        figures.fellBack += predicted && outcome.report.method == Vesk::Environment::HorizontalGrid::PoseMethodTrackFellBack;
        scoreOutcome(scene, view, outcome.found, outcome.markerIndices, outcome.pose, &outcome.report, figures);
        predictor.update(outcome.found, outcome.pose);
    }
}

}  // namespace Lumetra::Testing
