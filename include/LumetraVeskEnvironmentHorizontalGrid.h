#pragma once
// Host interface of libLumetraVeskEnvironmentHorizontalGrid.so, the horizontal grid tracking
// environment.
//
// The library exports one C function, getLibraryInterface, which hands out an ILibrary. Every
// other call goes through interface pointers: the address of an object whose first machine word
// points to a table of functions in the slot order declared below. Each function takes the
// interface pointer as its first argument and follows the platform's C calling convention
// (x86-64 System V), so the structs below are the function tables a host of any language calls.
//
// Frames, for every call:
// - The environment's frame is right-handed (x cross y = z) with y pointing up; the grid lies in
//   the x-z plane, centred on the origin, its markers at one height y. Seen from above, x points
//   right and z down the page. Lengths are in the environment code's units (metres in practice).
// - Rays are directions in the tracker's own frame (also right-handed). A tracker is level when its
//   y axis is the environment's: a floor tracker's camera then looks along its -y axis (down at the
//   markers), a ceiling tracker's along +y (up). Rays that point away from the marker plane show
//   nothing. A z-forward camera (OpenCV's axes) is turned into that frame by a rotation: see
//   cameraLookingDown / cameraLookingUp in LumetraVeskEnvironmentHorizontalGridCamera.h.
// - Quaternions are four floats x, y, z, w: the vector part first, the scalar last (Hamilton
//   convention; a rotation by angle a about unit axis u is (u sin(a/2), cos(a/2))). A pose
//   (LumetraMath::poseP3Q<float>) is the position (3 floats) then the rotation (4 floats); its
//   rotation turns tracker-frame vectors into environment-frame vectors, and its position is the
//   tracker's origin in the environment.
// - Angles are radians.
// Structs the host fills for the library to write (PoseReport, TrackerState) and settings it passes
// (TrackerSettings) begin with structSize, the bytes the host provides: sizeof of this header's
// layout, or less for an older one. The library writes only whole fields within structSize; a
// report left at structSize 0 (e.g. value-initialised) is never written, so it keeps its zeros
// and must not be read as an answer. Settings at structSize 0 take every default.
//
// General rules, valid for every operation unless its comment says otherwise:
// - Every operation except AddRef and Release returns an ExceptionCode. Nothing is ever thrown
//   across the boundary.
// - On failure nothing is written to any out parameter, out slot or out array, and the calling
//   thread's message (IExceptionData::getMessage) describes the failure. A success leaves the
//   message as it was.
// - Pointers to results (LongBool*, pose, interface slots) must not be null; a null one is
//   rejected with InvalidPointer before any work is done.
// - In-arrays are copied during the call; the library never keeps their pointers.
// - Out-arrays are delivered through the host's allocator, called exactly once per successful
//   call (also for zero elements); the memory it returns belongs to the host.
// - Interfaces returned through a slot carry one reference owned by the host. Before storing,
//   the library releases a different non-null interface already in the slot, so pass a slot that
//   is null or whose content you mean to give up.
// - Threads: the library starts no threads and takes no locks. Reference counts are atomic, so
//   AddRef and Release may be called from any thread. Environments never change after creation,
//   so their queries may run concurrently from several threads. The error message is kept per
//   thread: a failure on one thread never changes what another thread reads.
//
// Documented limits: an environment's grid may have at most 16,777,216 cells (4096 x 4096), and
// each side of the grid must be below 2^31 cells; larger grids are rejected by createEnvironment,
// and so is a code whose feature catalogue would examine more than 20,000,000 groups of bars
// (about five seconds of work on one core; a fully dense 36 x 36 grid examines 18.5 million).
// Every geometry value must be finite and within +-1e6, bar length and cell size at least 1e-6;
// every bar must lie inside the grid, one bar per cell.
// IEnvironment::match searches frames of at most MaxMatchRays (512) rays.

#include <cstdint>

#include "math/Pose.h"

namespace Lumetra::InterfaceContract {

/// 16-byte interface identifier with the layout of a GUID (fields little-endian). Two
/// identifiers are equal when all 16 bytes are equal.
struct InterfaceID {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];

    friend constexpr bool operator==(const InterfaceID&, const InterfaceID&) = default;
};
static_assert(sizeof(InterfaceID) == 16);

