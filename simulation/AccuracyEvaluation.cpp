#include "simulation/AccuracyEvaluation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

#include "matching/PoseRefinement.h"
#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"

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

/// The least-squares pose from every ray's true marker, started at the true pose.
double oracleError(const std::vector<Point3>& markers, const View& view) {
    std::vector<Point3> rays, targets;
    for (std::size_t i = 0; i < view.frame.rays.size(); ++i) {
        if (view.frame.markerNumbers[i] == spuriousMarker) continue;
        rays.push_back(view.frame.rays[i]);
        targets.push_back(markers[view.frame.markerNumbers[i]]);
    }
    Pose start;
    start.position = LumetraMath::vectorCast<float>(view.pose.position);
    const auto q = view.pose.rotation();
    start.rotation = {static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z), static_cast<float>(q.w)};
    const auto refined = Vesk::Environment::HorizontalGrid::refinePose(rays, targets, start);
    return refined ? positionError(refined->pose, view.pose) : std::numeric_limits<double>::infinity();
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
        if (outcome.matched && wrong == 0) {
            ++row.correct;
            row.errors.push_back(positionError(outcome.pose, view->pose));
        }
        row.oracleErrors.push_back(oracleError(markers, *view));

        std::vector<MarkerIndex> numbers;
        Pose pose;
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
