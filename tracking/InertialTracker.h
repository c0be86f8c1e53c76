#pragma once
// The stateful tracker behind ITracker: an error-state Kalman filter (tracking/FilterState.h)
// driven by inertial samples, or by its motion model without them, and corrected by the numbered
// rays of each camera frame.
//
// Time. The fused estimate (the anchor) is kept at the newest fused frame's time. Every inertial
// sample later than the anchor is kept with the state propagated through it, so that
// - a frame that lags the newest sample (by up to 0.25 s) starts from the propagated state at its
//   own time; after its update the anchor moves to the frame and the later samples are propagated
//   again from it;
// - getState for any time up to the newest sample is the stored state at the sample before it,
//   moved on to the exact time; beyond the newest sample (up to 0.1 s past the newest input) the
//   last sample is held.
// Samples more than 0.3 s older than the newest are let go (no frame may come earlier); the anchor
// follows them.
//
// Frames. A frame is numbered from the prediction at its time (tracking/RayGating.h). When the
// prediction does not hold (fewer than 2 rays, or fewer than a quarter of the rays it can judge,
// numbered, or a fit that keeps fewer than half), each marker in the narrowest gates is tried as a
// hypothesis that numbers the rest, and one that explains the frame clearly best is fused. When
// neither holds or there is no estimate, the frame is identified afresh, levelled by gravity when
// the tilt is known (from the estimate, or from the accelerometer at rest while lost); an
// identification consistent with the prediction is fused into it, any other restarts the estimate;
// rays it left unnumbered may then be numbered from the fused pose.

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "environment/PoseEstimate.h"
#include "interface/InterfacePtr.h"
#include "interface/InterfacedObject.h"
#include "interface/TrackerRemap.h"
#include "math/Vector.h"
#include "tracking/FilterState.h"
#include "tracking/RayGating.h"
#include "tracking/TrackerConfiguration.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Environment;

class InertialTracker : public InterfaceContract::InterfacedObject {
public:
    using Vector3 = LumetraMath::vector<float, 3>;

    InertialTracker(Environment& environment, TrackerConfiguration configuration);

    /// Throws std::invalid_argument (nothing taken) for samples out of order or not finite or
    /// beyond any sensor's range.
    void addInertial(const std::vector<InertialSample>& samples);
    /// Throws std::invalid_argument for a camera index, or a time, out of range.
    PoseOutcome addFrame(double time, std::uint32_t camera, const std::vector<Vector3>& rays);
    /// The whole state at `time`; throws std::invalid_argument outside the window.
    TrackerState getState(double time) const;
    void reset();

protected:
    ~InertialTracker() override;

private:
    /// An inertial sample and the estimate propagated through it (valid while there is an estimate).
    struct Entry {
        InertialSample sample;
        FilterState state;
    };

    FilterState predictAt(double time) const;
    void propagateFrom(std::size_t first);
    void forgetOldSamples();
    void loseIfStale(double now);
    std::optional<Quaterniond> knownTilt(double time, double& uncertainty) const;
    bool fuseFrame(FilterState& state, const std::vector<TrackerRay>& rays, std::vector<MarkerIndex>& numbers,
                   GateCounts counts, std::size_t minimum, const double (*start)[6] = nullptr) const;
    FilterState initialState(double time, const PoseEstimate& identified) const;
    /// The frame numbered from the prediction and fused, when the prediction holds.
    std::optional<FilterState> fusePredicted(double time, const std::vector<TrackerRay>& rays,
                                             std::vector<MarkerIndex>& numbers) const;
    /// When the prediction's gates are too wide to number the frame: each marker the narrowest-gated
    /// ray may show is tried, the prediction conditioned on it numbering the other rays, and the
    /// hypothesis that explains the frame clearly best is fused.
    std::optional<FilterState> fuseHypotheses(const FilterState& predicted, const std::vector<TrackerRay>& rays,
                                              std::vector<MarkerIndex>& numbers) const;
    /// The frame identified afresh and fused (into the prediction when they agree, else a restart).
    std::optional<FilterState> fuseIdentified(double time, const std::vector<TrackerRay>& rays,
                                              std::vector<MarkerIndex>& numbers) const;
    /// Makes `fused` the anchor; false (and lost) when its pose covariance is not positive definite.
    bool settle(const FilterState& fused);

    InterfaceContract::InterfacePtr<Environment> environment_;
    TrackerConfiguration configuration_;

    bool hasEstimate_ = false;
    bool inertial_ = false;  ///< samples have come since the last reset
    FilterState anchor_;
    std::deque<Entry> entries_;  ///< samples after the anchor (all recent ones while lost)
    std::optional<InertialSample> newestSample_;
    double newestFrame_ = 0;
    bool anyFrame_ = false;
    double lastFused_ = 0;

    InterfaceContract::InterfaceFace<ITracker, InertialTracker> trackerFace_{*this};
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