/// 32-bit result code of every operation except AddRef and Release.
enum class ExceptionCode : std::uint32_t {
    Ok = 0x00000000,
    NoInterface = 0x80004002,      ///< QueryInterface: the object has no such interface
    InvalidPointer = 0x80004003,   ///< a required pointer argument was null
    Failed = 0x80004005,           ///< any other failure (e.g. an unreadable environment code)
    OutOfMemory = 0x8007000E,      ///< memory could not be allocated
    InvalidArgument = 0x80070057,  ///< an argument was out of its valid range
};

/// 32-bit boolean: the library writes false as 0 and true as 0xFFFFFFFF, never anything else.
enum class LongBool : std::uint32_t {
    False = 0x00000000,
    True = 0xFFFFFFFF,
};

/// An array the host passes in. The library copies `size` elements starting at `data` during
/// the call. `data` may be null only when `size` is 0.
struct ArrayInMarshaler {
    struct Intermediate {
        const void* data;
        std::uint32_t size;  ///< number of elements, not bytes
    };
};

/// An array the library hands back. The library computes the whole result first, then calls
/// `allocate(context, count)` exactly once with the number of elements (possibly 0). If the
/// returned pointer is non-null and count > 0, it copies count elements there. Returning null
/// declines the data; the call still succeeds. The memory belongs to the host: the library
/// neither frees nor keeps it. `allocate` must not be null; it runs on the calling thread, must
/// not throw, and must not call back into the library object it is serving.
struct ArrayOutMarshaler {
    using AllocateFunction = void* (*)(void* context, std::uint32_t count);

    struct Intermediate {
        void* context;  ///< opaque to the library, passed back to allocate
        AllocateFunction allocate;
    };
};

/// Base of all interfaces: lookup of the other interfaces of the same object.
struct IUnsafe {
    static constexpr InterfaceID interfaceId{
        0xFFFFFFFF, 0xFFFF, 0xFFFF, {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64}};

    /// Looks up interface `id` of this object and stores it into *result. The same identifier
    /// always yields the same pointer, whichever interface of the object is asked. The returned
    /// interface carries one new reference, except IExceptionData, which is not counted and
    /// stays valid as long as the object lives.
    /// Ok; NoInterface (*result set to null); InvalidPointer when result is null (nothing stored).
    virtual ExceptionCode QueryInterface(const InterfaceID& id, void** result) = 0;

protected:
    ~IUnsafe() = default;  // objects are destroyed by Release, never by the host
};

/// Reference-counted interface. An object lives until its last reference is released.
struct IInterface : IUnsafe {
    static constexpr InterfaceID interfaceId{
        0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

    /// Adds a reference; returns the new count (for diagnostics only). Never fails.
    virtual std::uint32_t AddRef() = 0;
    /// Drops a reference; returns the new count. At 0 the object is deleted and every interface
    /// pointer obtained from it becomes invalid. Never fails.
    virtual std::uint32_t Release() = 0;

protected:
    ~IInterface() = default;
};

/// The calling thread's error message, shared by all objects of the library. Obtained through
/// QueryInterface without a reference: never call Release on it.
struct IExceptionData : IUnsafe {
    static constexpr InterfaceID interfaceId{
        0x97122FF5, 0xCEAA, 0x4C40, {0x96, 0x27, 0x12, 0xAA, 0xB7, 0x4A, 0x5D, 0xAF}};

    /// Delivers the text of the calling thread's last failure (bytes, no terminating zero;
    /// empty if none) by the out-array protocol. Ok, or Failed (message unchanged).
    virtual ExceptionCode getMessage(ArrayOutMarshaler::Intermediate message) = 0;
    /// Replaces the calling thread's message with `message` (bytes, no terminating zero).
    /// Ok, or Failed (e.g. null data with nonzero size; message unchanged).
    virtual ExceptionCode setMessage(ArrayInMarshaler::Intermediate message) = 0;

protected:
    ~IExceptionData() = default;
};

}  // namespace Lumetra::InterfaceContract

