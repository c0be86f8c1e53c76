#pragma once
// The ITrackerFactory face of an environment and the ITracker face of a tracker.
// `Factory` provides
//     InterfacePtr<ITracker> createTracker(const TrackerSettings* settings);   // null: defaults
// and `Tracker` provides
//     void addInertial(const std::vector<InertialSample>& samples);
//     PoseOutcome addFrame(double time, std::uint32_t camera, const std::vector<vector<float, 3>>& rays);
//     TrackerState getState(double time) const;
//     void reset();
// each throwing std::invalid_argument for the arguments the header lists.

#include <cstdint>
#include <vector>

#include "environment/PoseEstimate.h"
#include "interface/ArrayMarshaling.h"
#include "interface/ExceptionTranslation.h"
#include "interface/InterfacePtr.h"
#include "interface/InterfaceRemap.h"
#include "interface/TrackingEnvironmentRemap.h"

namespace Lumetra::InterfaceContract {

/// Writes the whole fields of `state` after structSize that end within its structSize.
void writeTrackerState(Vesk::Environment::HorizontalGrid::TrackerState* state,
                       const Vesk::Environment::HorizontalGrid::TrackerState& full) noexcept;

namespace Details {

template <class Impl, class Owner>
class InterfaceRemap<Vesk::Environment::HorizontalGrid::ITrackerFactory, Impl, Owner>
    : public CountedRemap<Vesk::Environment::HorizontalGrid::ITrackerFactory, Impl> {
    using ITracker = Vesk::Environment::HorizontalGrid::ITracker;

public:
    using CountedRemap<Vesk::Environment::HorizontalGrid::ITrackerFactory, Impl>::CountedRemap;

    ExceptionCode createTracker(const Vesk::Environment::HorizontalGrid::TrackerSettings* settings,
                                ITracker** result) final {
        return guardedCall(owner(), [&] {
            requirePointer(result, "result");
            const InterfacePtr<ITracker> tracker = this->implementation().createTracker(settings);
            tracker.storeInto(result);
        });
    }

protected:
    ~InterfaceRemap() = default;

private:
    Owner* owner() const { return &this->implementation(); }
};

template <class Impl, class Owner>
class InterfaceRemap<Vesk::Environment::HorizontalGrid::ITracker, Impl, Owner>
    : public CountedRemap<Vesk::Environment::HorizontalGrid::ITracker, Impl> {
    using Vector3 = LumetraMath::vector<float, 3>;
    using MarkerIndex = Vesk::Environment::MarkerIndex;
    using PoseReport = Vesk::Environment::HorizontalGrid::PoseReport;
    using PoseOutcome = Vesk::Environment::HorizontalGrid::PoseOutcome;
    using InertialSample = Vesk::Environment::HorizontalGrid::InertialSample;
    using TrackerState = Vesk::Environment::HorizontalGrid::TrackerState;

public:
    using CountedRemap<Vesk::Environment::HorizontalGrid::ITracker, Impl>::CountedRemap;

    ExceptionCode addInertial(ArrayInMarshaler::Intermediate samples) final {
        return guardedCall(owner(), [&] { tracker().addInertial(copyInArray<InertialSample>(samples)); });
    }

    ExceptionCode addFrame(double time, std::uint32_t camera, ArrayInMarshaler::Intermediate rays,
                           ArrayOutMarshaler::Intermediate markerIndices, PoseReport* report, LongBool* result) final {
        return guardedCall(owner(), [&] {
            requirePointer(result, "result");
            requireAllocator(markerIndices);
            const PoseOutcome outcome = tracker().addFrame(time, camera, copyInArray<Vector3>(rays));
            const std::vector<MarkerIndex> none;
            const std::vector<MarkerIndex>& indices = outcome.found ? outcome.estimate.markerIndices : none;
            const std::uint32_t count = outArrayCount(indices.size());
            writePoseReport(report, outcome);
            *result = toLongBool(outcome.found);
            deliverOutArray(markerIndices, indices.data(), count);
        });
    }

    ExceptionCode getState(double time, TrackerState* state) final {
        return guardedCall(owner(), [&] {
            requirePointer(state, "state");
            writeTrackerState(state, tracker().getState(time));
        });
    }

    ExceptionCode reset() final {
        return guardedCall(owner(), [&] { tracker().reset(); });
    }

protected:
    ~InterfaceRemap() = default;

private:
    Impl& tracker() const { return this->implementation(); }
    Owner* owner() const { return &this->implementation(); }
};

}  // namespace Details
}  // namespace Lumetra::InterfaceContract
