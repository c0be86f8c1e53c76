#pragma once
// Header-only helpers for C++ hosts of libLumetraVeskEnvironmentHorizontalGrid.so: load the
// library with a clear error, hold references that release themselves (Ref), collect out-arrays
// into std::vector (OutArray), turn result codes into messages, and call the matching, tracking
// and tracker faces with plain C++ values. Every failure throws Lumetra::Host::Error (its code and
// the library's message). Camera models (pixels to rays) come with it:
// LumetraVeskEnvironmentHorizontalGridCamera.h.
//
//     Lumetra::Host::Library library;                        // LUMETRA_LIBRARY_PATH, or a path
//     auto environment = library.createEnvironment(code);   // Ref<IEnvironment>
//     std::vector<Vector3> positions = Lumetra::Host::markerPositions(*environment);
//     Lumetra::Host::Match found = Lumetra::Host::match(*environment, rays);   // found.markerIndices
//     auto tracking = Lumetra::Host::trackingFace(*environment);
//     Lumetra::Host::PoseResult pose = Lumetra::Host::identify(*tracking, rays);  // pose.report.covariance[i][j]
//     Lumetra::Host::Tracker tracker(*environment, {camera});  // the inertial tracker, one camera
//
// The library stays loaded for the life of the process, so interfaces never outlive their code.

#include <dlfcn.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "LumetraVeskEnvironmentHorizontalGridCamera.h"

#ifndef LUMETRA_LIBRARY_PATH
// The file name alone: dlopen then searches LD_LIBRARY_PATH and the system's library folders.
#define LUMETRA_LIBRARY_PATH "libLumetraVeskEnvironmentHorizontalGrid.so"
#endif

namespace Lumetra::Host {

using InterfaceContract::ArrayInMarshaler;
using InterfaceContract::ArrayOutMarshaler;
using InterfaceContract::ExceptionCode;
using InterfaceContract::IExceptionData;
using InterfaceContract::IUnsafe;
using InterfaceContract::LongBool;
using Vesk::Environment::IEnvironment;
using Vesk::Environment::MarkerIndex;
using Vesk::Environment::MarkerNotFound;
using Vesk::Environment::MarkerUnidentified;
using Vesk::Environment::HorizontalGrid::ILibrary;
using Vesk::Environment::HorizontalGrid::InertialSample;
using Vesk::Environment::HorizontalGrid::ITracker;
using Vesk::Environment::HorizontalGrid::ITrackerFactory;
using Vesk::Environment::HorizontalGrid::ITrackingEnvironment;
using Vesk::Environment::HorizontalGrid::PoseMethod;
using Vesk::Environment::HorizontalGrid::PoseReport;
using Vesk::Environment::HorizontalGrid::TrackerSettings;
using Vesk::Environment::HorizontalGrid::TrackerState;
using Vesk::Environment::HorizontalGrid::TrackerStatus;

/// The name of a result code, e.g. "InvalidPointer".
inline const char* codeName(ExceptionCode code) {
    switch (code) {
        case ExceptionCode::Ok: return "Ok";
        case ExceptionCode::NoInterface: return "NoInterface";
        case ExceptionCode::InvalidPointer: return "InvalidPointer";
        case ExceptionCode::Failed: return "Failed";
        case ExceptionCode::OutOfMemory: return "OutOfMemory";
        case ExceptionCode::InvalidArgument: return "InvalidArgument";
    }
    return "unknown result";
}

/// A failed load or call: the result code (Failed for a library that would not load) and the
/// message, the calling thread's message of the library or the loader's text.
class Error : public std::runtime_error {
public:
    Error(ExceptionCode code, const std::string& message)
        : std::runtime_error(describe(code, message)), code_(code), message_(message) {}

    ExceptionCode code() const noexcept { return code_; }
    const std::string& message() const noexcept { return message_; }

private:
    static std::string describe(ExceptionCode code, const std::string& message) {
        char number[16];
        std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(code));
        return std::string(codeName(code)) + " (" + number + "): " + message;
    }

    ExceptionCode code_;
    std::string message_;
};

/// Receives one out-array: pass marshaler() to the call, then take() the elements.
template <class T>
class OutArray {
public:
    ArrayOutMarshaler::Intermediate marshaler() noexcept { return {this, &OutArray::allocate}; }