namespace Lumetra::Vesk::Environment {

using InterfaceContract::ArrayInMarshaler;
using InterfaceContract::ArrayOutMarshaler;
using InterfaceContract::ExceptionCode;
using InterfaceContract::IInterface;
using InterfaceContract::InterfaceID;
using InterfaceContract::LongBool;

/// Identification of one ray: the number of the environment marker it shows (marker k = 0, 1, 2
/// of the bar at list position b has number 3b + k, its index in getMarkers), or one of the two
/// special values below.
using MarkerIndex = std::uint32_t;
/// The ray was not part of an identified bar, and no marker or more than one lies near it.
inline constexpr MarkerIndex MarkerNotFound = 0xFFFFFFFE;
/// The ray was not identified, or its marker number collided with another ray's.
inline constexpr MarkerIndex MarkerUnidentified = 0xFFFFFFFF;

/// The largest frame IEnvironment::match searches; a larger frame yields False at once, because
/// the search for bar-shaped marker triples grows with the cube of the ray count.
inline constexpr std::uint32_t MaxMatchRays = 512;

/// A tracking environment. Environments never change after creation and may be queried from
/// several threads at once. Vectors are three IEEE-754 floats x, y, z (12 bytes); in the
/// environment's frame y points up and the grid lies in the x-z plane, centred at the origin.
struct IEnvironment : IInterface {
    static constexpr InterfaceID interfaceId{
        0xC257C858, 0xF296, 0x43B7, {0xB6, 0xB5, 0xC1, 0x4B, 0x9A, 0xFB, 0x1A, 0x13}};

    /// Whether the environment may change over time: always False for this environment.
    /// Ok; InvalidPointer when result is null.
    virtual ExceptionCode isMutable(LongBool* result) = 0;

    /// Delivers the 3D positions of all markers (LumetraMath::vector<float, 3>, 12 bytes each),
    /// three per bar in bar order, by the out-array protocol.
    /// Ok; InvalidPointer when allocate is null; OutOfMemory.
    virtual ExceptionCode getMarkers(ArrayOutMarshaler::Intermediate result) = 0;

    /// Whether `ray` can show a marker, judged by the sign of its dot product with `reference`
    /// (reversed for an environment under a ceiling). Ok; InvalidPointer when result is null.
    virtual ExceptionCode filterRay(LumetraMath::vector<float, 3> ray,
                                    LumetraMath::vector<float, 3> reference, LongBool* result) = 0;

    /// Identifies the rays of one camera frame (`rays`: LumetraMath::vector<float, 3> directions
    /// in the tracker's frame) and finds the tracker's pose in the environment's frame.
    /// On Ok: *result is True when the identification is complete and consistent; the pose is
    /// written in place (its rotation turns tracker-frame vectors into environment-frame
    /// vectors) and markerIndices receives one MarkerIndex (4 bytes) per ray, in ray order.
    /// The pose is the least-squares fit of every numbered ray to its marker. An identification
    /// counts only when that pose confirms it: at least half of the rays it could number are
    /// numbered, and every numbered ray, cast from the pose fitted to the other rays alone, crosses
    /// the marker plane within a quarter of the smallest marker spacing of its marker (right
    /// numbers miss by the ray noise times the distance, wrong ones by about a marker spacing) and
    /// misses its marker by at most four standard deviations of the residual noise (the residual
    /// variance of ITrackingEnvironment's PoseReport::covariance). Rays that miss by more get
    /// MarkerNotFound instead (all such rays at once, the pose refitted, up to 4 rounds); a
    /// recognised bar's ray beyond the noise bound rejects the bars. A ray numbered from the pose
    /// that two standard deviations of the noise carry beyond half the smallest spacing on the
    /// plane (a grazing ray) is ambiguous: it gets MarkerNotFound and counts as no ray. A
    /// ray travelling away from the marker plane is never numbered; a ray given twice (the same
    /// direction within a micro-radian) is numbered once, its repeats get MarkerNotFound and
    /// count as no rays. When *result is False, the allocator is
    /// still called once: with the ray count when an identification was found but two rays claimed
    /// the same marker (those entries hold MarkerUnidentified; the pose is written, fitted without
    /// them), otherwise (no identification, or none its pose confirms) with 0 and the pose left
    /// untouched.
    /// Frames of more than MaxMatchRays rays are not searched: *result is False at once.
    /// InvalidPointer when pose, result or allocate is null, or rays.data is null with a
    /// nonzero size; OutOfMemory. On failure *result and the out array are not written.
    virtual ExceptionCode match(ArrayInMarshaler::Intermediate rays,
                                ArrayOutMarshaler::Intermediate markerIndices,
                                LumetraMath::poseP3Q<float>* pose, LongBool* result) = 0;

