#include "tools/horizontal-grid/Recording.h"

#include <array>
#include <cmath>
#include <stdexcept>

#include "tools/horizontal-grid/JsonScanner.h"

namespace Lumetra::Tools {
namespace {

constexpr std::string_view formatName = "lumetra-recording";
constexpr int formatVersion = 1;

/// Arrays of a line gather here, kept from line to line, and are then copied into vectors of
/// their exact size: one allocation each instead of one per doubling.
struct Scratch {
    std::vector<Host::Vector3> rays;
    std::vector<Host::Pixel> pixels;
    std::vector<Host::MarkerIndex> markers;
};

template <class T, class ReadElement>
void readArray(JsonScanner& json, std::vector<T>& scratch, std::vector<T>& out, ReadElement&& readElement) {
    scratch.clear();
    json.array([&] { scratch.push_back(readElement()); });
    out.assign(scratch.begin(), scratch.end());
}

Host::Vector3 vector3(JsonScanner& json) {
    float v[3];
    json.numbers(v, 3);
    return {v[0], v[1], v[2]};
}

LumetraMath::quaternion<float> rotation(JsonScanner& json) {
    float q[4];
    json.numbers(q, 4);
    const float norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (!(std::abs(norm - 1) <= 1e-3f)) json.fail("a rotation must be a unit quaternion (x, y, z, w)");
    return {q[0], q[1], q[2], q[3]};
}

RecordedCamera camera(JsonScanner& json) {
    RecordedCamera result;
    std::string model;
    std::array<double, 4> intrinsics{};
    std::vector<double> distortion;
    bool hasIntrinsics = false;
    json.object([&](std::string_view key) {
        if (key == "position") result.mount.position = vector3(json);
        else if (key == "rotation") result.mount.rotation = rotation(json);
        else if (key == "model") model = json.string();
        else if (key == "intrinsics") json.numbers(intrinsics.data(), 4), hasIntrinsics = true;
        else if (key == "distortion") json.array([&] { distortion.push_back(json.number()); });
        else json.skip();
    });
    if (model.empty()) return result;
    if (!hasIntrinsics || intrinsics[0] == 0 || intrinsics[1] == 0)
        json.fail("a camera model needs intrinsics [fx, fy, cx, cy] with nonzero focal lengths");
    const Host::CameraIntrinsics k{intrinsics[0], intrinsics[1], intrinsics[2], intrinsics[3]};
    if (model == "pinhole" && distortion.size() == 5)
        result.model = Host::Camera::pinhole(k, {distortion[0], distortion[1], distortion[2], distortion[3], distortion[4]},
                                             result.mount);
    else if (model == "fisheye" && distortion.size() == 4)
        result.model = Host::Camera::fisheye(k, {distortion[0], distortion[1], distortion[2], distortion[3]}, result.mount);
    else
        json.fail("a camera model is \"pinhole\" with 5 distortion coefficients or \"fisheye\" with 4");
    result.unmountedModel = result.model->unmounted();
    return result;
}

void header(JsonScanner& json, Recording& recording) {
    std::string type, format;
    double version = 0;
    json.object([&](std::string_view key) {
        if (key == "type") type = json.string();
        else if (key == "format") format = json.string();
        else if (key == "version") version = json.number();
        else if (key == "environment") recording.environment = json.string();
        else if (key == "cameras") json.array([&] { recording.cameras.push_back(camera(json)); });
        else json.skip();
    });
    if (type != "header" || format != formatName)
        json.fail("the first line must be the header {\"type\": \"header\", \"format\": \"lumetra-recording\", ...}");
    if (version != formatVersion) json.fail("format version " + std::to_string(formatVersion) + " expected");
    if (recording.environment.empty()) json.fail("the header names no environment code");
    if (recording.cameras.size() > 8) json.fail("at most 8 cameras");
    if (recording.cameras.empty()) recording.cameras.emplace_back();
}

RecordedTruth truth(JsonScanner& json, Scratch& scratch) {
    RecordedTruth result;
    std::optional<Host::Vector3> position;
    std::optional<LumetraMath::quaternion<float>> turn;
    json.object([&](std::string_view key) {
        if (key == "position") position = vector3(json);
        else if (key == "rotation") turn = rotation(json);
        else if (key == "markers")
            readArray(json, scratch.markers, result.markerIndices, [&] {
                const double marker = json.number();
                if (marker != std::floor(marker) || marker < -1 || marker >= 4294967294.0)
                    json.fail("a true marker is a marker number, or -1 for none");
                return marker < 0 ? Host::MarkerUnidentified : static_cast<Host::MarkerIndex>(marker);
            });
        else json.skip();
    });
    if (position.has_value() != turn.has_value()) json.fail("a true pose has both a position and a rotation");
    if (position) result.pose = Host::Pose{*position, *turn};
    return result;
}

void event(JsonScanner& json, const Recording& recording, std::vector<RecordedEvent>& events, std::size_t line,
           Scratch& scratch) {
    std::string type;
    RecordedFrame frame;
    frame.line = line;
    Host::InertialSample sample{};
    bool hasTime = false, hasRays = false, hasPixels = false, hasRate = false, hasForce = false;
    json.object([&](std::string_view key) {
        if (key == "type") type = json.string();
        else if (key == "time") frame.time = sample.time = json.number(), hasTime = true;
        else if (key == "camera") {
            const double camera = json.number();
            if (camera != std::floor(camera) || camera < 0 || camera >= static_cast<double>(recording.cameras.size()))
                json.fail("camera " + std::to_string(camera) + " is not in the header's list");
            frame.camera = static_cast<std::uint32_t>(camera);
        } else if (key == "rays") readArray(json, scratch.rays, frame.rays, [&] { return vector3(json); }), hasRays = true;
        else if (key == "pixels")
            readArray(json, scratch.pixels, frame.pixels, [&] {
                double p[2];
                json.numbers(p, 2);
                return Host::Pixel{p[0], p[1]};
            }), hasPixels = true;
        else if (key == "truth") frame.truth = truth(json, scratch);
        else if (key == "angularRate") json.numbers(sample.angularRate, 3), hasRate = true;
        else if (key == "specificForce") json.numbers(sample.specificForce, 3), hasForce = true;
        else json.skip();
    });
    if (type == "frame") {
        if (!hasTime) json.fail("a frame without a time");
        if (hasRays == hasPixels) json.fail("a frame gives either rays or pixels");
        if (hasPixels) {
            const auto& model = recording.cameras[frame.camera].unmountedModel;
            if (!model) json.fail("pixels of a camera without a model");
            frame.rays = model->rays(frame.pixels);
        }
        if (frame.truth && !frame.truth->markerIndices.empty() && frame.truth->markerIndices.size() != frame.rays.size())
            json.fail("the true markers must be one per ray");
        events.emplace_back(std::move(frame));
    } else if (type == "inertial") {
        if (!hasTime || !hasRate || !hasForce) json.fail("an inertial sample has a time, angularRate and specificForce");
        events.emplace_back(sample);
    } else if (type.empty()) {
        json.fail("a line without a type");
    }  // lines of other types are left for later versions of the format
}

}  // namespace

Recording parseRecording(std::string_view text) {
    Recording recording;
    Scratch scratch;
    std::size_t line = 0, begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view content = text.substr(begin, end - begin);
        begin = end + 1;
        ++line;
        if (content.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        try {
            JsonScanner json(content);
            if (recording.environment.empty())
                header(json, recording);
            else
                event(json, recording, recording.events, line, scratch);
            json.end();
        } catch (const std::runtime_error& error) {
            throw std::runtime_error("recording line " + std::to_string(line) + ", " + error.what());
        }
    }
    // Blank lines alone are no recording either: a recording starts with its header.
    if (recording.environment.empty()) throw std::runtime_error("the recording is empty");
    for (const RecordedEvent& e : recording.events) recording.frames += std::holds_alternative<RecordedFrame>(e);
    return recording;
}

}  // namespace Lumetra::Tools
