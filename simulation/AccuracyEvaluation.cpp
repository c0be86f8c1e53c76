#include "simulation/AccuracyEvaluation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"
#include "simulation/PoseOracle.h"

namespace Lumetra::Testing {
namespace {

using Vesk::Environment::HorizontalGrid::MatchSteps;

/// Rays numbered with a marker they do not show.
std::size_t wrongNumbers(const std::vector<MarkerIndex>& found, const Frame& frame) {
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < found.size() && i < frame.markerNumbers.size(); ++i)
        if (found[i] < Vesk::Environment::MarkerNotFound && found[i] != frame.markerNumbers[i]) ++wrong;
    return wrong;
}

double positionError(const Pose& pose, const TrackerPose& truth) {
    return LumetraMath::length(LumetraMath::vectorCast<double>(pose.position) - truth.position);
}

/// The oracle's position error: the least-squares pose from every ray's true marker, from the true pose.
double oracleError(const std::vector<Point3>& markers, const View& view) {
    const OracleFit fit = fitOraclePose(view.frame, markers, view.pose, 0.0);
    return fit.converged ? LumetraMath::length(fit.position - view.pose.position) : std::numeric_limits<double>::infinity();
}

/// The index into lossNames of a view the library did not match right.
std::size_t lossOf(const Vesk::Environment::HorizontalGrid::MatchTrace& trace) {
    if (!trace.patternsFound) return 0;
    if (trace.juxtapositionFailed) return 3;
    if (trace.notConfirmed > 0) return 4;
    if (trace.groupsTried > 0 && trace.rejectedByFit == trace.groupsTried) return 1;
    if (trace.notCatalogued > 0) return 2;
    return 5;
}

}  // namespace

AccuracyRow evaluateAccuracy(const MatchGeometry& geometry, double noise, const AccuracySettings& settings) {
    std::mt19937_64 rng(settings.seed);
    const auto layout = randomMatchLayout(geometry, settings.gridSize, settings.gridSize, rng);
    LibraryHost host(settings.library);
    const auto library = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
    const auto inProcess = makeEnvironment(layout);
    const std::vector<Point3> markers = getMarkers(*library);

    AccuracyRow row;
    row.geometry = geometry.name;
    row.noise = noise;
    FrameOptions options{.fieldOfViewHalfAngle = settings.fieldOfViewHalfAngle, .angularNoise = noise};
    for (; row.frames < settings.frames; ++row.frames) {
        const std::optional<View> view = drawView(markers, geometry, layout, settings.maxTilt, options,
                                                  settings.minBars, std::numeric_limits<std::size_t>::max(), rng);
        if (!view) throw std::runtime_error("no view of " + geometry.name + " shows enough bars");
        const Frame& frame = view->frame;

        const MatchOutcome outcome = match(*library, frame.rays);
        const std::size_t wrong = outcome.matched ? wrongNumbers(outcome.markerIndices, frame) : 0;
        row.wrongRays += wrong;
        row.wrongFrames += wrong > 0;
        std::vector<MarkerIndex> numbers;
        Pose pose;
        if (outcome.matched && wrong == 0) {
            ++row.correct;
            row.errors.push_back(positionError(outcome.pose, view->pose));
            row.oracleErrors.push_back(oracleError(markers, *view));
        } else {
            Vesk::Environment::HorizontalGrid::MatchTrace trace;
            inProcess->match(frame.rays, numbers, pose, MatchSteps{.trace = &trace});
            ++row.losses[lossOf(trace)];
        }

        if (inProcess->match(frame.rays, numbers, pose, MatchSteps{.refine = false, .confirm = false})) {
            const std::size_t plainWrong = wrongNumbers(numbers, frame);
            row.plainWrongRays += plainWrong;
            row.plainCorrect += plainWrong == 0;
        }
        float miss = 0;
        if (inProcess->match(frame.rays, numbers, pose, MatchSteps{.confirm = false, .largestMiss = &miss})) {
            const bool right = wrongNumbers(numbers, frame) == 0;
            if (std::isfinite(miss))
                (right ? row.rightMisses : row.wrongMisses).push_back(miss);
            else
                ++(right ? row.rightUnbounded : row.wrongUnbounded);
        }
    }
    for (auto* values : {&row.errors, &row.oracleErrors, &row.rightMisses, &row.wrongMisses})
        std::sort(values->begin(), values->end());
    return row;
}

double quantile(const std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0;
    const auto rank = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1));
    return sorted[std::min(rank, sorted.size() - 1)];
}

}  // namespace Lumetra::Testing