    /// The delivered elements; throws Error(OutOfMemory) when they could not be stored.
    std::vector<T> take() {
        if (failed_) throw Error(ExceptionCode::OutOfMemory, "no memory for an out-array");
        return std::move(elements_);
    }

private:
    static void* allocate(void* context, std::uint32_t count) noexcept {
        auto& self = *static_cast<OutArray*>(context);
        try {
            self.elements_.resize(count);
        } catch (...) {  // nothing may be thrown across the library: decline the data, report later
            self.failed_ = true;
            return nullptr;
        }
        return self.elements_.data();
    }

    std::vector<T> elements_;
    bool failed_ = false;
};

/// An in-array view of `elements` (they must outlive the call).
template <class T>
ArrayInMarshaler::Intermediate from(const std::vector<T>& elements) {
    if (elements.size() > UINT32_MAX) throw std::length_error("more than 2^32 - 1 elements");
    return {elements.data(), static_cast<std::uint32_t>(elements.size())};
}
inline ArrayInMarshaler::Intermediate from(std::string_view text) {
    if (text.size() > UINT32_MAX) throw std::length_error("more than 2^32 - 1 bytes");
    return {text.data(), static_cast<std::uint32_t>(text.size())};
}

/// The calling thread's message about its last failure, read through `object`.
inline std::string lastMessage(IUnsafe& object) {
    void* exceptionData = nullptr;  // not reference counted: never released
    if (object.QueryInterface(IExceptionData::interfaceId, &exceptionData) != ExceptionCode::Ok) return {};
    OutArray<char> text;
    if (static_cast<IExceptionData*>(exceptionData)->getMessage(text.marshaler()) != ExceptionCode::Ok) return {};
    const std::vector<char> bytes = text.take();
    return {bytes.begin(), bytes.end()};
}

/// Throws Error with the thread's message unless `code` is Ok.
inline void check(ExceptionCode code, IUnsafe& object) {
    if (code != ExceptionCode::Ok) throw Error(code, lastMessage(object));
}

/// Holds one reference to an interface and releases it when destroyed. Copies add a reference.
template <class T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : pointer_(other.pointer_) {
        if (pointer_) pointer_->AddRef();
    }
    Ref(Ref&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~Ref() { reset(); }

    void reset() noexcept {
        if (T* old = std::exchange(pointer_, nullptr)) old->Release();
    }
    /// The slot for a call that hands out a reference; whatever was held is released first.
    T** put() noexcept {
        reset();
        return &pointer_;
    }

    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    T& operator*() const noexcept { return *pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

private:
    T* pointer_ = nullptr;
};

/// The loaded shared library. Never unloaded: objects made from it may live on.
class Library {
public:
    explicit Library(const std::string& path = LUMETRA_LIBRARY_PATH) : path_(path) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) throw Error(ExceptionCode::Failed, "cannot load " + path + ": " + loaderError());
        entry_ = reinterpret_cast<GetLibraryInterfaceFunction>(dlsym(handle, "getLibraryInterface"));
        if (entry_ == nullptr)
            throw Error(ExceptionCode::Failed, "no getLibraryInterface in " + path + ": " + loaderError());
    }

    const std::string& path() const noexcept { return path_; }

    /// A new library object (ILibrary).
    Ref<ILibrary> create() const {
        Ref<ILibrary> library;
        const ExceptionCode code = entry_(nullptr, library.put());
        if (code != ExceptionCode::Ok) throw Error(code, "getLibraryInterface failed");
        return library;
    }

    /// An environment made from its code by a new library object.
    Ref<IEnvironment> createEnvironment(std::string_view code) const {
        const Ref<ILibrary> library = create();
        Ref<IEnvironment> environment;
        check(library->createEnvironment(from(code), environment.put()), *library);
        return environment;
    }

private:
    static std::string loaderError() {
        const char* text = dlerror();
        return text ? text : "unknown loader error";
    }

    std::string path_;
    GetLibraryInterfaceFunction entry_ = nullptr;
};

/// The environment's marker positions, three per bar; a marker's index is its number.
inline std::vector<Vector3> markerPositions(IEnvironment& environment) {
    OutArray<Vector3> result;
    check(environment.getMarkers(result.marshaler()), environment);
    return result.take();
}
[[deprecated("renamed markerPositions: Match::markerIndices holds the numbers a frame's rays show")]]
inline std::vector<Vector3> markers(IEnvironment& environment) { return markerPositions(environment); }

/// What IEnvironment::match found.
struct Match {
    bool matched = false;
    Pose pose{};                             ///< the tracker's pose when matched
    std::vector<MarkerIndex> markerIndices;  ///< one per ray when matched (MarkerNotFound, MarkerUnidentified)
};

