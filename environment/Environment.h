#pragma once
// The horizontal-grid tracking environment handed to hosts. Built once from a decoded environment
// code, it holds everything matching needs: the field of bars, the marker layout of a bar for each
// quarter turn, the 2D markers with their search index and smallest spacing, the feature
// catalogue and the marker ellipse. It never changes afterwards.

#include <cstdint>
#include <optional>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "catalogue/FlatFeatureMap.h"
#include "environment/BarGeometry.h"
#include "environment/PoseEstimate.h"
#include "environment/VeskEnvironment.h"
#include "environment/VeskEnvironmentFlat.h"
#include "grid/Bar.h"
#include "grid/Field.h"
#include "interface/EnvironmentRemap.h"
#include "interface/InterfacedObject.h"
#include "interface/TrackerRemap.h"
#include "interface/TrackingEnvironmentRemap.h"
#include "math/Matrix.h"
#include "math/Pose.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

struct HomographyResult;  // the levelling of one group, defined with the matching steps

/// Where an observed bar arrangement lies on the field: the cell offset and the quarter turn that
/// map observed cells onto field cells.
struct JuxtapositionResult {
    LumetraMath::vector<int, 2> offset{};
    int rotation = 0;
    bool success = false;
};

/// Quantises a bar direction to a rotation id: 0 along +x, 1 along +y, 2 along −x, 3 along −y;
/// equal magnitudes of x and y count as y.
unsigned char directionToRotationId(const LumetraMath::vector<float, 2>& direction);

/// Where a call of `match` spent its groups, for the accuracy evaluation.
struct MatchTrace {
    bool patternsFound = false;       ///< the frame had patterns and groups of them to try
    unsigned groupsTried = 0;
    unsigned patternsTried = 0;       ///< summed over the groups tried
    unsigned rejectedByFit = 0;       ///< groups whose bars did not fit grid cells
    unsigned notCatalogued = 0;       ///< groups whose arrangement the catalogue does not hold
    bool juxtapositionFailed = false;  ///< the search ended at a group that could not be placed
    unsigned notConfirmed = 0;        ///< placed groups whose pose did not confirm the numbers
};

/// The closing steps `match` runs once a group is placed on the field. Hosts always get both; the
/// accuracy evaluation switches them off to measure what they add.
struct MatchSteps {
    /// Refine the pose by least squares over the group's rays, number the other rays from it and
    /// refine again over every numbered ray; off, the levelled pose numbers the rays and is written.
    bool refine = true;
    /// Accept the identification only when the refined pose passes every numbered ray near its
    /// marker (without the refinement there is nothing to confirm with).
    bool confirm = true;
    /// When set, receives the largest miss of a numbered ray (as a pose fitted without it casts
    /// it), in units of the smallest marker spacing, for the refined identification written.
    float* largestMiss = nullptr;
    /// When set, receives where the search spent its groups.
    MatchTrace* trace = nullptr;
};

class Environment : public VeskEnvironment, public VeskEnvironmentFlat {
public:
    using Vector2 = LumetraMath::vector<float, 2>;
    using Vector3 = LumetraMath::vector<float, 3>;
    using Matrix2 = LumetraMath::matrix<float, 2, 2>;
    /// Combination key → field indices of the combination's bars, in the combination's place order.
    using Combinations = FlatFeatureMap;
    using BarGeometries = BarGeometry[4];

    /// `size` is (width, height) of the grid in cells. The bars must lie inside the grid, at most one
    /// per cell (the decoder guarantees it). Throws std::runtime_error when the feature catalogue of
    /// the layout would take too long to build.
    Environment(const float& barLength, const float& barProportion, const float& barSlope,
                const Vector2& barOffset, const float& cellSize, std::vector<Bar> bars,
                LumetraMath::vector<unsigned long, 2> size, bool ceiling, float height);

    // Operations of the environment base.
    bool match(const std::vector<Vector3>& rays, std::vector<MarkerIndex>& markerIndices,
               LumetraMath::poseP3Q<float>& pose) const override;
    bool match(const std::vector<Vector3>& rays, std::vector<MarkerIndex>& markerIndices,
               LumetraMath::poseP3Q<float>& pose, const MatchSteps& steps) const;
    /// Whether ray `a` can show a marker: dot(a, b) < 0 on the floor, its negation under a ceiling.
    bool filterRay(const Vector3& a, const Vector3& b) const override;
    /// One contour: the outline of the grid, corners (−hx, −hy), (−hx, hy), (hx, hy), (hx, −hy).
    std::uint32_t getContoursCount() const override;
    std::uint32_t getContourPointsCount(std::uint32_t contour) const override;
    Vector2 getContourPoint(std::uint32_t contour, std::uint32_t point) const override;

    /// Marker k of the bar at field list position i is entry 3·i + k (its MarkerIndex).
    std::vector<Vector2> getMarkers2D() const;
    /// The same layout for any bar list, relative to `center`.
    static std::vector<Vector2> getMarkers2D(const std::vector<Bar>& bars, const BarGeometries& barGeometries,
                                             const Vector2& center, float cellSize);
    /// (x, markersHeight, y) for every 2D marker, in marker order.
    std::vector<Vector3> getMarkers() const;