    /// Identifies the rays when the tracker's position in the environment's frame is known:
    /// delivers one MarkerIndex per ray, in ray order (MarkerNotFound where no single marker
    /// lies near the ray's hit point on the marker plane, or the ray travels away from the plane).
    /// Ok; InvalidPointer when allocate is null or rays.data is null with a nonzero size;
    /// OutOfMemory.
    virtual ExceptionCode matchByPosition(ArrayInMarshaler::Intermediate rays,
                                          LumetraMath::vector<float, 3> position,
                                          ArrayOutMarshaler::Intermediate result) = 0;

protected:
    ~IEnvironment() = default;
};

/// Creates environments from environment codes.
struct IEnvironmentConstructor : IInterface {
    static constexpr InterfaceID interfaceId{
        0xB691107E, 0xD628, 0x4C62, {0x80, 0x03, 0xE4, 0xD7, 0x84, 0xB3, 0x42, 0xE7}};

    /// Creates an environment from `environmentCode` (base64 text, bytes without a terminating
    /// zero) and stores its IEnvironment into *result with one reference owned by the host; a
    /// different interface already in *result is released first. The environment does not
    /// refer to the object that made it and may outlive it.
    /// Ok; Failed for an unreadable code (see getMessage); InvalidArgument for values out of
    /// range; InvalidPointer when result is null or the code's data is null with a nonzero
    /// size; OutOfMemory. On failure *result is left as it was.
    virtual ExceptionCode createEnvironment(ArrayInMarshaler::Intermediate environmentCode,
                                            IEnvironment** result) = 0;

protected:
    ~IEnvironmentConstructor() = default;
};

}  // namespace Lumetra::Vesk::Environment

