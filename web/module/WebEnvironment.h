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
#include "simulation/TrackingHost.h"
#include "web/module/CoverageCells.h"

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

    /// Shares of frames identified correctly at the positions `indices` (one per cell, row after
    /// row); throws nothing: { shares } or { error }.
    emscripten::val coverage(const emscripten::val& settings, const emscripten::val& indices) const;
    /// The cells whose coverage can differ from `before`'s under `settings`: nearest the change first.
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
};

/// Settings from { method, fieldOfViewDegrees, noiseDegrees, dropProbability, spuriousRays, distance,
/// yaws, tiltsDegrees, threshold, seed, tolerance }; absent members keep their defaults.
CoverageSettings coverageSettingsFromValue(const emscripten::val& value);

}  // namespace Lumetra::Web
