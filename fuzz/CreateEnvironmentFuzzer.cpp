// createEnvironment through the ILibrary face on arbitrary text. A code the decoder refuses must
// fail with the decoder's message and leave the slot alone; an accepted code must give an
// environment whose queries answer consistently and that goes away with its one reference. Each
// accepted environment is also matched against rays towards its first markers, so that odd but
// accepted geometry (tiny or huge cells, extreme slopes) reaches the matching code.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "environment/EnvironmentRecord.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/InProcessLibrary.h"
#include "fuzz/MatchChecks.h"

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

    // A view from one unit off the marker plane, above the grid centre, towards the first markers.
    constexpr std::size_t ViewedMarkers = 9;
    const float planeHeight = markers.elements.empty() ? 0.0f : markers.elements.front().y;
    const Vector3 eye{0.0f, planeHeight + 1.0f, 0.0f};
    std::vector<Vector3> rays;
    for (std::size_t i = 0; i < markers.elements.size() && i < ViewedMarkers; ++i)
        rays.push_back(markers.elements[i] - eye);
    checkedMatchByPosition(environment, markers.elements.size(), rays, eye);
    checkedMatch(environment, markers.elements.size(), rays);
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