namespace Lumetra::Vesk::Environment::HorizontalGrid {

/// The library object: an IEnvironmentConstructor for horizontal grid environments. Each call of
/// getLibraryInterface creates a new, independent one.
struct ILibrary : IEnvironmentConstructor {
    static constexpr InterfaceID interfaceId{
        0x14A7B13F, 0xB51C, 0x46B3, {0xAB, 0xF7, 0x62, 0x3D, 0xB3, 0xA9, 0xFB, 0x86}};

protected:
    ~ILibrary() = default;
};

/// What identify, track and refinePose tell about the pose they found. The host sets structSize
/// to the number of bytes it provides (sizeof(PoseReport) for this layout, less for an older,
/// shorter one); the library writes only the whole fields that end within structSize (the
/// covariance array is one field: all 21 entries or none), never structSize itself, and nothing
/// when structSize is 0 or the report pointer is null.
/// On a False result the fields that fit are written too: method as below, everything else 0.
struct PoseReport {
    std::uint32_t structSize;
    std::uint32_t numberedRays;    ///< rays given a marker number
    std::uint32_t supportingRays;  ///< rays the final pose rests on (the numbered rays the last fit used)
    std::uint32_t method;          ///< a PoseMethod: which way the answer was found
    float rmsAngle, maxAngle;      ///< radians, over the supporting rays: angle between each ray and its marker
    /// Covariance of the pose, 6 x 6, upper triangle row by row (entries (0,0), (0,1) .. (0,5),
    /// (1,1) .. (5,5)), order (x, y, z, rx, ry, rz): the position in the world frame (length
    /// units squared), then the rotation error as a small rotation vector in the world frame
    /// (radians squared), applied as rotation <- exp(r) * rotation. It is the inverse of the
    /// Gauss-Newton normal matrix of the final fit, times the residual variance of one ray
    /// component: (4 s0^2 + S) / (4 + 2N - 6), where S is the sum of the squared ray residuals
    /// (sines of the angle components) of the N supporting rays and s0 = 8.7e-4 rad (0.05 deg)
    /// the noise of a camera in use, counted as four degrees of freedom beside the fit's 2N - 6.
    /// A fit of few rays thus rests on that noise and one of many rays on its own spread. That
    /// variance being an estimate, the product is scaled by m / (m - 2), the covariance of the
    /// Student t law the error then follows, for the estimate's degrees of freedom
    /// m = (4 + 2N - 6)^2 / (2N - 6) (no scaling for three rays, which rest on s0 alone). From five
    /// rays that scaled variance is never below S / (2N - 8): the fit's own estimate S / (2N - 6),
    /// widened the same way for its own 2N - 6 degrees of freedom, so that a camera noisier than s0
    /// is reported by its own spread and not pulled down towards s0. identify and track gate the
    /// rays, which cuts the noise of a ray far out on the plane: one where four standard
    /// deviations of the residual variance carry its hit beyond a fifth of the smallest marker
    /// spacing. When a supporting ray lies that far out, they scale the covariance up, where that
    /// gives more, to the spread of the k other supporting rays (k >= 5): the sum of their squared
    /// leave-one-out residuals (each over its share of the fit) over 2k - 2.
    float covariance[21];
};
static_assert(sizeof(PoseReport) == 108);

/// PoseReport::method.
enum PoseMethod : std::uint32_t {
    PoseMethodIdentify = 0,            ///< identify
    PoseMethodTrack = 1,               ///< track, from the predicted pose
    PoseMethodTrackFellBack = 2,       ///< track, whose prediction did not hold: identified afresh
    PoseMethodRefine = 3,              ///< refinePose
    PoseMethodTrackerPredicted = 4,    ///< ITracker::addFrame: numbered from the tracker's own prediction
    PoseMethodTrackerIdentified = 5,   ///< ITracker::addFrame: identified afresh (levelled by gravity
                                       ///< when the tracker knows it)
};

/// Pose estimation for tracking hosts: identification without a prior that tolerates noise,
/// dropped markers and stray rays, tracking from a predicted pose, and a least-squares pose with
/// its covariance from given marker numbers. Found on an environment by QueryInterface with
/// ITrackingEnvironment::interfaceId; IEnvironment is unchanged.
///
/// Common rules of the three calls:
/// - Rays are LumetraMath::vector<float, 3> directions in the tracker's frame (y up when level),
///   of any finite nonzero length (they are normalised). A ray with a non-finite component or of
///   zero length is never numbered and takes no part. identify and track take a ray given twice
///   (the same direction within a micro-radian) once, as the first of its copies: the repeats
///   are MarkerNotFound.
/// - The pose is the tracker's position in the environment's frame (y up, the grid centred on
///   the origin, units of the environment code) and the unit quaternion that turns tracker-frame
///   vectors into environment-frame vectors.
/// - On Ok with *result True: *pose holds the pose (finite, unit rotation), the report is filled,
///   and markerIndices (identify, track) receives one MarkerIndex per ray, in ray order:
///   a marker number where the ray passes within a fifth of the smallest marker spacing of that
///   marker (on the marker plane) and the pose fitted to the other numbered rays alone confirms
///   it: cast from that pose the ray crosses the marker plane within a quarter of the smallest
///   marker spacing of the marker, and misses the marker by at most four standard deviations of
///   the noise model (the residual variance of PoseReport::covariance); MarkerNotFound elsewhere.
///   No two rays carry the same number. A pose is reported only when the residual spread of its
///   rays (that variance's root) is at most four times 8.7e-4 rad and its position's standard
///   deviation (the root of the covariance's position trace) at most half the smallest marker
///   spacing.
/// - On Ok with *result False: *pose is left as it was, markerIndices' allocator is called once
///   with 0, the report holds the method and zeros.
/// - On failure (any code but Ok) nothing is written: not *result, *pose, the report or the
///   out-array.
/// - Threads: the calls only read the environment; any number of threads may call them on one
///   environment at once.
/// Codes: InvalidPointer when pose or result is null, an allocator is null, or an in-array's data
/// is null with a nonzero size; InvalidArgument for the cases each call lists; OutOfMemory.
struct ITrackingEnvironment : IInterface {
    static constexpr InterfaceID interfaceId{
        0x1CA28C7F, 0x784D, 0x445C, {0xBC, 0xD9, 0xD2, 0xF7, 0xAD, 0xF1, 0xF3, 0x08}};

    /// Identifies the rays of one frame without a prior: bar-shaped triples are grouped, levelled
    /// and looked up in the environment's catalogue as IEnvironment::match does, but several
    /// hypotheses are tried, each refined by least squares and scored by the rays it explains
    /// within the bounds of the noise model above; the best one must be carried by its
    /// catalogued bars, explain two thirds of the rays its pose could number (three quarters when
    /// it rests on fewer than 12 rays), and place the tracker on the side of the marker plane the
    /// markers face. A view no hypothesis explains convincingly (four fifths of those rays) is
    /// searched on: levelled by the pose found, or by the plane its bar patterns share or the tilt
    /// of its largest group, a few rounds, in windows of the rays nearest the plane's normal first;
    /// stray rays near a bar are tolerated by a further search of the first window that admits
    /// them.
    /// Frames of more than MaxMatchRays rays are not searched (*result False).
    /// report->method is PoseMethodIdentify.
    virtual ExceptionCode identify(ArrayInMarshaler::Intermediate rays, ArrayOutMarshaler::Intermediate markerIndices,
                                   LumetraMath::poseP3Q<float>* pose, PoseReport* report, LongBool* result) = 0;

