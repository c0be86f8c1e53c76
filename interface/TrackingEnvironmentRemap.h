#pragma once
// The ITrackingEnvironment face. `Impl` provides, all const:
//     PoseOutcome identify(const std::vector<vector<float, 3>>& rays) const;
//     PoseOutcome track(const std::vector<vector<float, 3>>& rays, const poseP3Q<float>& predicted) const;
//     PoseOutcome refinePose(const std::vector<vector<float, 3>>& rays, const std::vector<MarkerIndex>& numbers,
//                            const poseP3Q<float>& start) const;   // throws std::invalid_argument

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "environment/PoseEstimate.h"
#include "interface/ArrayMarshaling.h"
#include "interface/ExceptionTranslation.h"
#include "interface/InterfaceRemap.h"

namespace Lumetra::InterfaceContract {

/// Rejects a pose a host passes in that is not finite or whose rotation is not a unit quaternion.
void requireValidPose(const LumetraMath::poseP3Q<float>& pose, const char* what);

/// Writes the whole fields of `report` after structSize that end within its structSize (the
/// covariance array is one field).
void writePoseReport(Vesk::Environment::HorizontalGrid::PoseReport* report,
                     const Vesk::Environment::HorizontalGrid::PoseOutcome& outcome) noexcept;

namespace Details {

template <class Impl, class Owner>
class InterfaceRemap<Vesk::Environment::HorizontalGrid::ITrackingEnvironment, Impl, Owner>
    : public CountedRemap<Vesk::Environment::HorizontalGrid::ITrackingEnvironment, Impl> {
    using Vector3 = LumetraMath::vector<float, 3>;
    using Pose = LumetraMath::poseP3Q<float>;
    using MarkerIndex = Vesk::Environment::MarkerIndex;
    using PoseReport = Vesk::Environment::HorizontalGrid::PoseReport;
    using PoseOutcome = Vesk::Environment::HorizontalGrid::PoseOutcome;

public:
    using CountedRemap<Vesk::Environment::HorizontalGrid::ITrackingEnvironment, Impl>::CountedRemap;

    ExceptionCode identify(ArrayInMarshaler::Intermediate rays, ArrayOutMarshaler::Intermediate markerIndices,
                           Pose* pose, PoseReport* report, LongBool* result) final {
        return guardedCall(owner(), [&] {
            requireOutputs(pose, result);
            requireAllocator(markerIndices);
            const PoseOutcome outcome = environment().identify(copyInArray<Vector3>(rays));
            deliver(outcome, &markerIndices, pose, report, result);
        });
    }

    ExceptionCode track(ArrayInMarshaler::Intermediate rays, const Pose* predicted,
                        ArrayOutMarshaler::Intermediate markerIndices, Pose* pose, PoseReport* report,
                        LongBool* result) final {
        return guardedCall(owner(), [&] {
            requirePointer(predicted, "predicted");
            requireOutputs(pose, result);
            requireAllocator(markerIndices);
            requireValidPose(*predicted, "predicted pose");
            const PoseOutcome outcome = environment().track(copyInArray<Vector3>(rays), *predicted);
            deliver(outcome, &markerIndices, pose, report, result);
        });
    }

    ExceptionCode refinePose(ArrayInMarshaler::Intermediate rays, ArrayInMarshaler::Intermediate markerIndices,
                             Pose* pose, PoseReport* report, LongBool* result) final {
        return guardedCall(owner(), [&] {
            requireOutputs(pose, result);
            requireValidPose(*pose, "start pose");
            const PoseOutcome outcome = environment().refinePose(
                copyInArray<Vector3>(rays), copyInArray<MarkerIndex>(markerIndices), *pose);
            deliver(outcome, nullptr, pose, report, result);
        });
    }

protected:
    ~InterfaceRemap() = default;

private:
    static void requireOutputs(const Pose* pose, const LongBool* result) {
        requirePointer(pose, "pose");
        requirePointer(result, "result");
    }

    /// Everything that can fail is done before the first write.
    static void deliver(const PoseOutcome& outcome, const ArrayOutMarshaler::Intermediate* markerIndices, Pose* pose,
                        PoseReport* report, LongBool* result) {
        const std::vector<MarkerIndex> none;
        const std::vector<MarkerIndex>& indices = outcome.found ? outcome.estimate.markerIndices : none;
        const std::uint32_t count = outArrayCount(indices.size());
        if (outcome.found) *pose = outcome.estimate.pose;
        writePoseReport(report, outcome);
        *result = toLongBool(outcome.found);
        if (markerIndices != nullptr) deliverOutArray(*markerIndices, indices.data(), count);
    }

    const Impl& environment() const { return this->implementation(); }
    Owner* owner() const { return &this->implementation(); }
};

}  // namespace Details
}  // namespace Lumetra::InterfaceContract