/// Identifies the rays of one frame (unit directions in the tracker's frame).
inline Match match(IEnvironment& environment, const std::vector<Vector3>& rays) {
    Match result;
    OutArray<MarkerIndex> markerIndices;
    LongBool matched = LongBool::False;
    check(environment.match(from(rays), markerIndices.marshaler(), &result.pose, &matched), environment);
    result.markerIndices = markerIndices.take();
    result.matched = matched == LongBool::True;
    return result;
}

/// Identifies the rays when the tracker's position is known: one marker index per ray.
inline std::vector<MarkerIndex> matchByPosition(IEnvironment& environment, const std::vector<Vector3>& rays,
                                                const Vector3& position) {
    OutArray<MarkerIndex> result;
    check(environment.matchByPosition(from(rays), position, result.marshaler()), environment);
    return result.take();
}

/// Another face of the object behind `object`, found by QueryInterface; throws Error(NoInterface)
/// naming `what` when the library has none (an older build).
template <class T>
Ref<T> queryFace(IUnsafe& object, const char* what) {
    Ref<T> face;
    const ExceptionCode code = object.QueryInterface(T::interfaceId, reinterpret_cast<void**>(face.put()));
    if (code == ExceptionCode::NoInterface)
        throw Error(code, std::string("this library has no ") + what + ": is it an older build?");
    check(code, object);
    return face;
}

/// The environment's tracking face (identify, track, refinePose).
inline Ref<ITrackingEnvironment> trackingFace(IEnvironment& environment) {
    return queryFace<ITrackingEnvironment>(environment, "tracking face (ITrackingEnvironment)");
}

/// A pose covariance, 6 x 6 over (x, y, z, rx, ry, rz): position in the environment's frame
/// (length units squared), then the rotation error as a small rotation vector in that frame
/// (radians squared). covariance[i][j], symmetric.
using Covariance = std::array<std::array<float, 6>, 6>;

/// The covariance from the library's packed upper triangle (row by row, 21 floats).
inline Covariance unpackCovariance(const float (&packed)[21]) {
    Covariance full{};
    for (std::size_t row = 0, k = 0; row < 6; ++row)
        for (std::size_t column = row; column < 6; ++column, ++k) full[row][column] = full[column][row] = packed[k];
    return full;
}

/// A PoseReport, unpacked.
struct Report {
    std::uint32_t numberedRays = 0, supportingRays = 0;
    PoseMethod method = Vesk::Environment::HorizontalGrid::PoseMethodIdentify;
    float rmsAngle = 0, maxAngle = 0;  ///< radians, over the supporting rays
    Covariance covariance{};

    /// A report that the library filled. Throws std::invalid_argument for structSize 0: the
    /// library writes nothing into such a report, so its zeros would read as a real answer.
    static Report of(const PoseReport& report) {
        if (report.structSize == 0)
            throw std::invalid_argument("a PoseReport with structSize 0 is never filled: set structSize = sizeof(PoseReport)");
        return {report.numberedRays, report.supportingRays, static_cast<PoseMethod>(report.method), report.rmsAngle,
                report.maxAngle, unpackCovariance(report.covariance)};
    }
};

/// A report for the library to fill: structSize set to the whole layout.
inline PoseReport emptyReport() {
    PoseReport report{};
    report.structSize = sizeof(PoseReport);
    return report;
}

/// What identify, track, refinePose and Tracker::addFrame found.
struct PoseResult {
    bool found = false;
    Pose pose{};                             ///< when found
    std::vector<MarkerIndex> markerIndices;  ///< one per ray when found (identify, track, addFrame); empty otherwise
    Report report;                           ///< the method, and zeros when not found
};

namespace Details {
template <class Call>
PoseResult poseCall(IUnsafe& face, const Pose& start, Call call) {
    PoseResult result;
    result.pose = start;
    OutArray<MarkerIndex> markerIndices;
    PoseReport report = emptyReport();
    LongBool found = LongBool::False;
    check(call(markerIndices.marshaler(), &result.pose, &report, &found), face);
    result.found = found == LongBool::True;
    result.markerIndices = markerIndices.take();
    result.report = Report::of(report);
    if (!result.found) result.pose = start;
    return result;
}
}  // namespace Details

