#pragma once
// A host for tests: loads the built shared library the way a tracking host does (dlopen, then
// getLibraryInterface) and wraps the interface calls in plain C++: in-arrays from vectors and
// text, out-arrays collected into vectors, failures as CallFailed with code and message.
//
//     LibraryHost host;                                  // keep it alive longer than its objects
//     auto environment = host.createEnvironment(code);   // throws CallFailed on failure
//     std::vector<Vector3> markers = getMarkers(*environment);

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "interface/InterfacePtr.h"

namespace Lumetra::InterfaceContract {
// Readable gtest output for result codes and booleans.
void PrintTo(ExceptionCode code, std::ostream* out);
void PrintTo(LongBool value, std::ostream* out);
}  // namespace Lumetra::InterfaceContract

namespace Lumetra::Testing {

using InterfaceContract::ArrayInMarshaler;
using InterfaceContract::ArrayOutMarshaler;
using InterfaceContract::ExceptionCode;
using InterfaceContract::InterfacePtr;
using InterfaceContract::LongBool;
using Vesk::Environment::IEnvironment;
using Vesk::Environment::IEnvironmentConstructor;
using Vesk::Environment::MarkerIndex;
using Vesk::Environment::HorizontalGrid::ILibrary;
using Vector3 = LumetraMath::vector<float, 3>;
using Pose = LumetraMath::poseP3Q<float>;

/// A call that did not return Ok, with the calling thread's message read right after it.
class CallFailed : public std::runtime_error {
public:
    CallFailed(ExceptionCode errorCode, const std::string& message);
    ExceptionCode code;
    std::string message;
};

class LibraryHost {
public:
    /// Loads the library at `path` (by default the one this build made); throws on failure.
    explicit LibraryHost(const std::string& path = LUMETRA_LIBRARY_PATH);
    ~LibraryHost();
    LibraryHost(const LibraryHost&) = delete;
    LibraryHost& operator=(const LibraryHost&) = delete;

    GetLibraryInterfaceFunction getLibraryInterface() const { return getLibraryInterface_; }

    /// A new, independent library object with one reference.
    InterfacePtr<ILibrary> createLibrary() const;

    /// An environment made by a new library object; throws CallFailed.
    InterfacePtr<IEnvironment> createEnvironment(std::string_view code) const;

private:
    void* handle_ = nullptr;
    GetLibraryInterfaceFunction getLibraryInterface_ = nullptr;
};

/// Views of host data as in-arrays (the data must outlive the call).
template <class T>
ArrayInMarshaler::Intermediate inArray(const std::vector<T>& elements) {
    return {elements.data(), static_cast<std::uint32_t>(elements.size())};
}
inline ArrayInMarshaler::Intermediate inText(std::string_view text) {
    return {text.data(), static_cast<std::uint32_t>(text.size())};
}

/// Receives one out-array and records how the library used the allocator.
template <class T>
class OutArray {
public:
    /// With `decline`, the allocator returns null, refusing the data.
    explicit OutArray(bool decline = false) : decline_(decline) {}

    ArrayOutMarshaler::Intermediate marshaler() { return {this, &OutArray::allocate}; }

    std::vector<T> elements;
    int allocateCalls = 0;
    std::uint32_t requestedCount = 0;

private:
    static void* allocate(void* context, std::uint32_t count) {
        auto& self = *static_cast<OutArray*>(context);
        ++self.allocateCalls;
        self.requestedCount = count;
        if (self.decline_) return nullptr;
        self.elements.assign(count, T{});
        return self.elements.data();
    }

    bool decline_;
};

/// The calling thread's message, read through `object`'s IExceptionData.
std::string threadMessage(InterfaceContract::IUnsafe& object);
/// Replaces the calling thread's message through `object`'s IExceptionData.
void setThreadMessage(InterfaceContract::IUnsafe& object, std::string_view text);

/// Throws CallFailed unless `code` is Ok.
void expectOk(ExceptionCode code, InterfaceContract::IUnsafe& object);

/// createEnvironment as a host calls it: the code, the result slot, nothing else.
ExceptionCode createEnvironment(IEnvironmentConstructor& constructor, std::string_view code,
                                IEnvironment** slot);

// The IEnvironment operations; each throws CallFailed on failure.
bool isMutable(IEnvironment& environment);
std::vector<Vector3> getMarkers(IEnvironment& environment);
bool filterRay(IEnvironment& environment, const Vector3& ray, const Vector3& reference);

struct MatchOutcome {
    bool matched = false;
    std::vector<MarkerIndex> markerIndices;
    Pose pose{};
};
MatchOutcome match(IEnvironment& environment, const std::vector<Vector3>& rays);
std::vector<MarkerIndex> matchByPosition(IEnvironment& environment, const std::vector<Vector3>& rays,
                                         const Vector3& position);

}  // namespace Lumetra::Testing
