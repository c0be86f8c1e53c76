#pragma once
// The face chain of an interfaced object. Each face (RemapPatch) is the object a host's interface
// pointer points at; it sits in a RemapContainer, a link of a singly linked chain that ends at the
// object's RemapContainerHead. QueryInterface walks the chain from the most recently linked face,
// which belongs to the most derived class, so the most derived interface answers for its bases.

#include <type_traits>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace Lumetra::InterfaceContract {

template <int Level>
class LifeTimeController;

namespace Details {

/// Every interface the library knows, for matching identifiers against an interface's bases.
template <class... Interfaces>
struct InterfaceList {
    /// True when `id` names `Interface` or one of its bases.
    template <class Interface>
    static constexpr bool accepts(const InterfaceID& id) {
        return ((std::is_base_of_v<Interfaces, Interface> && id == Interfaces::interfaceId) || ...);
    }
};
using KnownInterfaces =
    InterfaceList<IUnsafe, IInterface, IExceptionData, Vesk::Environment::IEnvironmentConstructor,
                  Vesk::Environment::HorizontalGrid::ILibrary, Vesk::Environment::IEnvironment,
                  Vesk::Environment::HorizontalGrid::ITrackingEnvironment,
                  Vesk::Environment::HorizontalGrid::ITrackerFactory, Vesk::Environment::HorizontalGrid::ITracker>;

class IRemapContainer {
public:
    /// Stores this link's face into *result and sets needAddRef when the face answers `id`;
    /// otherwise passes the question on toward the head, which stores null.
    virtual void getInterfacePointer(const InterfaceID& id, void** result, bool& needAddRef) = 0;

protected:
    IRemapContainer() = default;
    ~IRemapContainer() = default;
    IRemapContainer(const IRemapContainer&) = delete;
    IRemapContainer& operator=(const IRemapContainer&) = delete;
};

template <class Patch>
class RemapContainer;

class RemapContainerHead final : public IRemapContainer {
public:
    void getInterfacePointer(const InterfaceID&, void** result, bool&) override { *result = nullptr; }

    IRemapContainer& first() const { return *first_; }

    template <class Patch>
    void linkAtFront(RemapContainer<Patch>& link) {
        link.next_ = first_;
        first_ = &link;
    }

private:
    IRemapContainer* first_ = this;
};

/// The face handed to the host: the function table of its interface, filled with the adapters of
/// `Remap`, and the pointer to the implementing object, both held by `Remap`.
template <class Remap>
class RemapPatch final : public Remap {
public:
    using Remap::Remap;
};

/// One link of the chain, holding one face. Constructing it links it at the front of the
/// implementing object's chain.
template <class Patch>
class RemapContainer final : public IRemapContainer {
public:
    using Interface = typename Patch::Interface;

    template <class Impl>
    explicit RemapContainer(Impl& object) : patch_(object) {
        object.remapChain().linkAtFront(*this);  // Impl derives from LifeTimeController<0>
    }

    void getInterfacePointer(const InterfaceID& id, void** result, bool& needAddRef) override {
        if (KnownInterfaces::accepts<Interface>(id)) {
            *result = static_cast<Interface*>(&patch_);
            needAddRef = std::is_base_of_v<IInterface, Interface>;
        } else {
            next_->getInterfacePointer(id, result, needAddRef);
        }
    }

    /// The interface pointer of this face, without a reference.
    Interface* face() { return &patch_; }

private:
    friend class RemapContainerHead;

    IRemapContainer* next_ = nullptr;
    Patch patch_;
};

}  // namespace Details
}  // namespace Lumetra::InterfaceContract
