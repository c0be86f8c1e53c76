#pragma once
// Adapters from an interface's function table to the object implementing it. QueryInterface,
// AddRef and Release act on the owning object, so all faces of an object share them; the
// specialisations of InterfaceRemap add the operations of one interface.

#include <cstdint>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace Lumetra::InterfaceContract {

template <int Level>
class LifeTimeController;

namespace Details {

/// The adapters of `Interface` for the implementing class `Impl`; failures are reported through
/// handleRemapException<Owner>. Specialised per interface.
template <class Interface, class Impl, class Owner = Impl>
class InterfaceRemap;

/// The IUnsafe level: holds the implementing object and answers QueryInterface for it.
template <class InterfaceType, class Impl>
class UnsafeRemap : public InterfaceType {
public:
    using Interface = InterfaceType;

    explicit UnsafeRemap(Impl& object) : object_(&object) {}

    ExceptionCode QueryInterface(const InterfaceID& id, void** result) final {
        return lifetime().QueryInterface(id, result);
    }

protected:
    ~UnsafeRemap() = default;

    Impl& implementation() const { return *object_; }
    LifeTimeController<0>& lifetime() const { return *object_; }

private:
    Impl* object_;
};

/// The IInterface level: reference counting of the implementing object.
template <class Interface, class Impl>
class CountedRemap : public UnsafeRemap<Interface, Impl> {
public:
    using UnsafeRemap<Interface, Impl>::UnsafeRemap;

    std::uint32_t AddRef() final { return this->lifetime().AddRef(); }
    std::uint32_t Release() final { return this->lifetime().Release(); }

protected:
    ~CountedRemap() = default;
};

template <class Impl, class Owner>
class InterfaceRemap<IInterface, Impl, Owner> : public CountedRemap<IInterface, Impl> {
public:
    using CountedRemap<IInterface, Impl>::CountedRemap;

protected:
    ~InterfaceRemap() = default;
};

}  // namespace Details
}  // namespace Lumetra::InterfaceContract
