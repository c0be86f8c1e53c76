#include "tools/horizontal-grid/Replay.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "simulation/TrackingScenarios.h"
#include "tools/horizontal-grid/CodeInput.h"

namespace Lumetra::Tools {
namespace {

using Clock = std::chrono::steady_clock;

/// The file's bytes in one read (a recording of a long run is large), or standard input for "-".
std::string readRecording(const std::string& path) {
    if (path == "-") return readTextFile(path);
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) throw std::runtime_error("cannot read " + path);
    std::string text(static_cast<std::size_t>(file.tellg()), '\0');
    file.seekg(0);
    if (!file.read(text.data(), static_cast<std::streamsize>(text.size()))) throw std::runtime_error("cannot read " + path);
    return text;
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double angleBetweenDegrees(const LumetraMath::quaternion<float>& a, const LumetraMath::quaternion<float>& b) {
    const double dot = std::abs(static_cast<double>(a.x) * b.x + static_cast<double>(a.y) * b.y +
                                static_cast<double>(a.z) * b.z + static_cast<double>(a.w) * b.w);
    return 2 * std::acos(std::min(1.0, dot)) * 57.29577951308232;
}

void judge(ReplayedFrame& frame) {
    for (const Host::MarkerIndex marker : frame.markerIndices) frame.numbered += marker < Host::MarkerNotFound;
    if (!frame.truth) return;
    const RecordedTruth& truth = *frame.truth;
    if (!truth.markerIndices.empty()) {
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < frame.markerIndices.size() && i < truth.markerIndices.size(); ++i)
            wrong += frame.markerIndices[i] < Host::MarkerNotFound && frame.markerIndices[i] != truth.markerIndices[i];
        frame.wrong = wrong;
    }
    if (truth.pose && frame.found) {
        frame.positionError = LumetraMath::length(LumetraMath::vectorCast<double>(frame.pose.position - truth.pose->position));
        frame.rotationErrorDegrees = angleBetweenDegrees(frame.pose.rotation, truth.pose->rotation);
    }
}

/// One method's calls; `frame` has its rays in the tracker's frame, `cameraRays` in the camera's.
class Runner {
public:
    Runner(ReplayMethod method, Host::IEnvironment& environment, const Recording& recording) : method_(method) {
        if (method == ReplayMethod::identify || method == ReplayMethod::track) tracking_ = Host::trackingFace(environment);
        if (method == ReplayMethod::tracker) {
            Host::TrackerSettings settings{};
            settings.structSize = sizeof settings;
            settings.cameraCount = static_cast<std::uint32_t>(recording.cameras.size());
            for (std::size_t i = 0; i < recording.cameras.size(); ++i) settings.cameras[i] = recording.cameras[i].mount;
            tracker_.emplace(environment, settings);
        }
    }

    void inertial(const std::vector<Host::InertialSample>& samples) {
        if (tracker_ && !samples.empty()) tracker_->addInertial(samples);
    }

    Host::PoseResult frame(Host::IEnvironment& environment, const ReplayedFrame& frame,
                           const std::vector<Host::Vector3>& cameraRays) {
        switch (method_) {
            case ReplayMethod::match: {
                Host::Match found = Host::match(environment, frame.rays);
                return {found.matched, found.pose, std::move(found.markerIndices), {}};
            }
            case ReplayMethod::identify: return Host::identify(*tracking_, frame.rays);
            case ReplayMethod::track: {
                const std::optional<Host::Pose> predicted = predictor_.predict();
                Host::PoseResult result = predicted ? Host::track(*tracking_, frame.rays, *predicted)
                                                    : Host::identify(*tracking_, frame.rays);
                predictor_.update(result.found, result.pose);
                return result;
            }
            case ReplayMethod::tracker: return tracker_->addFrame(frame.time, frame.camera, cameraRays);
        }
        return {};
    }

private:
    ReplayMethod method_;
    Host::Ref<Host::ITrackingEnvironment> tracking_;
    std::optional<Host::Tracker> tracker_;
    Testing::ConstantVelocityPredictor predictor_;
};

}  // namespace

Replay replay(const std::string& file, ReplayMethod method, const std::string& libraryPath) {
    const Clock::time_point start = Clock::now();
    const Recording recording = parseRecording(readRecording(file));
    Replay result;
    result.readingSeconds = since(start);
    const Host::Library library(libraryPath);
    const Clock::time_point creation = Clock::now();
    const Host::Ref<Host::IEnvironment> environment = library.createEnvironment(recording.environment);
    result.librarySeconds = since(creation);
    result.markers = Host::markerPositions(*environment);
    Host::LongBool ceiling = Host::LongBool::False;
    Host::check(environment->filterRay({0, 1, 0}, {0, 1, 0}, &ceiling), *environment);
    result.ceiling = ceiling == Host::LongBool::True;
    Runner runner(method, *environment, recording);

    std::vector<Host::InertialSample> samples;  // consecutive samples go to the tracker together
    const auto deliverSamples = [&] {
        const Clock::time_point call = Clock::now();
        runner.inertial(samples);
        result.librarySeconds += since(call);
        samples.clear();
    };
    result.frames.reserve(recording.frames);
    for (const RecordedEvent& event : recording.events) {
        if (const auto* sample = std::get_if<Host::InertialSample>(&event)) {
            samples.push_back(*sample);
            continue;
        }
        deliverSamples();
        const RecordedFrame& recorded = std::get<RecordedFrame>(event);
        ReplayedFrame frame;
        frame.index = result.frames.size();
        frame.time = recorded.time;
        frame.camera = recorded.camera;
        frame.truth = recorded.truth;
        const auto& mount = recording.cameras[recorded.camera].mount.rotation;
        frame.rays.reserve(recorded.rays.size());
        for (const Host::Vector3& ray : recorded.rays) frame.rays.push_back(LumetraMath::mul(mount, ray));

        const Clock::time_point call = Clock::now();
        Host::PoseResult found = runner.frame(*environment, frame, recorded.rays);
        frame.seconds = since(call);
        result.librarySeconds += frame.seconds;
        frame.found = found.found;
        frame.poseMethod = found.report.method;
        frame.pose = found.pose;
        frame.markerIndices = found.found ? std::move(found.markerIndices)
                                          : std::vector<Host::MarkerIndex>(frame.rays.size(), Host::MarkerUnidentified);
        judge(frame);
        result.frames.push_back(std::move(frame));
    }
    deliverSamples();
    result.totalSeconds = since(start);
    return result;
}

}  // namespace Lumetra::Tools