/// Identifies the rays of one frame without a prior (tolerates noise, drops and stray rays).
inline PoseResult identify(ITrackingEnvironment& face, const std::vector<Vector3>& rays) {
    return Details::poseCall(face, Pose{{0, 0, 0}, {0, 0, 0, 1}}, [&](auto markers, Pose* pose, PoseReport* report, LongBool* found) {
        return face.identify(from(rays), markers, pose, report, found);
    });
}

/// Follows the tracker from `predicted`, its pose expected for this frame.
inline PoseResult track(ITrackingEnvironment& face, const std::vector<Vector3>& rays, const Pose& predicted) {
    return Details::poseCall(face, predicted, [&](auto markers, Pose* pose, PoseReport* report, LongBool* found) {
        return face.track(from(rays), &predicted, markers, pose, report, found);
    });
}

/// The least-squares pose from rays whose marker numbers are given, started at `start`.
inline PoseResult refinePose(ITrackingEnvironment& face, const std::vector<Vector3>& rays,
                             const std::vector<MarkerIndex>& markerIndices, const Pose& start) {
    PoseResult result = Details::poseCall(face, start, [&](auto, Pose* pose, PoseReport* report, LongBool* found) {
        return face.refinePose(from(rays), from(markerIndices), pose, report, found);
    });
    if (result.found) result.markerIndices = markerIndices;
    return result;
}

/// TrackerSettings with each camera's mount (at most 8) and the library's defaults elsewhere.
inline TrackerSettings trackerSettings(const std::vector<Camera>& cameras) {
    if (cameras.size() > 8) throw std::invalid_argument("a tracker takes at most 8 cameras");
    TrackerSettings settings{};
    settings.structSize = sizeof(TrackerSettings);
    settings.cameraCount = static_cast<std::uint32_t>(cameras.size());
    for (std::size_t i = 0; i < cameras.size(); ++i) settings.cameras[i] = cameras[i].mount();
    return settings;
}

/// The tracker's estimate at one time (TrackerState, unpacked).
struct State {
    TrackerStatus status = Vesk::Environment::HorizontalGrid::TrackerLost;
    double time = 0;
    Pose pose{};               ///< meaningful unless Lost
    Vector3 velocity{};        ///< environment frame, units/s
    Vector3 angularRate{};     ///< tracker frame, rad/s
    Covariance covariance{};   ///< of the pose, as Report::covariance
};

/// The inertial tracker (ITracker) on an environment: one thread at a time per tracker.
class Tracker {
public:
    /// A tracker with these cameras (their mounts; none: one camera at the tracker's origin) and
    /// the library's default noise settings.
    explicit Tracker(IEnvironment& environment, const std::vector<Camera>& cameras = {})
        : Tracker(environment, trackerSettings(cameras)) {}
    Tracker(IEnvironment& environment, const TrackerSettings& settings) {
        const Ref<ITrackerFactory> factory = queryFace<ITrackerFactory>(environment, "inertial tracker (ITrackerFactory)");
        check(factory->createTracker(&settings, tracker_.put()), *factory);
    }

    /// Inertial samples, strictly later than every sample given before.
    void addInertial(const std::vector<InertialSample>& samples) { check(tracker_->addInertial(from(samples)), *tracker_); }

    /// One frame of camera `camera` at `time` (mid-exposure, the samples' clock): rays in that
    /// camera's frame (Camera::cameraRay, or ray() of a camera without a mount). found: numbered and fused.
    PoseResult addFrame(double time, std::uint32_t camera, const std::vector<Vector3>& rays) {
        PoseResult result = Details::poseCall(*tracker_, Pose{}, [&](auto markers, Pose*, PoseReport* report, LongBool* found) {
            return tracker_->addFrame(time, camera, from(rays), markers, report, found);
        });
        if (result.found) result.pose = state(time).pose;
        return result;
    }

    /// The estimate at `time`: from the newest frame's time up to 0.1 s past the newest input.
    State state(double time) {
        TrackerState raw{};
        raw.structSize = sizeof(TrackerState);
        check(tracker_->getState(time, &raw), *tracker_);
        return {static_cast<TrackerStatus>(raw.status), raw.time, raw.pose,
                {raw.velocity[0], raw.velocity[1], raw.velocity[2]},
                {raw.angularRate[0], raw.angularRate[1], raw.angularRate[2]}, unpackCovariance(raw.covariance)};
    }

    /// Back to Lost, settings kept.
    void reset() { check(tracker_->reset(), *tracker_); }

    ITracker& face() const noexcept { return *tracker_; }

private:
    Ref<ITracker> tracker_;
};

}  // namespace Lumetra::Host
