#pragma once
// The library as a host sees it, without loading the shared object: getLibraryInterface is called
// in this process, so the fuzzing engine sees the coverage of the library code directly. Out-arrays
// are collected into vectors that also record how the allocator was called.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace LumetraFuzz {

using Lumetra::InterfaceContract::ArrayInMarshaler;
using Lumetra::InterfaceContract::ArrayOutMarshaler;
using Lumetra::InterfaceContract::ExceptionCode;
using Lumetra::InterfaceContract::LongBool;
using Lumetra::Vesk::Environment::IEnvironment;
using Lumetra::Vesk::Environment::MarkerIndex;
using Lumetra::Vesk::Environment::HorizontalGrid::ILibrary;
using Vector3 = LumetraMath::vector<float, 3>;
using Pose = LumetraMath::poseP3Q<float>;

/// One library object for the whole run, created on first use and never released.
ILibrary& library();

/// The calling thread's message.
std::string threadMessage();

/// createEnvironment through the ILibrary face: the code's bytes and the result slot.
ExceptionCode createEnvironment(std::string_view code, IEnvironment** slot);

/// An environment for a code that must be readable; aborts with the message otherwise.
IEnvironment& requireEnvironment(std::string_view code);

/// Receives one out-array.
template <class T>
struct OutArray {
    std::vector<T> elements;
    int allocateCalls = 0;

    ArrayOutMarshaler::Intermediate marshaler() { return {this, &OutArray::allocate}; }

private:
    static void* allocate(void* context, std::uint32_t count) {
        auto& self = *static_cast<OutArray*>(context);
        ++self.allocateCalls;
        self.elements.assign(count, T{});
        return self.elements.data();
    }
};

template <class T>
ArrayInMarshaler::Intermediate inArray(const std::vector<T>& elements) {
    return {elements.data(), static_cast<std::uint32_t>(elements.size())};
}

}  // namespace LumetraFuzz
