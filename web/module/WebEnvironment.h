#pragma once
// One environment as the browser designer sees it: its description, code, markers, catalogue
// figures and warnings, and the coverage of its cells. Matching goes through the environment's
// IEnvironment and tracking faces, the calls a host makes. Failures never escape to JavaScript:
// an environment that could not be built carries its message in error().

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <emscripten/val.h>

#include "environment/Environment.h"
#include "interface/InterfacePtr.h"
#include "simulation/LayoutDesign.h"
#include "simulation/RoomCoverage.h"
#include "simulation/TrackingHost.h"

namespace Lumetra::Web {

class WebEnvironment {
public:
    /// From an environment code (any record version).
    static WebEnvironment* fromCode(const std::string& code);
    /// From a description object, validated as `encode` validates it.
    static WebEnvironment* fromDescription(const emscripten::val& description);

    /// Empty when the environment was built; else why not.
    const std::string& error() const { return error_; }

    emscripten::val description() const;
    /// The version 2 code, as `encode` writes it.
    std::string code() const;
    /// x, y, z of every marker in marker order.
    emscripten::val markers() const;
    /// { uniqueFeatures, smallestFeatureSize, barsInFeatures, bySize, markerSpacing }.
    emscripten::val catalogue() const;
    /// Plain-language remarks on the layout: what cannot be matched and why.
    emscripten::val warnings() const;

    /// Shares of frames located correctly, and with a feature in view, at the positions `indices`
    /// (one per cell, row after row), as `coverage` computes them; { shares, identifiable } or { error }.
    emscripten::val coverage(const emscripten::val& settings, const emscripten::val& indices);
    /// The cells whose coverage can differ from `before`'s under `settings`, nearest the change
    /// first: { cells, everything } or { error }.
    emscripten::val affectedCells(const WebEnvironment& before, const emscripten::val& settings) const;

    /// The frame a tracker at `pose` {x, y, z, yawDegrees, tiltDegrees} sees with `settings`'
    /// camera: { rays: [x, y, z, ...], markerNumbers }.
    emscripten::val frame(const emscripten::val& pose, const emscripten::val& settings) const;
    /// identify through the tracking face: { found, markerIndices, position, rotation }.
    emscripten::val identify(const emscripten::val& rays) const;

private:
    WebEnvironment() = default;
    void build(Vesk::Environment::HorizontalGrid::EnvironmentDescription description);
    /// The bars of every unique feature, by cell and properties (independent of list positions).
    std::set<std::vector<Vesk::Environment::HorizontalGrid::Bar>> features() const;

    std::string error_;
    Vesk::Environment::HorizontalGrid::EnvironmentDescription description_;
    InterfaceContract::InterfacePtr<Vesk::Environment::HorizontalGrid::Environment> environment_;
    InterfaceContract::InterfacePtr<Testing::IEnvironment> face_;
    InterfaceContract::InterfacePtr<Testing::ITrackingEnvironment> tracking_;
    std::vector<Testing::Point3> markers_;
    std::unique_ptr<Testing::CoreLocator> locator_;
    // The estimator of the settings last asked for, kept while they stay the same.
    std::string estimatorKey_;
    Testing::CoverageSettings estimatorSettings_;
    std::unique_ptr<Testing::CoverageEstimator> estimator_;
};

/// Settings from { method, camera: { name, fieldOfViewDegrees, noiseDegrees, dropProbability,
/// spuriousRays, rate }, minDistance, maxDistance, distances, yaws, tiltsDegrees, threshold, seed,
/// tolerance }; absent members keep the defaults of `coverage`. Throws std::runtime_error.
Testing::CoverageSettings coverageSettingsFromValue(const emscripten::val& value);

/// How far from a tracker position the markers it sees can lie (horizontally), over every pose
/// and walk that `settings` make; infinite when the widest view reaches the horizon.
double reach(const Testing::CoverageSettings& settings, double cellSize);

/// The layout search of `generate` for a room: { geometry (a description), roomWidth, roomDepth,
/// margin, spacing, coverage (settings), target, maxBars, seed }, calling progress(evaluations,
/// estimate) after each batch. { description, estimate, evaluations } or { error }.
emscripten::val design(const emscripten::val& request, const emscripten::val& progress);

}  // namespace Lumetra::Web
