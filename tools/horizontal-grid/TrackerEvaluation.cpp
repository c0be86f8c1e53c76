// evaluate --tracker: each geometry under each scenario of the inertial tracker (the walk with one
// camera and with the two-camera rig, with and without inertial samples; the fast walk; 0.5 s
// occlusions; cold starts tilted up to 50 deg), 60 Hz frames of the real-camera profile delivered
// 20 ms late and a 1 kHz inertial sensor at the default densities.

#include "tools/horizontal-grid/TrackerEvaluation.h"

#include <algorithm>
#include <string>
#include <vector>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "simulation/TrackerScenarios.h"
#include "tools/horizontal-grid/TrackerOptions.h"

namespace Lumetra::Tools {
namespace {

using Testing::quantile;

struct NamedScenario {
    std::string name;
    Testing::TrackerScenario scenario;
    bool coldStart = false;
};

std::vector<NamedScenario> scenarios(double seconds) {
    std::vector<NamedScenario> list;
    const auto add = [&](std::string name, bool inertial, bool rig, bool fast, double gapEvery) {
        Testing::TrackerScenario s;
        s.inertial = inertial;
        s.twoCameras = rig;
        s.shape = fast ? Testing::fastWalkShape() : Testing::walkShape();
        s.seconds = seconds;
        s.gapEvery = gapEvery;
        list.push_back({std::move(name), s, false});
    };
    add("walk imu", true, false, false, 0);
    add("walk", false, false, false, 0);
    add("walk rig imu", true, true, false, 0);
    add("walk rig", false, true, false, 0);
    add("fast imu", true, false, true, 0);
    add("fast", false, false, true, 0);
    add("gaps imu", true, false, false, 2.0);
    list.push_back({"cold start", {}, true});
    return list;
}

bool chosen(const std::vector<std::string>& names, const std::string& name) {
    return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
}

double ratio(const std::vector<double>& a, const std::vector<double>& b) {
    const double denominator = quantile(b, 0.5);
    return denominator > 0 ? quantile(a, 0.5) / denominator : 0.0;
}

nlohmann::json figuresJson(const Testing::TrackerFigures& f) {
    return {{"frames", f.frames},
            {"trackingShare", f.trackingShare()},
            {"fused", f.fused},
            {"predicted", f.predicted},
            {"wrongNumbers", f.wrongNumbers},
            {"strayNumbered", f.strayNumbered},
            {"strayNumberedFar", f.strayNumberedFar},
            {"positionP50", quantile(f.positionErrors, 0.5)},
            {"oraclePositionP50", quantile(f.oraclePositionErrors, 0.5)},
            {"positionRatio", ratio(f.positionErrors, f.oraclePositionErrors)},
            {"rotationP50", quantile(f.rotationErrors, 0.5)},
            {"oracleRotationP50", quantile(f.oracleRotationErrors, 0.5)},
            {"rotationRatio", ratio(f.rotationErrors, f.oracleRotationErrors)},
            {"aheadPositionP95", quantile(f.predictionPositionErrors, 0.95)},
            {"aheadRotationP95", quantile(f.predictionRotationErrors, 0.95)},
            {"gaps", f.gaps},
            {"gapsResumedByPrediction", f.gapsResumedByPrediction},
            {"gapEndP95", quantile(f.gapEndErrors, 0.95)},
            {"framesToFirstLockP50", quantile(f.framesToFirstLock, 0.5)},
            {"neesMean", f.meanNees()},
            {"neesAbove95", f.neesTail()},
            {"addFrameP50us", quantile(f.addFrameMicroseconds, 0.5)},
            {"getStateP50us", quantile(f.getStateMicroseconds, 0.5)},
            {"addInertialP50us", quantile(f.addInertialMicroseconds, 0.5)}};
}

}  // namespace

int runTrackerEvaluation(const TrackerEvaluationOptions& options) {
    const Testing::LibraryHost host;
    nlohmann::json rows = nlohmann::json::array();
    if (!options.json)
        fmt::print("{} s per run, {} runs per row; share: frame times after the first lock answered Tracking;\n"
                   "wrong: rays numbered with another marker; far: stray rays numbered beyond a quarter spacing;\n"
                   "pos/rot: median error at fused frame times, and its ratio to the single-frame oracle (least\n"
                   "squares on the true numbers); ahead: p95 error 20 ms past the newest frame; gap: p95 error at\n"
                   "the end of 0.5 s occlusions and the share of gaps resumed from the prediction; cold: median\n"
                   "frames to the first lock from rest tilted up to 50 deg; costs: median microseconds per call\n\n",
                   options.seconds, options.seeds);
    if (!options.json)
        fmt::print("{:<12} {:<13} {:>7} {:>5} {:>4} {:>7} {:>5} {:>7} {:>5} {:>6} {:>6} {:>6} {:>5} {:>4} {:>5} {:>5} "
                   "{:>6} {:>5} {:>5}\n",
                   "geometry", "scenario", "share", "wrong", "far", "pos mm", "x", "rot deg", "x", "ahd mm", "ahd deg",
                   "gap mm", "gap%", "cold", "nees", ">95%", "frame", "state", "imu");
    for (const auto& geometry : Testing::matchGeometries()) {
        if (!chosen(options.geometries, geometry.name)) continue;
        const Testing::TrackingScene scene(host, geometry, 20, options.seed);
        for (const NamedScenario& named : scenarios(options.seconds)) {
            if (!chosen(options.only, named.name)) continue;
            Testing::TrackerFigures figures;
            for (int s = 0; s < options.seeds; ++s) {
                if (named.coldStart) {
                    Testing::runColdStarts(scene, 50 * radiansPerDegree, 20, options.seed + static_cast<unsigned>(s),
                                           figures);
                    continue;
                }
                Testing::TrackerScenario scenario = named.scenario;
                scenario.seed = options.seed * 1000 + static_cast<unsigned>(s);
                Testing::runTrackerScenario(scene, scenario, figures);
            }
            nlohmann::json row = figuresJson(figures);
            row["geometry"] = geometry.name;
            row["scenario"] = named.name;
            if (!options.json) {
                if (named.coldStart)
                    fmt::print("{:<12} {:<13} {:>88.1f}\n", geometry.name, named.name,
                               row["framesToFirstLockP50"].get<double>());
                else
                    fmt::print("{:<12} {:<13} {:>6.2f}% {:>5} {:>4} {:>7.2f} {:>5.2f} {:>7.3f} {:>5.2f} {:>6.1f} {:>7.2f} "
                               "{:>6.1f} {:>5.1f} {:>4} {:>5.2f} {:>4.1f}% {:>6.1f} {:>5.2f} {:>5.2f}\n",
                               geometry.name, named.name, 100 * figures.trackingShare(), figures.wrongNumbers,
                               figures.strayNumberedFar, 1e3 * row["positionP50"].get<double>(),
                               row["positionRatio"].get<double>(), row["rotationP50"].get<double>() / radiansPerDegree,
                               row["rotationRatio"].get<double>(), 1e3 * row["aheadPositionP95"].get<double>(),
                               row["aheadRotationP95"].get<double>() / radiansPerDegree,
                               1e3 * row["gapEndP95"].get<double>(),
                               figures.gaps ? 100.0 * figures.gapsResumedByPrediction / figures.gaps : 0.0, "-",
                               figures.meanNees(), 100 * figures.neesTail(), row["addFrameP50us"].get<double>(),
                               row["getStateP50us"].get<double>(), row["addInertialP50us"].get<double>());
            }
            rows.push_back(std::move(row));
        }
    }
    if (options.json) fmt::print("{}\n", rows.dump(2));
    return 0;
}

}  // namespace Lumetra::Tools