    /// Numbers each ray cast from a known world position by the single marker near its hit point.
    std::vector<MarkerIndex> matchByPosition(const std::vector<Vector3>& rays, const Vector3& position) const;

    /// Pose estimation of the ITrackingEnvironment face (defined with the matching steps). Rays
    /// with a non-finite component or of zero length are never numbered.
    /// Identification without a prior: several hypotheses, each refined and scored by its support.
    PoseOutcome identify(const std::vector<Vector3>& rays) const;
    /// Numbering from a predicted pose with refinement and outlier rejection; identifies afresh
    /// when the prediction does not hold. `predicted` is finite with a unit rotation.
    PoseOutcome track(const std::vector<Vector3>& rays, const LumetraMath::poseP3Q<float>& predicted) const;
    /// The least-squares pose from given numbers (MarkerNotFound and MarkerUnidentified ignored);
    /// throws std::invalid_argument when the counts differ or a number names no marker.
    PoseOutcome refinePose(const std::vector<Vector3>& rays, const std::vector<MarkerIndex>& numbers,
                           const LumetraMath::poseP3Q<float>& start) const;
    /// A new tracker holding a reference to this environment (defined with the tracker).
    InterfaceContract::InterfacePtr<ITracker> createTracker(const TrackerSettings* settings);

    /// Steps of `match`: the catalogue lookup of an observed arrangement, its placement on the field,
    /// and the attitude of the tracker from one group of patterns.
    std::optional<std::vector<unsigned long>> detectFeatures(const std::vector<Bar>& bars) const;
    JuxtapositionResult juxtapose(const std::vector<Bar>& bars, std::vector<unsigned long>& barIds) const;
    static HomographyResult findHomography(const std::vector<Vector3>& rays, const std::vector<Vector3>& rayLengths,
                                           const std::vector<Pattern>& patterns,
                                           const std::vector<unsigned long>& group, float yaw);

    /// Markers of every neighbour configuration occurring in the layout, seen from a reference bar
    /// in the canonical bar frame (bar centre at the origin, x along the bar, unit barLength).
    static std::vector<Vector2> getAllRelativeMarkers(const std::vector<Bar>& bars, const BarGeometries& barGeometries,
                                                      const Matrix2& slopeRotation, float cellSize, float barLength);
    /// (t00, t11, t01) of the largest ellipse found around a bar, in the canonical bar frame, with no
    /// neighbour marker strictly inside and an aspect ratio of at most 3.
    static Vector3 computeEllipse(const std::vector<Bar>& bars, const BarGeometries& barGeometries,
                                  const Matrix2& slopeRotation, float cellSize, float barLength);
    /// The matrix that maps the unit circle onto the ellipse with (perpendicular) semi-axes a and b.
    static Matrix2 ellipseFromAxis(const Vector2& a, const Vector2& b);

    float getBarSlope() const { return barSlope; }
    float getCellSize() const { return cellSize; }
    const BarGeometries& getBarGeometries() const { return barGeometries; }
    const Vector2& getCellCenterInBarFrame() const { return cellCenterInBarFrame; }
    const Matrix2& getSlopeRotation() const { return slopeRotation; }
    const Field& getField() const { return field; }
    const Vector2& getGridCenter() const { return gridCenter; }
    const Combinations& getCombinations() const { return combinations; }
    unsigned long getMinCombinationSize() const { return minCombinationSize; }
    const Vector3& getMarkerEllipse() const { return markerEllipse; }

protected:
    ~Environment() override = default;  // deleted only by its last Release

private:
    float barSlope;
    float cellSize;
    BarGeometry barGeometries[4];
    /// (a, b) with cell centre = q0 + a·d + b·(−d.y, d.x) for the rotation-0 end markers q0, q2 and
    /// d = q2 − q0: locates an observed bar's cell from its two end markers.
    Vector2 cellCenterInBarFrame;
    /// Rows (cos s, sin s) and (−sin s, cos s): turns a vector by −barSlope.
    Matrix2 slopeRotation;
    Field field;
    /// Centre of the grid in cell-origin coordinates; subtracted so that the grid centre is the origin.
    Vector2 gridCenter;
    Combinations combinations;
    /// Fewest bars of any catalogued feature; all ones when the catalogue is empty.
    unsigned long minCombinationSize;
    Vector3 markerEllipse;

    // Linked first, so that IEnvironment, linked after them, keeps answering for IUnsafe and IInterface.
    InterfaceContract::InterfaceFace<ITrackerFactory, Environment> trackerFactoryFace{*this};
    InterfaceContract::InterfaceFace<ITrackingEnvironment, Environment> trackingFace{*this};
    InterfaceContract::InterfaceFace<IEnvironment, Environment> environmentFace{*this};
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
