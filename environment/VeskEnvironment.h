#pragma once
// Base of the tracking environments: the operations every environment offers, and the pattern
// search that finds bar-shaped marker triples among camera rays before any layout is known.

#include <cstdint>
#include <optional>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "interface/InterfacedObject.h"
#include "math/Pose.h"
#include "math/Vector.h"

class ConflictMatrix;  // defined with the matching steps that fill it

class VeskEnvironment : public Lumetra::InterfaceContract::InterfacedObject {
public:
    /// Ray indices of one bar seen in a frame: marker 0 (the end nearer the middle marker), the
    /// middle marker, marker 2.
    using Pattern = LumetraMath::vector<unsigned long, 3>;

    VeskEnvironment(float barLength, float barProportion);

    virtual bool isMutable() const;
    virtual std::uint64_t getUpdateId() const;
    /// Identifies the rays of one frame and finds the tracker's pose; false when it cannot.
    virtual bool match(const std::vector<LumetraMath::vector<float, 3>>& rays,
                       std::vector<Lumetra::Vesk::Environment::MarkerIndex>& markerIndices,
                       LumetraMath::poseP3Q<float>& pose) const = 0;
    /// Whether ray `a` can show a marker, judged against direction `b`: dot(a, b) < 0.
    virtual bool filterRay(const LumetraMath::vector<float, 3>& a, const LumetraMath::vector<float, 3>& b) const;
    virtual std::uint32_t getContoursCount() const = 0;
    virtual std::uint32_t getContourPointsCount(std::uint32_t contour) const = 0;
    virtual LumetraMath::vector<float, 2> getContourPoint(std::uint32_t contour, std::uint32_t point) const = 0;

    /// Every triple of points that looks like one bar: the two ends with exactly one further
    /// point inside the scaled marker ellipse of the pair, lying on the segment at the bar's
    /// proportion from the nearer end. `ellipse` is (t00, t11, t01) of the marker ellipse.
    static std::vector<Pattern> findAllPossiblePatterns(const std::vector<LumetraMath::vector<float, 2>>& points,
                                                        float barProportion,
                                                        const LumetraMath::vector<float, 3>& ellipse,
                                                        float ellipseScale);
    /// As findAllPossiblePatterns, but a pair's ellipse may also hold up to two further points
    /// (stray rays near a bar): each point inside that passes a middle marker test widened for
    /// noisy rays makes a pattern. The points are rays projected onto the plane one unit from the
    /// tracker; with a `rayNoise` (radians) the test is widened further by two standard
    /// deviations of where that noise puts the three points, which grows with their distance from
    /// the plane's foot. Tries every pair, O(N^3).
    static std::vector<Pattern> findPatternsToleratingStrays(const std::vector<LumetraMath::vector<float, 2>>& points,
                                                             float barProportion,
                                                             const LumetraMath::vector<float, 3>& ellipse,
                                                             float ellipseScale, float rayNoise = 0.0f);
    /// Per pattern the distance between its two end points.
    static std::vector<float> calculateLengthsForPatterns(const std::vector<LumetraMath::vector<float, 2>>& points,
                                                          const std::vector<Pattern>& patterns);
    /// Per pattern (cos 4θ, sin 4θ) of its direction θ, equal for bars a quarter turn apart.
    static std::vector<LumetraMath::vector<float, 2>> calcQuadAngleSinCosForPatterns(
        const std::vector<LumetraMath::vector<float, 2>>& points, const std::vector<Pattern>& patterns);
    /// Conflicts between patterns that share a ray (indices below markerCount); nothing when there
    /// are more patterns than ConflictMatrix::MaxSize.
    static std::optional<ConflictMatrix> buildMarkersConflictMatrix(const std::vector<Pattern>& patterns,
                                                                    unsigned long markerCount);
    /// Marks pairs whose lengths differ by more than `tolerance` times the shorter one.
    static void addLengthConflictsToMatrix(ConflictMatrix& matrix, const std::vector<float>& lengths,
                                           float tolerance);
    /// Marks pairs whose quad-angle vectors have a dot product below `threshold`.
    static void addQuadAngleConflictsToMatrix(ConflictMatrix& matrix,
                                              const std::vector<LumetraMath::vector<float, 2>>& quadAngles,
                                              float threshold);

    /// Per pattern the distances from the tracker to its three markers, from the angles between
    /// its rays and the bar's geometry; (0, 0, 0) for patterns not computed. Computes the first
    /// group whole, then patterns of later groups that are still (0, 0, 0).
    std::vector<LumetraMath::vector<float, 3>> findPatternRayLengths(
        const std::vector<LumetraMath::vector<float, 3>>& rays, const std::vector<std::vector<unsigned long>>& groups,
        const std::vector<Pattern>& patterns) const;

    float barLength;
    float barProportion;

protected:
    ~VeskEnvironment() override = default;  // destroyed through its last reference only
};