    /// Follows the tracker from `predicted` (its pose expected for this frame, e.g. the last pose
    /// or one advanced by an inertial sensor): each ray cast from the prediction takes the nearest
    /// marker within 0.45 of the smallest marker spacing, the pose is refined, rays the other rays
    /// do not confirm (the bounds above) are dropped, all rays are numbered again from the refined
    /// pose and the pose is refined and checked once more. When the prediction does not hold (fewer
    /// than 60 % of the usable rays explained, or a fit that fails), its rotation is first turned
    /// towards the rays (a prediction by the last pose while the head turns fast is off most at the
    /// edge of the view) and tried again; when that does not hold either, the frame is identified
    /// afresh as identify does and report->method is PoseMethodTrackFellBack, otherwise
    /// PoseMethodTrack.
    /// InvalidPointer also when predicted is null; InvalidArgument when it is not finite or its
    /// rotation is not a unit quaternion (norm off 1 by more than 1e-3).
    virtual ExceptionCode track(ArrayInMarshaler::Intermediate rays, const LumetraMath::poseP3Q<float>* predicted,
                                ArrayOutMarshaler::Intermediate markerIndices, LumetraMath::poseP3Q<float>* pose,
                                PoseReport* report, LongBool* result) = 0;

    /// The least-squares pose (Gauss-Newton with Levenberg-Marquardt damping, six degrees of
    /// freedom, started from *pose) from rays whose markers the host gives: markerIndices holds
    /// one MarkerIndex per ray; MarkerNotFound and MarkerUnidentified are ignored. *pose is read as
    /// the start and, on True, replaced by the result, a stationary pose: the Gauss-Newton step
    /// there (the gradient measured by the normal matrix) is below 1e-4 rad (position relative to
    /// the mean marker distance). False when fewer than three usable rays carry a number, the
    /// rays do not fix a pose (e.g. all markers on one line), a marker falls behind its ray, or no
    /// stationary pose is reached within 30 steps. Every numbered ray supports the result: no
    /// outliers are dropped, and the covariance is reported as it is (however large).
    /// report->method is PoseMethodRefine.
    /// InvalidArgument when the counts of rays and indices differ, an index names no marker of the
    /// environment, or the start pose is not finite or its rotation not a unit quaternion.
    virtual ExceptionCode refinePose(ArrayInMarshaler::Intermediate rays, ArrayInMarshaler::Intermediate markerIndices,
                                     LumetraMath::poseP3Q<float>* pose, PoseReport* report, LongBool* result) = 0;

protected:
    ~ITrackingEnvironment() = default;
};

// The inertial tracker: a stateful object made by an environment's ITrackerFactory that fuses an
// inertial sensor (optional) with the numbered rays of one or more cameras, numbers each frame from
// its own prediction and answers the tracker's pose for any time up to a short prediction.
//
// The filter: an error-state Kalman filter. Nominal state: position p and velocity v (environment
// frame), the rotation q (tracker -> environment), a rate vector b and the accelerometer bias a.
// With inertial samples b is the gyro bias; without them the filter runs on a motion model of
// constant velocity and turn rate and b is the turn rate (tracker frame). Error state (15): dp, dv,
// dtheta (a small rotation in the environment's frame, q = Exp(dtheta) q), db, da.
// - Propagation by each sample over the interval ending at its time: q <- q Exp((w - b) dt),
//   v <- v + (R(q_mid)(f - a) + g) dt with g = (0, -gravity, 0), p by the mean velocity; covariance
//   P <- F P F^T + Q with dv' = -[R(f - a)]x dtheta - R da, dtheta' = -R db, and the settings'
//   densities (noise^2 dt on dv, dtheta; walk^2 dt on db, da). The motion model drives dv and the
//   turn rate by white acceleration (0.4 units/s^2/sqrt(Hz)) and angular acceleration
//   (4 rad/s^2/sqrt(Hz)).
// - Correction, tightly by each numbered ray: the marker's direction from the camera's centre,
//   turned into the tracker's frame and projected onto two axes square to the ray, is zero with
//   rayNoise on each component; the update is iterated (re-linearised at each iterate) in the
//   pose's six dimensions and carried to velocity and biases by their correlation with the pose.
// - Numbering: each ray cast from the predicted pose takes the marker whose innovation passes the
//   chi-square test under the predicted covariance (2 degrees of freedom, 99.9 %) when no other
//   marker comes within 99.99 % (and the gate, cast exactly onto the marker plane, spans at most four
//   marker spacings); two numbered rays suffice to fuse a frame; after the update every number is judged again at the fused pose
//   (residual within the ray noise's bound, miss on the marker plane within a quarter of the
//   smallest marker spacing). When the gates are too wide to number the frame, each marker within
//   the narrowest gates (three rays) is tried: the prediction conditioned on it numbers the other
//   rays, and the hypothesis whose fused chi-square (plus a penalty per ray left unnumbered) beats
//   every other by 13.8 is taken. Otherwise the frame is identified afresh, levelled by the known
//   tilt when there is one (the estimate's, or the accelerometer's at rest).
// - History: inertial samples of the last 0.3 s are kept with the state propagated through each,
//   so a frame that lags them is fused at its own time and the later samples propagated again.
// Threads: one thread at a time per tracker; any number of trackers on one environment, each on
// its own thread. A tracker holds a reference to its environment.

/// One inertial measurement, in the tracker's frame: seconds on the host's clock (the clock of the
/// frames), angular rate (rad/s), specific force (what an accelerometer reads, units/s^2: at rest
/// it points up with the size of gravity).
struct InertialSample {
    double time;
    float angularRate[3];
    float specificForce[3];
};
static_assert(sizeof(InertialSample) == 32);

/// How a tracker is built. The host sets structSize to the bytes it provides; fields beyond it,
/// and fields left 0, take their defaults.
struct TrackerSettings {
    std::uint32_t structSize;
    std::uint32_t cameraCount;                   ///< 1..8; 0: one camera placed at the tracker's origin, unrotated
    LumetraMath::poseP3Q<float> cameras[8];      ///< each camera in the tracker's frame: its centre, and the
                                                 ///< rotation turning camera-frame vectors into tracker-frame ones
    float rayNoise;                              ///< radians: standard deviation of each of a ray's two
                                                 ///< angular error components (default 8.7e-4, i.e. 0.05 deg)
    float gyroNoise, gyroBiasWalk;               ///< rad/s/sqrt(Hz), rad/s^2/sqrt(Hz) (defaults 1.7e-4, 1.9e-5)
    float accelNoise, accelBiasWalk;             ///< units/s^2/sqrt(Hz), units/s^3/sqrt(Hz) (defaults 2e-3, 3e-3)
    float gravity;                               ///< units/s^2 (default 9.80665: the environment's units are metres)
};
static_assert(sizeof(TrackerSettings) == 256);

/// TrackerState::status.
enum TrackerStatus : std::uint32_t {
    TrackerLost = 0,      ///< no pose
    TrackerTracking = 1,  ///< a frame was fused within the last 0.25 s
    TrackerCoasting = 2,  ///< no frame fused for more than 0.25 s: prediction only (inertial, or the motion
                          ///< model without samples) until 2 s after the last fused frame, then Lost
};

/// The tracker's estimate at one time.
struct TrackerState {
    std::uint32_t structSize;            ///< set by the host, as for PoseReport
    std::uint32_t status;                ///< a TrackerStatus
    double time;                         ///< the time asked for
    LumetraMath::poseP3Q<float> pose;    ///< as everywhere: position in the environment, rotation tracker -> environment
    float velocity[3];                   ///< environment frame, units/s
    float angularRate[3];                ///< tracker frame, rad/s (bias removed)
    float covariance[21];                ///< of the pose, laid out and defined as PoseReport::covariance
};
static_assert(sizeof(TrackerState) == 152);

struct ITracker;

/// Found on an environment by QueryInterface; IEnvironment and ITrackingEnvironment are unchanged.
struct ITrackerFactory : IInterface {
    static constexpr InterfaceID interfaceId{
        0x5E0B7A31, 0x2C4D, 0x4F8E, {0x9A, 0x61, 0x3B, 0xD2, 0x47, 0xC8, 0x10, 0xE5}};
    /// slot 3. A new tracker (status Lost) holding a reference to this environment. A null settings
    /// pointer means all defaults; a camera pose left all zero is the tracker's origin, unrotated.
    /// InvalidArgument when cameraCount > 8, a camera pose is not finite or its rotation not a unit
    /// quaternion (norm off 1 by more than 1e-3), or a setting given (nonzero) lies outside its range:
    /// rayNoise 1e-6 to 0.1 rad, gyro densities 1e-9 to 1, gravity 1e-3 to 1e6, accelerometer
    /// densities 1e-9 to 10 times gravity / 9.80665. InvalidPointer when result is null; on failure
    /// *result is left as it was.
    virtual ExceptionCode createTracker(const TrackerSettings* settings, ITracker** result) = 0;

protected:
    ~ITrackerFactory() = default;
};

/// A stateful tracker: one thread at a time per tracker; any number of trackers on one environment.
struct ITracker : IInterface {
    static constexpr InterfaceID interfaceId{
        0x8F3D61C2, 0x5B7A, 0x4E19, {0xA4, 0x0E, 0x72, 0x9C, 0xD5, 0x3B, 0x86, 0xF1}};
    /// slot 3. InertialSample array, strictly increasing times, the first later than every sample
    /// given before; otherwise InvalidArgument and none of them is taken. InvalidArgument too for a
    /// value that is not finite or beyond any sensor (angular rate above 1000 rad/s, specific force
    /// above 1000 gravities). Each sample stands for the mean over the interval since the one
    /// before. InvalidPointer when samples.data is null with a nonzero size.
    virtual ExceptionCode addInertial(ArrayInMarshaler::Intermediate samples) = 0;
    /// slot 4. One camera frame: mid-exposure time, camera index, rays in that camera's frame.
    /// Frames come in time order and may lag the newest inertial sample by up to 0.25 s.
    /// markerIndices: one MarkerIndex per ray (as ITrackingEnvironment); report as PoseReport (the
    /// frame's own fit); *result True when the frame was numbered and fused. On False the allocator is
    /// called once with 0 and the report holds the method and zeros, as for ITrackingEnvironment.
    /// The report's covariance is that of the frame's own least-squares fit (the residual variance
    /// never below rayNoise^2), or for a frame fused from two rays (which fix no pose by themselves)
    /// the fused estimate's pose covariance; numberedRays = supportingRays = the rays fused. Rays are numbered
    /// as ITrackingEnvironment numbers them (MarkerNotFound for the others; no number twice).
    /// InvalidArgument: camera >= cameraCount (>= 1 when cameraCount is 0), time not finite, earlier
    /// than the previous frame (equal is allowed), or more than 0.25 s before the newest inertial sample.
    /// InvalidPointer when result or the allocator is null, or rays.data is null with a nonzero size.
    /// On failure nothing is written.
    virtual ExceptionCode addFrame(double time, std::uint32_t camera, ArrayInMarshaler::Intermediate rays,
                                   ArrayOutMarshaler::Intermediate markerIndices, PoseReport* report,
                                   LongBool* result) = 0;
    /// slot 5. The estimate at `time`, from the newest frame's time up to 0.1 s past the newest
    /// input (a prediction); otherwise InvalidArgument. While Lost (and before any input, for any
    /// finite time) it answers Ok with status Lost: only structSize, status and time are meaningful,
    /// the rest is written 0. The fields written are the whole ones that end within the host's
    /// structSize (nothing for 0), as for PoseReport. InvalidArgument for a time that is not
    /// finite; InvalidPointer for a null state; on failure nothing is written.
    virtual ExceptionCode getState(double time, TrackerState* state) = 0;
    /// slot 6. Back to Lost; settings kept; the ordering rules of samples and frames start afresh.
    virtual ExceptionCode reset() = 0;

protected:
    ~ITracker() = default;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid

extern "C" {

/// The library's one exported function. Releases `hostInterface` once if it is not null (the
/// library keeps no pointer to it), then creates a new library object and stores its ILibrary
/// into *result with one reference owned by the host; a different interface already in *result
/// is released first. Safe to call from any thread.
/// Ok; InvalidPointer when result is null; OutOfMemory (*result unchanged).
[[gnu::visibility("default")]] Lumetra::InterfaceContract::ExceptionCode getLibraryInterface(
    Lumetra::InterfaceContract::IInterface* hostInterface,
    Lumetra::Vesk::Environment::HorizontalGrid::ILibrary** result);

/// Type of getLibraryInterface, for resolving it with dlsym.
typedef Lumetra::InterfaceContract::ExceptionCode (*GetLibraryInterfaceFunction)(
    Lumetra::InterfaceContract::IInterface* hostInterface,
    Lumetra::Vesk::Environment::HorizontalGrid::ILibrary** result);

}  // extern "C"
