// simulate: synthetic frames from random or given poses, matched through the library, with the
// figures a host developer asks first: how often, how wrong, how accurate and how fast.

#include "tools/horizontal-grid/SimulateCommand.h"

#include <fstream>
#include <memory>
#include <optional>
#include <random>

#include <fmt/core.h>

#include "LumetraVeskEnvironmentHorizontalGridRecording.h"
#include "simulation/InertialSensor.h"
#include "simulation/TrackerHost.h"
#include "simulation/TrackingScenarios.h"
#include "simulation/Trajectory.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Conventions.h"
#include "tools/horizontal-grid/PoseInput.h"
#include "tools/horizontal-grid/Progress.h"
#include "tools/horizontal-grid/SimulationTally.h"
#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {
namespace {

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

/// The middle 70 % of the grid at the tracker distance farthest from the marker plane.
Testing::WalkArea walkArea(const SimulateOptions& options, const EnvironmentDescription& d) {
    const auto [low, high] = heightRange(options, d);
    const double height = std::abs(low - d.height) > std::abs(high - d.height) ? low : high;
    return {.halfWidth = 0.35 * static_cast<double>(d.size.x) * d.cellSize,
            .halfDepth = 0.35 * static_cast<double>(d.size.y) * d.cellSize,
            .height = height};
}

/// The poses of a walk at --rate: for the inertial tracker the smooth trajectory whose derivatives
/// drive its inertial sensor, otherwise the walk that bounces off the area's edges.
std::vector<Testing::TrackerPose> walkPoses(const SimulateOptions& options, const EnvironmentDescription& d,
                                            const std::optional<Testing::Trajectory>& trajectory) {
    if (!trajectory) return Testing::walk(walkArea(options, d), options.walkSeconds, options.rate, options.tracker.seed);
    std::vector<Testing::TrackerPose> poses;
    for (std::size_t i = 0; static_cast<double>(i) < options.walkSeconds * options.rate; ++i) {
        const Testing::Motion motion = trajectory->at(static_cast<double>(i) / options.rate);
        poses.push_back(Testing::toTrackerPose(motion.position, motion.rotation));
    }
    return poses;
}

/// A 1 kHz inertial sensor at the default densities riding the walk, its samples given to the
/// tracker up to each frame's time.
class InertialFeed {
public:
    InertialFeed(const Testing::Trajectory& trajectory, std::uint64_t seed)
        : trajectory_(trajectory), sensor_(Testing::InertialNoise{}, 1000, seed) {}

    void upTo(Testing::ITracker& tracker, double time) {
        std::vector<Testing::InertialSample> samples;
        while (static_cast<double>(next_) * sensor_.period() <= time)
            samples.push_back(sensor_.sample(trajectory_, static_cast<double>(next_++) * sensor_.period()));
        if (!samples.empty()) Testing::addInertial(tracker, samples);
    }

private:
    const Testing::Trajectory& trajectory_;
    Testing::InertialSensor sensor_;
    std::size_t next_ = 1;
};

/// The frames' recording, when --record asks for one: rays in the tracker's frame, the truth.
class FrameRecorder {
public:
    FrameRecorder(const std::string& path, const std::string& code) {
        if (path.empty()) return;
        file_.open(path, std::ios::binary | std::ios::trunc);
        if (!file_) throw std::runtime_error("cannot write the recording " + path);
        writer_.emplace(file_, code);
    }
    void add(double time, const Testing::Frame& frame, const Testing::TrackerPose& pose) {
        if (!writer_) return;
        const auto q = pose.rotation();
        const Host::RecordedTruth truth{
            {LumetraMath::vectorCast<float>(pose.position),
             {static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z), static_cast<float>(q.w)}},
            frame.markerNumbers};
        writer_->frame(time, 0, frame.rays, &truth);
    }

private:
    std::ofstream file_;
    std::optional<Host::RecordingWriter> writer_;
};

std::string method(const SimulateOptions& options) {
    return options.walkSeconds > 0 && !options.methodGiven ? "track" : options.method;
}

}  // namespace

