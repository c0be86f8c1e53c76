// match and matchByPosition through the IEnvironment face with arbitrary rays (see MatchCase.h for
// how the input is read). Every call must succeed at the boundary and deliver marker numbers of the
// environment or the two special values, without two rays sharing a marker number. A false match
// leaves the pose alone unless it was refused for two rays ending on one marker, in which case the
// indices are delivered with the colliding entries cleared. matchByPosition must give the same
// answer for rays scaled by two, which changes no hit point.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/InProcessLibrary.h"
#include "fuzz/MatchCase.h"

namespace {

using namespace LumetraFuzz;
using Lumetra::Vesk::Environment::MarkerNotFound;
using Lumetra::Vesk::Environment::MarkerUnidentified;

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

bool isFinite(float value) { return std::isfinite(value); }

/// Marker numbers in range or a special value, and no marker number twice.
void checkIndices(const std::vector<MarkerIndex>& indices, std::size_t markerCount) {
    std::vector<MarkerIndex> markers;
    for (MarkerIndex index : indices) {
        LUMETRA_FUZZ_CHECK(index < markerCount || index == MarkerNotFound || index == MarkerUnidentified,
                           "index 0x%08X with %zu markers", index, markerCount);
        if (index < markerCount) markers.push_back(index);
    }
    std::sort(markers.begin(), markers.end());
    const auto twice = std::adjacent_find(markers.begin(), markers.end());
    LUMETRA_FUZZ_CHECK(twice == markers.end(), "marker %u delivered for two rays", twice == markers.end() ? 0 : *twice);
}

void checkMatch(const FixedEnvironment& fixed, const std::vector<Vector3>& rays) {
    OutArray<MarkerIndex> indices;
    Pose pose;
    std::memset(&pose, 0xA5, sizeof pose);
    Pose untouched;
    std::memcpy(&untouched, &pose, sizeof pose);
    auto result = LongBool{0x5A5A5A5A};

    const ExceptionCode code = fixed.environment->match(inArray(rays), indices.marshaler(), &pose, &result);
    LUMETRA_FUZZ_CHECK(code == ExceptionCode::Ok, "match failed with 0x%08X: %s", static_cast<unsigned>(code),
                       threadMessage().c_str());
    LUMETRA_FUZZ_CHECK(indices.allocateCalls == 1, "allocate called %d times", indices.allocateCalls);
    LUMETRA_FUZZ_CHECK(result == LongBool::True || result == LongBool::False, "result 0x%08X",
                       static_cast<unsigned>(result));
    checkIndices(indices.elements, fixed.markerCount);

    const bool poseWritten = std::memcmp(&pose, &untouched, sizeof pose) != 0;
    if (result == LongBool::True) {
        LUMETRA_FUZZ_CHECK(indices.elements.size() == rays.size(), "%zu indices for %zu rays", indices.elements.size(),
                           rays.size());
        const auto& p = pose.position;
        const auto& q = pose.rotation;
        LUMETRA_FUZZ_CHECK(isFinite(p.x) && isFinite(p.y) && isFinite(p.z) && isFinite(q.x) && isFinite(q.y) &&
                               isFinite(q.z) && isFinite(q.w),
                           "a successful match with a non-finite pose");
        const float norm = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
        LUMETRA_FUZZ_CHECK(std::fabs(norm - 1.0f) < 1e-3f, "rotation of squared length %g", static_cast<double>(norm));
        return;
    }
    if (indices.elements.empty()) {
        LUMETRA_FUZZ_CHECK(!poseWritten, "a refused match wrote the pose");
        return;
    }
    // Refused after identification: two rays ended on one marker.
    LUMETRA_FUZZ_CHECK(indices.elements.size() == rays.size(), "%zu indices for %zu rays", indices.elements.size(),
                       rays.size());
    const auto cleared = std::count(indices.elements.begin(), indices.elements.end(), MarkerUnidentified);
    LUMETRA_FUZZ_CHECK(cleared >= 2, "a match refused with indices but no collision");
}

std::vector<MarkerIndex> matchByPosition(const FixedEnvironment& fixed, const std::vector<Vector3>& rays,
                                         const Vector3& position) {
    OutArray<MarkerIndex> indices;
    const ExceptionCode code = fixed.environment->matchByPosition(inArray(rays), position, indices.marshaler());
    LUMETRA_FUZZ_CHECK(code == ExceptionCode::Ok, "matchByPosition failed with 0x%08X: %s",
                       static_cast<unsigned>(code), threadMessage().c_str());
    LUMETRA_FUZZ_CHECK(indices.allocateCalls == 1, "allocate called %d times", indices.allocateCalls);
    LUMETRA_FUZZ_CHECK(indices.elements.size() == rays.size(), "%zu indices for %zu rays", indices.elements.size(),
                       rays.size());
    checkIndices(indices.elements, fixed.markerCount);
    return indices.elements;
}

/// Zero or a magnitude for which doubling, and the products and quotients of the ray cast, stay
/// exact powers-of-two scalings of the original values.
bool isModerate(float value) { return value == 0.0f || (std::fabs(value) >= 1e-10f && std::fabs(value) <= 1e10f); }
bool isModerate(const Vector3& v) { return isModerate(v.x) && isModerate(v.y) && isModerate(v.z); }

void checkMatchByPosition(const FixedEnvironment& fixed, const std::vector<Vector3>& rays, const Vector3& position) {
    const std::vector<MarkerIndex> indices = matchByPosition(fixed, rays, position);
    if (!isModerate(position) || !std::all_of(rays.begin(), rays.end(), [](const Vector3& v) { return isModerate(v); }))
        return;
    std::vector<Vector3> doubled(rays);
    for (Vector3& ray : doubled) ray = ray * 2.0f;
    LUMETRA_FUZZ_CHECK(matchByPosition(fixed, doubled, position) == indices,
                       "rays scaled by two are numbered differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& fixed = environments();
    const MatchCase matchCase = readMatchCase({data, size}, fixed.size());
    const FixedEnvironment& environment = fixed[matchCase.environment];
    if (matchCase.operation == MatchOperation::match)
        checkMatch(environment, matchCase.rays);
    else
        checkMatchByPosition(environment, matchCase.rays, matchCase.position);
    return 0;
}
