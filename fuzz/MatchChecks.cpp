#include "fuzz/MatchChecks.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fuzz/FuzzCheck.h"

namespace LumetraFuzz {

namespace {

using Lumetra::Vesk::Environment::MarkerNotFound;
using Lumetra::Vesk::Environment::MarkerUnidentified;

bool isFinite(const Pose& pose) {
    const auto& p = pose.position;
    const auto& q = pose.rotation;
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(q.x) &&
           std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

void checkIndexCount(const std::vector<MarkerIndex>& indices, const std::vector<Vector3>& rays) {
    LUMETRA_FUZZ_CHECK(indices.size() == rays.size(), "%zu indices for %zu rays", indices.size(), rays.size());
}

}  // namespace

void checkMarkerIndices(const std::vector<MarkerIndex>& indices, std::size_t markerCount) {
    std::vector<MarkerIndex> markers;
    for (MarkerIndex index : indices) {
        LUMETRA_FUZZ_CHECK(index < markerCount || index == MarkerNotFound || index == MarkerUnidentified,
                           "index 0x%08X with %zu markers", index, markerCount);
        if (index < markerCount) markers.push_back(index);
    }
    std::sort(markers.begin(), markers.end());
    const auto twice = std::adjacent_find(markers.begin(), markers.end());
    LUMETRA_FUZZ_CHECK(twice == markers.end(), "marker %u given to two rays", twice == markers.end() ? 0 : *twice);
}

void checkedMatch(IEnvironment& environment, std::size_t markerCount, const std::vector<Vector3>& rays) {
    OutArray<MarkerIndex> indices;
    Pose pose;
    std::memset(&pose, 0xA5, sizeof pose);
    Pose untouched;
    std::memcpy(&untouched, &pose, sizeof pose);
    auto result = LongBool{0x5A5A5A5A};

    const ExceptionCode code = environment.match(inArray(rays), indices.marshaler(), &pose, &result);
    LUMETRA_FUZZ_CHECK(code == ExceptionCode::Ok, "match failed with 0x%08X: %s", static_cast<unsigned>(code),
                       threadMessage().c_str());
    LUMETRA_FUZZ_CHECK(indices.allocateCalls == 1, "allocate called %d times", indices.allocateCalls);
    LUMETRA_FUZZ_CHECK(result == LongBool::True || result == LongBool::False, "result 0x%08X",
                       static_cast<unsigned>(result));
    checkMarkerIndices(indices.elements, markerCount);

    if (result == LongBool::True) {
        checkIndexCount(indices.elements, rays);
        LUMETRA_FUZZ_CHECK(isFinite(pose), "a successful match with a non-finite pose");
        const auto& q = pose.rotation;
        const float norm = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
        LUMETRA_FUZZ_CHECK(std::fabs(norm - 1.0f) < 1e-3f, "rotation of squared length %g", static_cast<double>(norm));
        return;
    }
    if (indices.elements.empty()) {
        LUMETRA_FUZZ_CHECK(std::memcmp(&pose, &untouched, sizeof pose) == 0, "a refused match wrote the pose");
        return;
    }
    // Refused after identification: two rays ended on one marker.
    checkIndexCount(indices.elements, rays);
    const auto cleared = std::count(indices.elements.begin(), indices.elements.end(), MarkerUnidentified);
    LUMETRA_FUZZ_CHECK(cleared >= 2, "a match refused with indices but no collision");
}

std::vector<MarkerIndex> checkedMatchByPosition(IEnvironment& environment, std::size_t markerCount,
                                                const std::vector<Vector3>& rays, const Vector3& position) {
    OutArray<MarkerIndex> indices;
    const ExceptionCode code = environment.matchByPosition(inArray(rays), position, indices.marshaler());
    LUMETRA_FUZZ_CHECK(code == ExceptionCode::Ok, "matchByPosition failed with 0x%08X: %s",
                       static_cast<unsigned>(code), threadMessage().c_str());
    LUMETRA_FUZZ_CHECK(indices.allocateCalls == 1, "allocate called %d times", indices.allocateCalls);
    checkIndexCount(indices.elements, rays);
    checkMarkerIndices(indices.elements, markerCount);
    return indices.elements;
}

}  // namespace LumetraFuzz
