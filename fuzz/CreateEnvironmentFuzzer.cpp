// createEnvironment through the ILibrary face on arbitrary text. A code the decoder refuses must
// fail with the decoder's message and leave the slot alone; an accepted code must give an
// environment whose queries answer consistently and that goes away with its one reference.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "environment/EnvironmentRecord.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/InProcessLibrary.h"

namespace {

using namespace LumetraFuzz;

bool isFailureCode(ExceptionCode code) {
    return code == ExceptionCode::Failed || code == ExceptionCode::InvalidArgument ||
           code == ExceptionCode::OutOfMemory;
}

bool isFinite(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void checkEnvironment(IEnvironment& environment, std::size_t barCount) {
    LongBool isMutable = LongBool{0x12345678};
    LUMETRA_FUZZ_CHECK(environment.isMutable(&isMutable) == ExceptionCode::Ok && isMutable == LongBool::False,
                       "isMutable must answer False");

    OutArray<Vector3> markers;
    LUMETRA_FUZZ_CHECK(environment.getMarkers(markers.marshaler()) == ExceptionCode::Ok, "getMarkers failed: %s",
                       threadMessage().c_str());
    LUMETRA_FUZZ_CHECK(markers.allocateCalls == 1 && markers.elements.size() == 3 * barCount,
                       "%zu markers for %zu bars", markers.elements.size(), barCount);
    for (const Vector3& marker : markers.elements)
        LUMETRA_FUZZ_CHECK(isFinite(marker), "a marker position is not finite");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string code(reinterpret_cast<const char*>(data), size);

    std::optional<Lumetra::Vesk::Environment::HorizontalGrid::EnvironmentDescription> description;
    std::string decodeFailure;
    try {
        description = Lumetra::Vesk::Environment::HorizontalGrid::decodeEnvironmentCode(code);
    } catch (const std::runtime_error& error) {
        decodeFailure = error.what();
    }

    IEnvironment* environment = nullptr;
    const ExceptionCode result = createEnvironment(code, &environment);
    if (result != ExceptionCode::Ok) {
        const std::string message = threadMessage();
        LUMETRA_FUZZ_CHECK(isFailureCode(result), "unexpected result code 0x%08X", static_cast<unsigned>(result));
        LUMETRA_FUZZ_CHECK(environment == nullptr, "a failed createEnvironment wrote its slot");
        LUMETRA_FUZZ_CHECK(!message.empty(), "a failure without a message");
        LUMETRA_FUZZ_CHECK(description || message == decodeFailure, "the decoder says \"%s\", the library \"%s\"",
                           decodeFailure.c_str(), message.c_str());
        return 0;
    }
    LUMETRA_FUZZ_CHECK(description, "accepted a code the decoder refuses (\"%s\")", decodeFailure.c_str());
    LUMETRA_FUZZ_CHECK(environment != nullptr, "createEnvironment succeeded without an environment");
    checkEnvironment(*environment, description->bars.size());
    LUMETRA_FUZZ_CHECK(environment->Release() == 0, "the host's reference is not the only one");
    return 0;
}
