#pragma once
// Writes recordings: what a tracker saw (frames of rays or pixels, inertial samples, and the truth
// when it is known), for `lumetra-horizontal-grid replay` and the Python package's
// lumetra_horizontal_grid.recording. Header-only. The format is JSON Lines, one object per line:
//
//   {"type":"header","format":"lumetra-recording","version":1,"environment":"<code>","cameras":[
//      {"position":[x,y,z],"rotation":[x,y,z,w],"model":"pinhole","intrinsics":[fx,fy,cx,cy],
//       "distortion":[k1,k2,p1,p2,k3]}]}                       (model and below: for pixels only)
//   {"type":"frame","time":t,"camera":0,"rays":[[x,y,z],...]}   rays in the camera's frame, or
//   {"type":"frame","time":t,"camera":0,"pixels":[[u,v],...],
//    "truth":{"position":[x,y,z],"rotation":[x,y,z,w],"markers":[m,...]}}   truth optional, -1: none
//   {"type":"inertial","time":t,"angularRate":[x,y,z],"specificForce":[x,y,z]}   tracker frame
//
// Lines follow in the order the host received them; times are seconds on one clock. Every line
// is complete when written (a recording cut short is still readable up to its last line).
//
//     std::ofstream file("walk.jsonl");
//     Lumetra::Host::RecordingWriter recording(file, code, {camera});
//     recording.frame(time, 0, pixels);   // or rays; with &truth when known

#include <charconv>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "LumetraVeskEnvironmentHorizontalGridCamera.h"

namespace Lumetra::Host {

/// What the tracker really did, when it is known: its pose, and the marker each ray shows
/// (MarkerUnidentified for a ray that shows none; empty when unknown).
struct RecordedTruth {
    Pose pose{};
    std::vector<Vesk::Environment::MarkerIndex> markerIndices;
};

class RecordingWriter {
public:
    /// Writes the header: the environment's code and the cameras (mounts and models; none: one
    /// unrotated camera that delivers rays).
    RecordingWriter(std::ostream& out, std::string_view environmentCode, const std::vector<Camera>& cameras = {})
        : out_(out) {
        line_ = R"({"type":"header","format":"lumetra-recording","version":1,"environment":")";
        for (const char c : environmentCode) {  // base64 needs no escapes; anything else is refused
            if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
                throw std::invalid_argument("an environment code holds no quotes, backslashes or control characters");
            line_ += c;
        }
        line_ += R"(","cameras":[)";
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            const Camera& camera = cameras[i];
            line_ += i ? ",{" : "{";
            key("position"), numbers(&camera.mount().position.x, 3);
            line_ += ',', key("rotation"), numbers(&camera.mount().rotation.x, 4);
            line_ += camera.model() == CameraModel::pinhole ? R"(,"model":"pinhole")" : R"(,"model":"fisheye")";
            const CameraIntrinsics& k = camera.intrinsics();
            const double intrinsics[4] = {k.fx, k.fy, k.cx, k.cy};
            line_ += ',', key("intrinsics"), numbers(intrinsics, 4);
            line_ += ',', key("distortion"), numbers(camera.distortion().data(), camera.model() == CameraModel::pinhole ? 5 : 4);
            line_ += '}';
        }
        line_ += "]}";
        flushLine();
    }

    /// A frame of rays in camera `camera`'s frame.
    void frame(double time, std::uint32_t camera, const std::vector<Vector3>& rays, const RecordedTruth* truth = nullptr) {
        frameStart(time, camera, "rays");
        for (std::size_t i = 0; i < rays.size(); ++i) line_ += i ? "," : "", numbers(&rays[i].x, 3);
        frameEnd(truth);
    }
    /// A frame of pixel centroids of camera `camera` (which must have been given with its model).
    void frame(double time, std::uint32_t camera, const std::vector<Pixel>& pixels, const RecordedTruth* truth = nullptr) {
        frameStart(time, camera, "pixels");
        for (std::size_t i = 0; i < pixels.size(); ++i) line_ += i ? "," : "", numbers(&pixels[i].x, 2);
        frameEnd(truth);
    }

    void inertial(const Vesk::Environment::HorizontalGrid::InertialSample& sample) {
        line_ = R"({"type":"inertial","time":)";
        number(sample.time);
        line_ += ',', key("angularRate"), numbers(sample.angularRate, 3);
        line_ += ',', key("specificForce"), numbers(sample.specificForce, 3);
        line_ += '}';
        flushLine();
    }

private:
    void frameStart(double time, std::uint32_t camera, const char* what) {
        line_ = R"({"type":"frame","time":)";
        number(time);
        line_ += R"(,"camera":)" + std::to_string(camera) + ",";
        key(what);
        line_ += '[';
    }
    void frameEnd(const RecordedTruth* truth) {
        line_ += ']';
        if (truth) {
            line_ += R"(,"truth":{)";
            key("position"), numbers(&truth->pose.position.x, 3);
            line_ += ',', key("rotation"), numbers(&truth->pose.rotation.x, 4);
            if (!truth->markerIndices.empty()) {
                line_ += ',', key("markers"), line_ += '[';
                for (std::size_t i = 0; i < truth->markerIndices.size(); ++i) {
                    const auto marker = truth->markerIndices[i];
                    line_ += i ? "," : "";
                    line_ += marker >= Vesk::Environment::MarkerNotFound ? "-1" : std::to_string(marker);
                }
                line_ += ']';
            }
            line_ += '}';
        }
        line_ += '}';
        flushLine();
    }
    void key(const char* name) { line_ += '"', line_ += name, line_ += "\":"; }
    /// The shortest text that reads back as the same value (float or double).
    template <class T>
    void number(T value) {
        if (!std::isfinite(value)) throw std::invalid_argument("a recording holds finite numbers only");
        char text[32];
        line_.append(text, std::to_chars(text, text + sizeof text, value).ptr);
    }
    template <class T>
    void numbers(const T* values, std::size_t count) {
        line_ += '[';
        for (std::size_t i = 0; i < count; ++i) {
            if (i) line_ += ',';
            number(values[i]);
        }
        line_ += ']';
    }
    void flushLine() {
        line_ += '\n';
        out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
        if (!out_) throw std::runtime_error("cannot write the recording");
    }

    std::ostream& out_;
    std::string line_;
};

}  // namespace Lumetra::Host
