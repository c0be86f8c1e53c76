#include "simulation/Envelope.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <time.h>

#include "simulation/PoseOracle.h"
#include "simulation/TrackingScenarios.h"

namespace Lumetra::Testing {
namespace {

constexpr double degree = 3.14159265358979323846 / 180.0;
constexpr double cameraNoise = 0.05 * degree;

double rayNoise(RayProfile profile) {
    return profile == RayProfile::camera ? cameraNoise : profile == RayProfile::noise01 ? 0.1 * degree : 0.0;
}

Point3d toDouble(const Point3& v) { return LumetraMath::vectorCast<double>(v); }
LumetraMath::quaternion<double> toDouble(const LumetraMath::quaternion<float>& q) { return {q.x, q.y, q.z, q.w}; }

/// A layout loaded through the built library, with the catalogue of the same layout built in
/// process: the features (bars by marker number / 3) that make a frame identifiable.
struct Scene {
    Scene(const LibraryHost& host, const EnvelopeCell& cell, std::uint32_t size, std::uint64_t seed)
        : tracking(host, envelopeGeometry(cell), size, seed) {
        const auto inProcess = makeEnvironment(tracking.layout);
        if (inProcess->getMarkers() != tracking.markers)
            throw std::runtime_error("the library numbers the markers of a layout otherwise than the catalogue");
        featuresOfBar.resize(tracking.markers.size() / 3);
        for (const auto& entry : inProcess->getCombinations()) {
            features.emplace_back(entry.second.begin(), entry.second.end());
            for (const unsigned long bar : entry.second) featuresOfBar[bar].push_back(features.size() - 1);
        }
    }

    bool identifiable(const std::vector<std::uint8_t>& complete) const {
        for (std::size_t bar = 0; bar < complete.size(); ++bar) {
            if (!complete[bar]) continue;
            for (const std::size_t f : featuresOfBar[bar])
                if (std::all_of(features[f].begin(), features[f].end(), [&](unsigned long b) { return complete[b] != 0; }))
                    return true;
        }
        return false;
    }

    /// Per bar, whether all three markers show in the frame.
    std::vector<std::uint8_t> completeBars(const Frame& frame) const {
        std::vector<std::uint8_t> seen(tracking.markers.size(), 0), complete(featuresOfBar.size(), 0);
        for (const std::uint32_t m : frame.markerNumbers)
            if (m != spuriousMarker) seen[m] = 1;
        for (std::size_t bar = 0; bar < complete.size(); ++bar)
            complete[bar] = seen[3 * bar] && seen[3 * bar + 1] && seen[3 * bar + 2];
        return complete;
    }

