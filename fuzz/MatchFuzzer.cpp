// match and matchByPosition through the IEnvironment face with arbitrary rays (see MatchCase.h for
// how the input is read), checked as MatchChecks.h describes. matchByPosition must also give the
// same answer for rays scaled by two, which changes no hit point.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/InProcessLibrary.h"
#include "fuzz/MatchCase.h"
#include "fuzz/MatchChecks.h"

namespace {

using namespace LumetraFuzz;

struct FixedEnvironment {
    IEnvironment* environment;
    std::size_t markerCount;
};

/// The environments of matchEnvironmentCodes(), holding one reference each for the whole run.
class FixedEnvironments {
public:
    FixedEnvironments() {
        for (std::string_view code : matchEnvironmentCodes()) {
            IEnvironment& environment = requireEnvironment(code);
            OutArray<Vector3> markers;
            LUMETRA_FUZZ_CHECK(environment.getMarkers(markers.marshaler()) == ExceptionCode::Ok, "getMarkers failed");
            list_.push_back({&environment, markers.elements.size()});
        }
    }
    ~FixedEnvironments() {
        for (const FixedEnvironment& fixed : list_) fixed.environment->Release();
    }
    FixedEnvironments(const FixedEnvironments&) = delete;
    FixedEnvironments& operator=(const FixedEnvironments&) = delete;

    const std::vector<FixedEnvironment>& list() const { return list_; }

private:
    std::vector<FixedEnvironment> list_;
};

const std::vector<FixedEnvironment>& environments() {
    static const FixedEnvironments created;
    return created.list();
}

/// Zero or a magnitude for which doubling, and the products and quotients of the ray cast, stay
/// exact powers-of-two scalings of the original values.
bool isModerate(float value) { return value == 0.0f || (std::fabs(value) >= 1e-10f && std::fabs(value) <= 1e10f); }
bool isModerate(const Vector3& v) { return isModerate(v.x) && isModerate(v.y) && isModerate(v.z); }

void checkMatchByPosition(const FixedEnvironment& fixed, const std::vector<Vector3>& rays, const Vector3& position) {
    const std::vector<MarkerIndex> indices =
        checkedMatchByPosition(*fixed.environment, fixed.markerCount, rays, position);
    if (!isModerate(position) || !std::all_of(rays.begin(), rays.end(), [](const Vector3& v) { return isModerate(v); }))
        return;
    std::vector<Vector3> doubled(rays);
    for (Vector3& ray : doubled) ray = ray * 2.0f;
    LUMETRA_FUZZ_CHECK(checkedMatchByPosition(*fixed.environment, fixed.markerCount, doubled, position) == indices,
                       "rays scaled by two are numbered differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& fixed = environments();
    const MatchCase matchCase = readMatchCase({data, size}, fixed.size());
    const FixedEnvironment& environment = fixed[matchCase.environment];
    if (matchCase.operation == MatchOperation::match)
        checkedMatch(*environment.environment, environment.markerCount, matchCase.rays);
    else
        checkMatchByPosition(environment, matchCase.rays, matchCase.position);
    return 0;
}