int runSimulate(const SimulateOptions& options) {
    const std::string how = method(options);
    const LoadedCode loaded = loadCode(options.input);
    const EnvironmentDescription& d = loaded.description;
    std::vector<Testing::TrackerPose> poses = givenPoses(options);
    const bool given = !poses.empty(), walking = options.walkSeconds > 0;
    if (walking && given) throw UsageError("--walk makes its own poses: leave out --pose and --poses");
    if ((how == "track" || how == "tracker") && !walking && !given)
        throw UsageError("--method " + how + " follows a sequence of poses: give --walk SECONDS, or --pose/--poses");
    // Only the inertial tracker's walk has the derivatives an inertial sensor needs.
    std::optional<Testing::Trajectory> trajectory;
    if (walking && how == "tracker") trajectory.emplace(walkArea(options, d), Testing::walkShape(), options.tracker.seed);
    if (walking) poses = walkPoses(options, d, trajectory);
    if (walking && poses.empty()) throw UsageError("--walk is shorter than one frame at --rate");
    if (!given && !walking) poses = randomPoses(options, d);

    const LibraryMatcher matcher(options.tracker.library, loaded.code);
    const double tolerance = options.tracker.positionTolerance(d.cellSize);
    Testing::FrameOptions frameOptions = options.tracker.frameOptions(d.ceiling);
    SimulationTally tally;
    FrameRecorder recorder(options.record, loaded.code);
    {
        Progress progress("simulate", poses.size(), options.tracker.progressMode());
        Testing::ConstantVelocityPredictor predictor;
        // The inertial tracker sees the frames at the walk's rate (given poses: 60 Hz) with the walk's
        // inertial samples, or on its motion model without them (given poses, --no-inertial).
        const auto tracker = how == "tracker" ? matcher.createTracker() : nullptr;
        std::optional<InertialFeed> inertial;
        if (trajectory && options.inertial) inertial.emplace(*trajectory, options.tracker.seed * 7 + 1);
        const double period = 1.0 / (walking ? options.rate : 60.0);
        for (std::size_t i = 0; i < poses.size(); ++i) {
            frameOptions.seed = options.tracker.seed + i;
            const Testing::Frame frame = matcher.frame(poses[i], frameOptions);
            recorder.add(static_cast<double>(i) / options.rate, frame, poses[i]);
            if (tracker) {
                if (inertial) inertial->upTo(*tracker, static_cast<double>(i) * period);
                tally.add(matcher.trackerFrame(*tracker, static_cast<double>(i) * period, poses[i], frame), tolerance);
                progress.advance();
                continue;
            }
            // Tracking identifies the first frame, and afresh after a frame without a pose.
            const std::optional<Testing::Pose> predicted = how == "track" ? predictor.predict() : std::nullopt;
            const FrameOutcome outcome = how == "match" ? matcher.match(poses[i], frame)
                                         : predicted    ? matcher.track(poses[i], frame, *predicted)
                                                        : matcher.identify(poses[i], frame);
            predictor.update(outcome.matched, outcome.pose);
            tally.add(outcome, tolerance);
            progress.advance();
        }
    }

    if (options.json) {
        fmt::print("{}\n", tallyJson(tally).dump(2));
        return 0;
    }
    if (how == "tracker") fmt::print("tracker ({}): ", trajectory && options.inertial ? "inertial samples at 1 kHz" : "motion model");
    else if (how != "match") fmt::print("{}: ", how);
    if (given)
        fmt::print("{} frames from given poses", tally.frames);
    else if (walking)
        fmt::print("{} frames of a {:g} s walk at {:g} Hz over the grid, tracker height {:g}", tally.frames,
                   options.walkSeconds, options.rate, poses.front().position.y);
    else
        fmt::print("{} frames from random poses over the grid, tracker height {:g} to {:g}, tilt up to {} deg",
                   tally.frames, heightRange(options, d).first, heightRange(options, d).second, options.maxTiltDegrees);
    fmt::print("; field of view {} deg, noise {} deg, {} dropped, {} spurious rays\n\n", options.tracker.fieldOfViewDegrees,
               options.tracker.noiseDegrees, options.tracker.dropProbability, options.tracker.spuriousRays);
    printTally(tally, tolerance);
    return 0;
}

void addSimulateCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<SimulateOptions>();
    CLI::App* command = tool.add_subcommand(
        "simulate", "Match synthetic frames through the library: success rate, wrong identifications, errors, time");
    addInputOptions(*command, options->input, "code", "environment code");
    addTrackerOptions(*command, options->tracker);
    command->add_option("-n,--frames", options->frames, "Number of random poses (without --pose and --poses)")
        ->check(notNegative())
        ->check(CLI::Range(std::size_t{1}, std::size_t{10000000}))
        ->capture_default_str();
    CLI::Option* distance =
        command->add_option("--distance", options->distances, "Distance of the tracker from the marker plane, metres, or a range low,high")
            ->check(finiteNumber())
            ->delimiter(',')
            ->expected(1, 2)
            ->check(positiveNumber())
            ->capture_default_str();
    command->add_option("--height", options->heights, "Tracker height or range (world y, metres) instead of --distance")
        ->check(finiteNumber())
        ->delimiter(',')
        ->expected(1, 2)
        ->excludes(distance);
    command->add_option("--tilt", options->maxTiltDegrees, "Largest random tilt, degrees")
        ->check(finiteNumber())
        ->check(CLI::Range(0.0, 80.0))
        ->capture_default_str();
    command->add_option("--pose", options->poses, "A given pose x,y,z,yaw[,tilt[,tiltAxis]] (degrees); repeatable");
    command->add_option("--poses", options->poseFile, "A file of given poses, one per line");
    command->add_option("--method", options->method,
                        "match (IEnvironment::match), identify, track (each frame predicted from the poses "
                        "found before; needs --walk or given poses), or tracker (the inertial tracker, frames at "
                        "--rate with a walk's inertial samples, on its motion model for given poses; needs --walk "
                        "or given poses)")
        ->check(CLI::IsMember({"match", "identify", "track", "tracker"}))
        ->capture_default_str()
        ->each([options](const std::string&) { options->methodGiven = true; });
    CLI::Option* walk = command->add_option("--walk", options->walkSeconds,
                        "Frames of a walk of this many seconds over the grid (1.5 m/s, head turns, sway), at the "
                        "farthest tracker distance; tracked unless --method says otherwise")
        ->check(finiteNumber())
        ->check(positiveNumber());
    command->add_option("--rate", options->rate, "Frames a second of --walk")
        ->check(finiteNumber())
        ->check(CLI::Range(1.0, 10000.0))
        ->capture_default_str()
        ->needs(walk);
    command->add_option("--record", options->record,
                        "Record the frames (rays in the tracker's frame, time at --rate, true pose and markers) into "
                        "this file, for replay");
    command->add_flag("!--no-inertial", options->inertial,
                      "--method tracker: leave out the walk's inertial samples (the tracker's motion model alone)");
    command->add_flag("--json", options->json, "Write JSON");
    selectOnParse(*command, selected, options, runSimulate);
}

}  // namespace Lumetra::Tools