    TrackingScene tracking;
    std::vector<std::vector<unsigned long>> features;
    std::vector<std::vector<std::size_t>> featuresOfBar;
};

/// One frame with its truth and oracle.
struct Shot {
    TrackerPose truth;
    Frame frame;
    bool identifiable = false;
    OracleFit oracle;
    std::size_t markerRays = 0;
};

Shot shoot(const Scene& scene, const TrackerPose& truth, Frame frame, double noise) {
    Shot shot{truth, std::move(frame), false, {}, 0};
    shot.identifiable = scene.identifiable(scene.completeBars(shot.frame));
    shot.markerRays = static_cast<std::size_t>(
        std::count_if(shot.frame.markerNumbers.begin(), shot.frame.markerNumbers.end(),
                      [](std::uint32_t m) { return m != spuriousMarker; }));
    shot.oracle = fitOraclePose(shot.frame, scene.tracking.markers, truth, noise);
    return shot;
}

/// Whether a stray ray, cast from the true pose, meets the marker plane farther than a quarter of
/// the smallest marker spacing from the marker it was given (or not at all).
bool strayFar(const Scene& scene, const Shot& shot, std::size_t ray, MarkerIndex number) {
    const Point3d direction = toDouble(shot.frame.worldRays[ray]);
    const Point3d marker = toDouble(scene.tracking.markers[number]);
    const double t = (marker.y - shot.truth.position.y) / direction.y;
    const Point3d hit = shot.truth.position + direction * t;
    return !(t > 0) || LumetraMath::length(hit - marker) > 0.25 * scene.tracking.markerSpacing;
}

void score(const Scene& scene, const Shot& shot, double noise, bool found, const std::vector<MarkerIndex>& numbers,
           const Pose& pose, const PoseReport* report, double seconds, MethodTally& tally) {
    ++tally.tried;
    tally.seconds.push_back(seconds);
    if (!found) return;
    ++tally.found;
    tally.foundIdentifiable += shot.identifiable;
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < numbers.size() && i < shot.frame.markerNumbers.size(); ++i) {
        const MarkerIndex number = numbers[i];
        if (number >= scene.tracking.markers.size()) continue;
        const std::uint32_t actual = shot.frame.markerNumbers[i];
        if (actual != spuriousMarker) {
            wrong += number != actual;
        } else {
            ++tally.strayNumbered;
            tally.strayFar += strayFar(scene, shot, i, number);
        }
    }
    tally.wrongRays += wrong;
    tally.wrongFrames += wrong > 0;
    tally.errors.push_back(LumetraMath::length(toDouble(pose.position) - shot.truth.position));
    tally.oracleErrors.push_back(LumetraMath::length(shot.oracle.position - shot.truth.position));
    if (report == nullptr || noise == 0) return;
    const PoseMatrix covariance = unpackCovariance(report->covariance);
    const PoseVector error =
        poseError(toDouble(pose.position), toDouble(pose.rotation), shot.truth.position, shot.truth.rotation());
    // A covariance that is not positive definite counts as infinitely overconfident.
    addNees(tally.nees, report->supportingRays, normalisedError(covariance, error).value_or(INFINITY));
}

/// The calling thread's processor time: what a call costs, whatever else the machine runs.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

template <class Call>
auto timed(double& seconds, Call call) {
    const double start = threadSeconds();
    auto outcome = call();
    seconds = threadSeconds() - start;
    return outcome;
}

std::uint64_t cellSeed(const EnvelopeCell& cell, std::uint64_t seed) {
    std::uint64_t h = 1469598103934665603ull ^ seed;
    for (const double v : {cell.fieldOfViewDegrees, cell.minDistance, cell.maxDistance, cell.maxTiltDegrees,
                           static_cast<double>(cell.geometry), static_cast<double>(cell.dense),
                           static_cast<double>(cell.profile)}) {
        h = (h ^ static_cast<std::uint64_t>(std::llround(v * 1000))) * 1099511628211ull;
    }
    return h;
}

void scoreFrames(const Scene& scene, const EnvelopeSettings& settings, std::mt19937_64& rng, EnvelopeResult& result) {
    const EnvelopeCell& cell = result.cell;
    const double noise = rayNoise(cell.profile);
    const auto& layout = scene.tracking.layout;
    const PoseRange range{.halfWidth = 0.5 * static_cast<double>(layout.size.x) * layout.cellSize,
                          .halfDepth = 0.5 * static_cast<double>(layout.size.y) * layout.cellSize,
                          .minDistance = cell.minDistance,
                          .maxDistance = cell.maxDistance,
                          .maxTilt = cell.maxTiltDegrees * degree};
    FrameOptions options = envelopeFrameOptions(cell, layout.ceiling);
    const std::size_t maxPoses = 200 * settings.frames + 1000;
    const double start = threadSeconds();
    const auto inBudget = [&] { return settings.cellSeconds <= 0 || threadSeconds() - start < settings.cellSeconds; };
    while (result.frames < settings.frames && result.poses < maxPoses && inBudget()) {
        ++result.poses;
        const TrackerPose truth = randomTrackerPose(range, layout.height, layout.ceiling, rng);
        options.seed = rng();
        Frame frame = generateFrame(scene.tracking.markers, truth, options);
        if (countCompleteBars(frame) < settings.minBars) continue;
        ++result.frames;
        result.rays += frame.rays.size();
        const Shot shot = shoot(scene, truth, std::move(frame), noise);
        result.identifiable += shot.identifiable;
        if (noise > 0 && shot.oracle.converged)
            addNees(result.oracleNees, shot.markerRays,
                    normalisedError(shot.oracle.covariance, poseError(shot.oracle.position, shot.oracle.rotation,
                                                                     truth.position, truth.rotation()))
                        .value_or(INFINITY));
        double seconds = 0;
        const MatchOutcome m = timed(seconds, [&] { return match(*scene.tracking.environment, shot.frame.rays); });
        score(scene, shot, noise, m.matched, m.markerIndices, m.pose, nullptr, seconds, result.match);
        const PoseOutcome i = timed(seconds, [&] { return identify(*scene.tracking.tracking, shot.frame.rays); });
        score(scene, shot, noise, i.found, i.markerIndices, i.pose, &i.report, seconds, result.identify);
    }
}

void scoreWalk(const Scene& scene, const EnvelopeSettings& settings, std::mt19937_64& rng, EnvelopeResult& result) {
    const EnvelopeCell& cell = result.cell;
    const double noise = rayNoise(cell.profile);
    const auto& layout = scene.tracking.layout;
    const double distance = 0.5 * (cell.minDistance + cell.maxDistance);
    const WalkArea area{.halfWidth = 0.35 * static_cast<double>(layout.size.x) * layout.cellSize,
                        .halfDepth = 0.35 * static_cast<double>(layout.size.y) * layout.cellSize,
                        .height = layout.height + (layout.ceiling ? -distance : distance),
                        .sway = 2.0 / 3.0 * cell.maxTiltDegrees * degree};
    FrameOptions options = envelopeFrameOptions(cell, layout.ceiling);
    ConstantVelocityPredictor predictor;
    for (const TrackerPose& truth : walk(area, settings.walkSeconds, settings.walkRate, rng())) {
        options.seed = rng();
        const Shot shot = shoot(scene, truth, generateFrame(scene.tracking.markers, truth, options), noise);
        ++result.walkFrames;
        result.walkIdentifiable += shot.identifiable;
        const std::optional<Pose> predicted = predictor.predict();
        double seconds = 0;
        const PoseOutcome t = timed(seconds, [&] {
            return predicted ? track(*scene.tracking.tracking, shot.frame.rays, *predicted)
                             : identify(*scene.tracking.tracking, shot.frame.rays);
        });
        result.fellBack += predicted && t.report.method == Vesk::Environment::HorizontalGrid::PoseMethodTrackFellBack;
        score(scene, shot, noise, t.found, t.markerIndices, t.pose, &t.report, seconds, result.track);
        predictor.update(t.found, t.pose);
    }
}

}  // namespace

