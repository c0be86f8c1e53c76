#pragma once
// Host-side interfaces that only count how often the library adds and drops references to them,
// for checking that the library releases exactly what it is handed.

#include <cstdint>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace Lumetra::Testing {

template <class Interface>
class Counting : public Interface {
public:
    InterfaceContract::ExceptionCode QueryInterface(const InterfaceContract::InterfaceID&, void** result) override {
        *result = nullptr;
        return InterfaceContract::ExceptionCode::NoInterface;
    }
    std::uint32_t AddRef() override {
        ++addRefs;
        return ++references;
    }
    std::uint32_t Release() override {
        ++releases;
        return --references;
    }

    std::uint32_t references = 1;
    int addRefs = 0;
    int releases = 0;

protected:
    ~Counting() = default;
};

class CountingInterface final : public Counting<InterfaceContract::IInterface> {};

class CountingLibrary final : public Counting<Vesk::Environment::HorizontalGrid::ILibrary> {
public:
    InterfaceContract::ExceptionCode createEnvironment(InterfaceContract::ArrayInMarshaler::Intermediate,
                                                       Vesk::Environment::IEnvironment**) override {
        return InterfaceContract::ExceptionCode::Failed;
    }
};

class CountingEnvironment final : public Counting<Vesk::Environment::IEnvironment> {
public:
    using ExceptionCode = InterfaceContract::ExceptionCode;
    using LongBool = InterfaceContract::LongBool;
    using In = InterfaceContract::ArrayInMarshaler::Intermediate;
    using Out = InterfaceContract::ArrayOutMarshaler::Intermediate;
    using Vector3 = LumetraMath::vector<float, 3>;

    ExceptionCode isMutable(LongBool*) override { return ExceptionCode::Failed; }
    ExceptionCode getMarkers(Out) override { return ExceptionCode::Failed; }
    ExceptionCode filterRay(Vector3, Vector3, LongBool*) override { return ExceptionCode::Failed; }
    ExceptionCode match(In, Out, LumetraMath::poseP3Q<float>*, LongBool*) override { return ExceptionCode::Failed; }
    ExceptionCode matchByPosition(In, Vector3, Out) override { return ExceptionCode::Failed; }
};

}  // namespace Lumetra::Testing
