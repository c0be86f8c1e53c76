#pragma once
// The accuracy table of matching: for a bar geometry and an angular noise, random tilted views of
// a 20 x 20 layout with at least four complete bars are matched through the built library, by the
// plain pipeline in process (the levelled pose, nothing refined or confirmed), and by the best
// possible identifier (the oracle: the least-squares pose from the true marker of every ray,
// started at the true pose) on the views the library matched. Shared by the command-line tool and
// the benchmarks.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "simulation/MatchScenarios.h"

namespace Lumetra::Testing {

struct AccuracySettings {
    std::size_t frames = 2000;            ///< views with at least `minBars` complete bars per row
    std::size_t minBars = 4;
    double maxTilt = 0.2617993877991494;  ///< 15 degrees
    double fieldOfViewHalfAngle = 1.0035643198967394;  ///< 57.5 degrees
    std::uint32_t gridSize = 20;
    std::uint64_t seed = 1;
    std::string library = LUMETRA_LIBRARY_PATH;
};

/// Ascending position errors in metres.
using Errors = std::vector<double>;

struct AccuracyRow {
    std::string geometry;
    double noise = 0;           ///< radians, standard deviation per ray
    std::size_t frames = 0;     ///< views tried
    std::size_t correct = 0;    ///< matched by the library with every number right
    std::size_t wrongFrames = 0;  ///< matched by the library with some ray numbered wrong
    std::size_t wrongRays = 0;    ///< rays of a marker numbered with another marker, over those frames
    std::size_t plainCorrect = 0;  ///< the plain pipeline matched with every number right
    std::size_t plainWrongRays = 0;
    Errors errors;        ///< of the library's correct matches
    Errors oracleErrors;  ///< of the oracle pose (PoseOracle) on the same views
    /// Largest miss of a numbered ray (in units of the smallest marker spacing) of the refined but
    /// unconfirmed pipeline, for identifications with every number right and with some wrong.
    std::vector<double> rightMisses, wrongMisses;
    /// Identifications with a ray that no other ray could check (an infinite miss).
    std::size_t rightUnbounded = 0, wrongUnbounded = 0;
    /// Views without success, by where the search ended (see lossNames).
    std::size_t losses[6] = {};
};

/// Where a view without success was lost: no patterns or groups, every group off the grid cells,
/// no group's arrangement catalogued, the search ended at a group that could not be placed, no
/// placed group confirmed, or otherwise (two rays claiming one marker).
inline constexpr const char* lossNames[6] = {"no patterns", "fit", "not catalogued", "placement", "not confirmed",
                                             "other"};

/// One row of the table: `settings.frames` views of `geometry` at angular noise `noise`.
AccuracyRow evaluateAccuracy(const MatchGeometry& geometry, double noise, const AccuracySettings& settings);

/// The q-quantile of ascending values (nearest rank below); 0 when empty.
double quantile(const std::vector<double>& sorted, double q);

}  // namespace Lumetra::Testing
