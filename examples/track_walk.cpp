// Example host: a tracker with a fisheye camera looking up at a ceiling walks a circle. Each
// frame's markers are seen as pixel centroids, turned into rays by the camera model and written to
// a recording; the first frame is identified, the rest are tracked from a predicted pose, and the
// last pose's covariance is printed. Then the inertial tracker (when the library has one) follows
// the same frames.
//
// Usage: track_walk [recording file [library path]]   (default recording: walk.jsonl)
// Replay the recording: lumetra-horizontal-grid replay walk.jsonl --method track

#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <LumetraVeskEnvironmentHorizontalGrid/LumetraVeskEnvironmentHorizontalGridHost.h>
#include <LumetraVeskEnvironmentHorizontalGrid/LumetraVeskEnvironmentHorizontalGridRecording.h>

namespace Host = Lumetra::Host;
using Host::Vector3;

// A 20 x 12 grid of 0.6 cells with 37 bars under a ceiling at 2.5.
const std::string environmentCode =
    "Agxsb25nIGNlaWxpbmcUDDMzoz/NzMw+NfqOPQAAAAAAAAAAAQAAIECamRk/ACUSBQAOBQEGCgEABgEAAgAOCgENAgMSCAIJCgAJAQESAgMIBAEH"
    "BwMEBQEDAAMLBgIBCQERCwMSBwINCgEPCgMTBgADBQEFBAEEAgAFAQIIAAMKAQMMAQMLAQEQAAATAQEJCwAHCwEFCwECCwMACgM=";

constexpr double pi = 3.14159265358979323846;
constexpr int width = 640, height = 480;

/// The walk: a circle of 1.5 m radius at 1.0 m height, once in 6 s, the head turning with it.
Host::Pose truePose(double t) {
    const double angle = 2 * pi * t / 6;
    const float yaw = static_cast<float>(angle + 0.3 * std::sin(3 * angle));
    return {{static_cast<float>(1.5 * std::cos(angle)), 1.0f, static_cast<float>(1.5 * std::sin(angle))},
            LumetraMath::quaternionFromAxisAngle(Vector3{0, 1, 0}, yaw)};
}

/// The pixel centroids of the markers the camera sees from `pose` (0.2 px of noise), and the
/// marker each shows.
void look(const Host::Camera& camera, const std::vector<Vector3>& markers, const Host::Pose& pose,
          std::vector<Host::Pixel>& pixels, Host::RecordedTruth& truth) {
    static std::mt19937_64 random(1);
    std::normal_distribution<double> noise(0.0, 0.2);
    pixels.clear();
    truth = {pose, {}};
    for (std::uint32_t m = 0; m < markers.size(); ++m) {
        const Vector3 trackerRay = LumetraMath::mul(LumetraMath::conjugate(pose.rotation), markers[m] - pose.position);
        const auto pixel = camera.project(trackerRay);
        if (!pixel || pixel->x < 0 || pixel->y < 0 || pixel->x > width - 1 || pixel->y > height - 1) continue;
        pixels.push_back({pixel->x + noise(random), pixel->y + noise(random)});
        truth.markerIndices.push_back(m);
    }
}

void printCovariance(const Host::Covariance& c) {
    std::printf("covariance (x, y, z in m; rx, ry, rz in rad):\n");
    for (const auto& row : c) {
        for (const float value : row) std::printf(" %10.3e", value);
        std::printf("\n");
    }
    std::printf("standard deviations: position %.2f %.2f %.2f mm, rotation %.3f %.3f %.3f deg\n",
                1e3 * std::sqrt(c[0][0]), 1e3 * std::sqrt(c[1][1]), 1e3 * std::sqrt(c[2][2]),
                std::sqrt(c[3][3]) * 180 / pi, std::sqrt(c[4][4]) * 180 / pi, std::sqrt(c[5][5]) * 180 / pi);
}

int main(int argc, char** argv) try {
    const std::string recordingPath = argc > 1 ? argv[1] : "walk.jsonl";
    const Host::Library library(argc > 2 ? argv[2] : LUMETRA_LIBRARY_PATH);
    const Host::Ref<Host::IEnvironment> environment = library.createEnvironment(environmentCode);
    const Host::Ref<Host::ITrackingEnvironment> tracking = Host::trackingFace(*environment);
    const std::vector<Vector3> markers = Host::markerPositions(*environment);

    // A 190 degree fisheye, its optical axis along the tracker's +y (up at the ceiling).
    const Host::Camera camera = Host::Camera::fisheye({210, 210, 319.5, 239.5}, {0.02, -0.004, 0.0007, -0.00005},
                                                      {{0, 0, 0}, Host::cameraLookingUp});
    std::ofstream file(recordingPath);
    Host::RecordingWriter recording(file, environmentCode, {camera});

    std::vector<Host::Pixel> pixels;
    Host::RecordedTruth truth;
    std::vector<Host::Pose> found;  // the poses of the frames so far (none after a lost frame)
    Host::PoseResult result;
    int tracked = 0, frames = 0;
    for (double t = 0; t < 3; t += 1.0 / 60, ++frames) {
        look(camera, markers, truePose(t), pixels, truth);
        recording.frame(t, 0, pixels, &truth);
        const std::vector<Vector3> rays = camera.rays(pixels);
        if (found.size() < 2) {
            result = Host::identify(*tracking, rays);
        } else {  // predicted at constant velocity from the two poses before
            Host::Pose predicted = found.back();
            predicted.position = predicted.position * 2.0f - found[found.size() - 2].position;
            result = Host::track(*tracking, rays, predicted);
        }
        if (!result.found) {
            found.clear();
            continue;
        }
        found.push_back(result.pose);
        tracked += result.report.method == Lumetra::Vesk::Environment::HorizontalGrid::PoseMethodTrack;
    }
    const Host::Pose last = found.empty() ? Host::Pose{} : found.back();
    std::printf("%d frames of 3 s at 60 Hz recorded into %s; %d tracked from the prediction; last pose "
                "(%.4f, %.4f, %.4f) with %u of %zu rays numbered\n",
                frames, recordingPath.c_str(), tracked, last.position.x, last.position.y, last.position.z,
                result.report.numberedRays, pixels.size());
    printCovariance(result.report.covariance);

    try {
        Host::Tracker tracker(*environment, {camera});
        int fused = 0;
        double last = 0;
        for (double t = 0; t < 3; t += 1.0 / 60) {
            look(camera, markers, truePose(t), pixels, truth);
            std::vector<Vector3> cameraRays;  // the tracker takes rays in the camera's own frame
            for (const Host::Pixel& pixel : pixels) cameraRays.push_back(LumetraMath::vectorCast<float>(camera.cameraRay(pixel)));
            fused += tracker.addFrame(t, 0, cameraRays).found;
            last = t;
        }
        const Host::State state = tracker.state(last + 0.02);  // 20 ms ahead, for a renderer
        const Host::Pose expected = truePose(last + 0.02);
        std::printf("the tracker (no inertial sensor: its motion model) fused %d frames; 20 ms after the last: status "
                    "%u, position (%.4f, %.4f, %.4f), true (%.4f, %.4f, %.4f), sd x %.2f mm\n",
                    fused, static_cast<unsigned>(state.status), state.pose.position.x, state.pose.position.y,
                    state.pose.position.z, expected.position.x, expected.position.y, expected.position.z,
                    1e3 * std::sqrt(state.covariance[0][0]));
    } catch (const Host::Error& error) {
        if (error.code() != Host::ExceptionCode::NoInterface) throw;
        std::printf("%s\n", error.what());
    }
    return tracked > frames / 2 ? 0 : 1;
} catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
}
