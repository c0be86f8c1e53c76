#pragma once
// Base of every object the library hands to a host through interfaces.
//
// A class becomes an interfaced object with one face member per further interface it implements
// (the adapters of IEnvironment come from interface/EnvironmentRemap.h):
//
//     class Environment : public InterfacedObject {
//     public:
//         bool isMutable() const;                            // what the IEnvironment face calls
//         std::vector<vector<float, 3>> getMarkers() const;
//         ...
//     private:
//         // Linked at the front of the face chain while Environment is constructed.
//         InterfaceFace<IEnvironment, Environment> environmentFace{*this};
//     };
//
// A creator hands it out with exactly one reference, owned by the host's slot:
//
//     InterfacePtr<IEnvironment> environment = createInterfaced<IEnvironment, Environment>(args...);
//     environment.storeInto(hostSlot);  // adds the host's reference; ours goes with `environment`
//
// The object is deleted when its last reference is released.

#include <stdexcept>
#include <type_traits>
#include <utility>

#include "interface/ExceptionTranslation.h"
#include "interface/InterfacePtr.h"
#include "interface/InterfaceRemap.h"
#include "interface/LifetimeController.h"
#include "interface/RemapContainer.h"

namespace Lumetra::InterfaceContract {

class InterfacedObject : public LifeTimeController<0> {
protected:
    InterfacedObject() = default;
    ~InterfacedObject() override = default;
};

/// A face for `Interface` implemented by `Impl`, declared as a member of `Impl` and initialised
/// with `*this`; failures are reported for `Owner`. The adapters come from the specialisation
/// of Details::InterfaceRemap for `Interface`, whose header must be included.
template <class Interface, class Impl, class Owner = Impl>
using InterfaceFace =
    Details::RemapContainer<Details::RemapPatch<Details::InterfaceRemap<Interface, Impl, Owner>>>;

/// Creates an `Object` on the heap and returns its `Interface` face with one reference; the
/// object holds no other reference, so it lives exactly as long as the returned reference and
/// the ones made from it.
template <class Interface, class Object, class... Args>
InterfacePtr<Interface> createInterfaced(Args&&... args) {
    static_assert(std::is_base_of_v<InterfacedObject, Object>);
    const InterfacePtr<Object> object(new Object(std::forward<Args>(args)...));
    InterfacePtr<Interface> face = object->template queryInterface<Interface>();
    if (!face) throw std::logic_error("object has no face for the requested interface");
    return face;
}

}  // namespace Lumetra::InterfaceContract
