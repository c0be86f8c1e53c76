#pragma once
// The envelope of real cameras: what match, identify and track make of frames across fields of
// view, tracker distances, tilts, bar geometries, layout densities and ray profiles, one cell per
// combination. Every frame is scored against the truth and against the oracle pose (PoseOracle),
// on the same frames; a frame counts as identifiable when a catalogued feature of the
// environment lies wholly in view, the best any catalogue-based identifier can do. Shared by
// `evaluate --envelope` and the benchmarks.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simulation/MatchScenarios.h"

namespace Lumetra::Testing {

/// How the camera renders rays: exact; the real-camera profile (0.05 deg noise per axis, 5 % of
/// marker rays dropped, 2 stray rays a frame); 0.1 deg noise alone.
enum class RayProfile { exact, camera, noise01 };
inline constexpr const char* rayProfileNames[3] = {"exact", "camera", "noise0.1"};

struct EnvelopeCell {
    double fieldOfViewDegrees = 115;  ///< full opening angle
    double minDistance = 1.2, maxDistance = 2.0;  ///< tracker's distance from the marker plane, metres
    double maxTiltDegrees = 15;
    std::size_t geometry = 0;  ///< into matchGeometries()
    bool dense = false;        ///< the geometry's dense layout instead of its usual one
    RayProfile profile = RayProfile::camera;
};

/// The cell's geometry with its layout density and the cell's distances: the usual layouts have
/// long bars two free cells apart in half the admissible cells (about 10 % of cells) and short
/// bars in 20 % of cells; the dense ones long bars one free cell apart (two from a bar in line),
/// short bars in 40 % of cells.
MatchGeometry envelopeGeometry(const EnvelopeCell& cell);
/// What the cell's camera renders: field of view, noise, drops, strays (the seed left to the caller).
FrameOptions envelopeFrameOptions(const EnvelopeCell& cell, bool ceiling);

/// Every combination of the axes, in this nesting order (profile outermost, field of view innermost).
struct EnvelopeAxes {
    std::vector<double> fieldsOfViewDegrees{65, 115, 150, 180};
    std::vector<std::array<double, 2>> distances{{0.6, 1.0}, {1.2, 2.0}, {2.0, 3.0}};
    std::vector<double> tiltsDegrees{15, 45};
    std::vector<std::size_t> geometries{0, 1, 2};
    std::vector<bool> densities{false, true};
    std::vector<RayProfile> profiles{RayProfile::exact, RayProfile::camera, RayProfile::noise01};
};
std::vector<EnvelopeCell> envelopeCells(const EnvelopeAxes& axes);

/// Normalised estimation errors squared, by ray count: buckets start at these counts.
inline constexpr std::array<std::size_t, 5> neesBucketStarts{3, 6, 12, 24, 48};
struct NeesTally {
    std::size_t count = 0, aboveChiSquared95 = 0;
    double sum = 0;
    void add(double nees);
};
using NeesBuckets = std::array<NeesTally, neesBucketStarts.size()>;
void addNees(NeesBuckets& buckets, std::size_t rays, double nees);

struct MethodTally {
    std::size_t tried = 0, found = 0;
    std::size_t foundIdentifiable = 0;  ///< of the frames found, those identifiable
    std::size_t wrongRays = 0;          ///< true marker rays numbered with another marker
    std::size_t wrongFrames = 0;
    std::size_t strayNumbered = 0;
    std::size_t strayFar = 0;           ///< stray rays numbered beyond a quarter of the smallest marker spacing
    std::vector<double> errors;         ///< position error, metres, of the frames found
    std::vector<double> oracleErrors;   ///< the oracle's on the same frames
    std::vector<double> seconds;        ///< processor time of every call
    NeesBuckets nees;                   ///< of the reported covariance, by supporting rays
};

struct EnvelopeResult {
    EnvelopeCell cell;
    std::size_t poses = 0;         ///< random poses drawn
    std::size_t frames = 0;        ///< of those, frames with at least minBars complete bars: the frames scored
    std::size_t identifiable = 0;  ///< of the frames scored
    std::size_t rays = 0;          ///< over the frames scored
    MethodTally match, identify;
    /// The walk: every frame, tracked from a constant-velocity prediction (identified at the start
    /// and after a frame without a pose).
    MethodTally track;
    std::size_t walkFrames = 0, walkIdentifiable = 0, fellBack = 0;
    NeesBuckets oracleNees;  ///< the oracle's own covariance over the frames scored, by rays
};

struct EnvelopeSettings {
    std::size_t frames = 100;  ///< frames scored per cell
    double cellSeconds = 0;    ///< when above 0, a cell stops scoring frames after this much processor time
    std::size_t minBars = 4;
    double walkSeconds = 10, walkRate = 120;
    std::uint32_t gridSize = 20;
    std::uint64_t seed = 1;
    unsigned threads = 0;  ///< 0: every core
    std::string library = LUMETRA_LIBRARY_PATH;
};

/// Evaluates the cells on all threads; `cellDone` is called (serialised) after each cell.
std::vector<EnvelopeResult> evaluateEnvelope(const std::vector<EnvelopeCell>& cells, const EnvelopeSettings& settings,
                                             const std::function<void()>& cellDone = {});

/// "LongCeiling", ... and "usual" / "dense".
std::string geometryName(std::size_t geometry);
const char* densityName(bool dense);

}  // namespace Lumetra::Testing
