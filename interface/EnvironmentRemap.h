#pragma once
// The IEnvironment face. `Impl` provides, all const (an environment never changes):
//     bool isMutable() const;
//     std::vector<LumetraMath::vector<float, 3>> getMarkers() const;
//     bool filterRay(const vector<float, 3>& ray, const vector<float, 3>& reference) const;
//     bool match(const std::vector<vector<float, 3>>& rays, std::vector<MarkerIndex>& markerIndices,
//                LumetraMath::poseP3Q<float>& pose) const;
//     std::vector<MarkerIndex> matchByPosition(const std::vector<vector<float, 3>>& rays,
//                                              const vector<float, 3>& position) const;

#include <utility>
#include <vector>

#include "interface/ArrayMarshaling.h"
#include "interface/ExceptionTranslation.h"
#include "interface/InterfaceRemap.h"

namespace Lumetra::InterfaceContract::Details {

template <class Impl, class Owner>
class InterfaceRemap<Vesk::Environment::IEnvironment, Impl, Owner>
    : public CountedRemap<Vesk::Environment::IEnvironment, Impl> {
    using Vector3 = LumetraMath::vector<float, 3>;
    using MarkerIndex = Vesk::Environment::MarkerIndex;

public:
    using CountedRemap<Vesk::Environment::IEnvironment, Impl>::CountedRemap;

    ExceptionCode isMutable(LongBool* result) final {
        return guardedCall(owner(), [&] {
            requirePointer(result, "result");
            *result = toLongBool(environment().isMutable());
        });
    }

    ExceptionCode getMarkers(ArrayOutMarshaler::Intermediate result) final {
        return guardedCall(owner(), [&] {
            requireAllocator(result);
            deliverOutArray(result, environment().getMarkers());
        });
    }

    ExceptionCode filterRay(Vector3 ray, Vector3 reference, LongBool* result) final {
        return guardedCall(owner(), [&] {
            requirePointer(result, "result");
            *result = toLongBool(environment().filterRay(ray, reference));
        });
    }

    ExceptionCode match(ArrayInMarshaler::Intermediate rays, ArrayOutMarshaler::Intermediate markerIndices,
                        LumetraMath::poseP3Q<float>* pose, LongBool* result) final {
        return guardedCall(owner(), [&] {
            requirePointer(pose, "pose");
            requirePointer(result, "result");
            requireAllocator(markerIndices);
            const std::vector<Vector3> copiedRays = copyInArray<Vector3>(rays);
            std::vector<MarkerIndex> indices;
            const bool matched = environment().match(copiedRays, indices, *pose);
            const std::uint32_t count = outArrayCount(indices.size());
            *result = toLongBool(matched);
            deliverOutArray(markerIndices, indices.data(), count);
        });
    }

    ExceptionCode matchByPosition(ArrayInMarshaler::Intermediate rays, Vector3 position,
                                  ArrayOutMarshaler::Intermediate result) final {
        return guardedCall(owner(), [&] {
            requireAllocator(result);
            deliverOutArray(result, environment().matchByPosition(copyInArray<Vector3>(rays), position));
        });
    }

protected:
    ~InterfaceRemap() = default;

private:
    // Queries only read the environment; going through const enforces that.
    const Impl& environment() const { return this->implementation(); }
    Owner* owner() const { return &this->implementation(); }
};

}  // namespace Lumetra::InterfaceContract::Details