MatchGeometry envelopeGeometry(const EnvelopeCell& cell) {
    MatchGeometry g = matchGeometries().at(cell.geometry);
    // Dense long layouts keep one free cell between bars, two between bars in line: bars in line one
    // free cell apart end a tenth of a bar length apart, where the layout's marker ellipse (the
    // empty ellipse around a bar that the pattern search tests) no longer holds the bar's own
    // middle marker, and no bar of the layout can be told from its neighbours.
    if (g.minSpacing == 0) {
        g.fill = cell.dense ? 0.4 : 0.2;
    } else if (cell.dense) {
        g.minSpacing = 1;
        g.inLineSpacing = 2;
    }
    g.minDistance = cell.minDistance;
    g.maxDistance = cell.maxDistance;
    return g;
}

FrameOptions envelopeFrameOptions(const EnvelopeCell& cell, bool ceiling) {
    const bool camera = cell.profile == RayProfile::camera;
    return {.ceiling = ceiling,
            .fieldOfViewHalfAngle = 0.5 * cell.fieldOfViewDegrees * degree,
            .angularNoise = rayNoise(cell.profile),
            .dropProbability = camera ? 0.05 : 0.0,
            .spuriousRays = camera ? std::size_t{2} : std::size_t{0}};
}

void NeesTally::add(double nees) {
    ++count;
    sum += nees;
    aboveChiSquared95 += nees > chiSquared6At95;
}

void addNees(NeesBuckets& buckets, std::size_t rays, double nees) {
    std::size_t bucket = 0;
    while (bucket + 1 < neesBucketStarts.size() && rays >= neesBucketStarts[bucket + 1]) ++bucket;
    if (rays >= neesBucketStarts[0]) buckets[bucket].add(nees);
}

std::vector<EnvelopeCell> envelopeCells(const EnvelopeAxes& axes) {
    std::vector<EnvelopeCell> cells;
    for (const RayProfile profile : axes.profiles)
        for (const bool dense : axes.densities)
            for (const double tilt : axes.tiltsDegrees)
                for (const std::size_t geometry : axes.geometries)
                    for (const auto& distance : axes.distances)
                        for (const double fieldOfView : axes.fieldsOfViewDegrees)
                            cells.push_back({fieldOfView, distance[0], distance[1], tilt, geometry, dense, profile});
    return cells;
}

std::vector<EnvelopeResult> evaluateEnvelope(const std::vector<EnvelopeCell>& cells, const EnvelopeSettings& settings,
                                             const std::function<void()>& cellDone) {
    const LibraryHost host(settings.library);
    std::map<std::pair<std::size_t, bool>, std::unique_ptr<Scene>> scenes;
    for (const EnvelopeCell& cell : cells) {
        auto& scene = scenes[{cell.geometry, cell.dense}];
        if (!scene)
            scene = std::make_unique<Scene>(host, cell, settings.gridSize,
                                            settings.seed * 1000 + 2 * cell.geometry + cell.dense);
    }

    std::vector<EnvelopeResult> results(cells.size());
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::exception_ptr failure;
    const auto work = [&] {
        for (std::size_t index; (index = next++) < cells.size();) {
            try {
                EnvelopeResult& result = results[index];
                result.cell = cells[index];
                const Scene& scene = *scenes.at({result.cell.geometry, result.cell.dense});
                std::mt19937_64 rng(cellSeed(result.cell, settings.seed));
                scoreFrames(scene, settings, rng, result);
                if (settings.walkSeconds > 0) scoreWalk(scene, settings, rng, result);
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!failure) failure = std::current_exception();
                next = cells.size();
            }
            const std::lock_guard lock(mutex);
            if (cellDone) cellDone();
        }
    };
    const unsigned threads = settings.threads > 0 ? settings.threads : std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
    if (failure) std::rethrow_exception(failure);
    return results;
}

std::string geometryName(std::size_t geometry) { return matchGeometries().at(geometry).name; }
const char* densityName(bool dense) { return dense ? "dense" : "usual"; }

}  // namespace Lumetra::Testing
