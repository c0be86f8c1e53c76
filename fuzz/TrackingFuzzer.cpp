// identify, track and refinePose through the ITrackingEnvironment face with arbitrary rays and
// poses. Input: byte 0 picks the call (bits 0-1: 0 identify, 1 track, 2 refinePose, 3 identify on a
// wide view), whether the pose's rotation is made a unit quaternion (bit 2) and whether every ray is
// given twice (bit 3, the copy scaled by 3); the rest is read as the match target reads its input
// (MatchCase.h), its position being the pose's position and its first ray, with w = 1, the
// rotation. refinePose numbers ray i by the bits of its x value: a marker, a special value or a
// number beyond the markers. The wide view is every marker seen from 1.5 above (or below) the
// markers' centre, as a fisheye camera sees it, with its first rays replaced by the input's, so
// that the windowed search of large frames meets hostile rays.
// Checked: the call returns Ok, or InvalidArgument for a pose that is not finite and unit or a
// number beyond the markers; a True result has a finite unit pose, valid unique numbers and a
// finite report; a False one leaves the pose alone and delivers no numbers.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/InProcessLibrary.h"
#include "fuzz/MatchCase.h"
#include "fuzz/MatchChecks.h"

namespace {

using namespace LumetraFuzz;
using Lumetra::Vesk::Environment::MarkerNotFound;
using Lumetra::Vesk::Environment::MarkerUnidentified;
using Lumetra::Vesk::Environment::HorizontalGrid::ITrackingEnvironment;
using Lumetra::Vesk::Environment::HorizontalGrid::PoseReport;

struct FixedEnvironment {
    IEnvironment* environment;
    ITrackingEnvironment* tracking;
    std::size_t markerCount;
    std::vector<Vector3> wideView;  ///< at most 512 rays towards the markers, nearest first
};

/// The rays from 1.5 on the markers' side of their centre towards every marker, nearest first.
std::vector<Vector3> wideView(IEnvironment& environment, const std::vector<Vector3>& markers) {
    Vector3 centre{};
    for (const Vector3& marker : markers) centre = centre + marker / static_cast<float>(markers.size());
    auto visible = LongBool::False;
    environment.filterRay({0, -1, 0}, {0, 1, 0}, &visible);
    const Vector3 from = centre + Vector3{0.1f, visible == LongBool::True ? 1.5f : -1.5f, 0.2f};
    std::vector<Vector3> rays;
    for (const Vector3& marker : markers) rays.push_back(marker - from);
    std::sort(rays.begin(), rays.end(), [](const Vector3& a, const Vector3& b) {
        return LumetraMath::dot(a, a) < LumetraMath::dot(b, b);
    });
    if (rays.size() > 512) rays.resize(512);
    return rays;
}

/// The environments of matchEnvironmentCodes() with their tracking faces, one reference each held
/// for the whole run.
class FixedEnvironments {
public:
    FixedEnvironments() {
        for (std::string_view code : matchEnvironmentCodes()) {
            IEnvironment& environment = requireEnvironment(code);
            OutArray<Vector3> markers;
            LUMETRA_FUZZ_CHECK(environment.getMarkers(markers.marshaler()) == ExceptionCode::Ok, "getMarkers failed");
            void* face = nullptr;
            LUMETRA_FUZZ_CHECK(environment.QueryInterface(ITrackingEnvironment::interfaceId, &face) == ExceptionCode::Ok,
                               "no tracking face");
            list_.push_back({&environment, static_cast<ITrackingEnvironment*>(face), markers.elements.size(),
                             wideView(environment, markers.elements)});
        }
    }
    ~FixedEnvironments() {
        for (const FixedEnvironment& fixed : list_) {
            fixed.tracking->Release();
            fixed.environment->Release();
        }
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

void checkOutcome(ExceptionCode code, LongBool result, const Pose& pose, const Pose& before, const PoseReport& report,
                  const OutArray<MarkerIndex>* indices, std::size_t rayCount, std::size_t markerCount) {
    LUMETRA_FUZZ_CHECK(code == ExceptionCode::Ok || code == ExceptionCode::InvalidArgument, "code 0x%08X: %s",
                       static_cast<unsigned>(code), threadMessage().c_str());
    if (code != ExceptionCode::Ok) {
        LUMETRA_FUZZ_CHECK(std::memcmp(&pose, &before, sizeof pose) == 0, "a refused call wrote the pose");
        LUMETRA_FUZZ_CHECK(indices == nullptr || indices->allocateCalls == 0, "a refused call delivered numbers");
        return;
    }
    LUMETRA_FUZZ_CHECK(result == LongBool::True || result == LongBool::False, "result 0x%08X",
                       static_cast<unsigned>(result));
    LUMETRA_FUZZ_CHECK(indices == nullptr || indices->allocateCalls == 1, "allocate called %d times",
                       indices ? indices->allocateCalls : 0);
    if (result == LongBool::False) {
        LUMETRA_FUZZ_CHECK(std::memcmp(&pose, &before, sizeof pose) == 0, "a false result wrote the pose");
        LUMETRA_FUZZ_CHECK(indices == nullptr || indices->elements.empty(), "a false result delivered numbers");
        return;
    }
    const auto& p = pose.position;
    const auto& q = pose.rotation;
    LUMETRA_FUZZ_CHECK(isFinite(p.x) && isFinite(p.y) && isFinite(p.z) && isFinite(q.x) && isFinite(q.y) &&
                           isFinite(q.z) && isFinite(q.w),
                       "a true result with a non-finite pose");
    const float norm = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
    LUMETRA_FUZZ_CHECK(std::fabs(norm - 1.0f) < 1e-3f, "rotation of squared length %g", static_cast<double>(norm));
    LUMETRA_FUZZ_CHECK(isFinite(report.rmsAngle) && isFinite(report.maxAngle), "a non-finite residual");
    for (const float entry : report.covariance) LUMETRA_FUZZ_CHECK(isFinite(entry), "a non-finite covariance");
    LUMETRA_FUZZ_CHECK(report.supportingRays >= 3 && report.supportingRays <= rayCount, "%u supporting rays of %zu",
                       report.supportingRays, rayCount);
    if (indices != nullptr) {
        LUMETRA_FUZZ_CHECK(indices->elements.size() == rayCount, "%zu numbers for %zu rays", indices->elements.size(),
                           rayCount);
        checkMarkerIndices(indices->elements, markerCount);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const auto& fixed = environments();
    const unsigned operation = data[0] & 3u;
    const bool unitRotation = (data[0] & 4u) != 0;
    MatchCase input = readMatchCase({data + 1, size - 1}, fixed.size());
    // Bit 3: every ray given twice, scaled (the repeats are one marker seen once).
    if ((data[0] & 8u) != 0 && input.rays.size() <= 256)
        for (std::size_t i = 0, n = input.rays.size(); i < n; ++i) input.rays.push_back(input.rays[i] * 3.0f);
    const FixedEnvironment& environment = fixed[input.environment];

    Pose pose{input.position, {0, 0, 0, 1}};
    if (!input.rays.empty()) pose.rotation = {input.rays[0].x, input.rays[0].y, input.rays[0].z, 1.0f};
    if (unitRotation) {
        const auto& q = pose.rotation;
        const float norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
        if (std::isfinite(norm) && norm > 0) pose.rotation = {q.x / norm, q.y / norm, q.z / norm, q.w / norm};
    }
    const Pose before = pose;
    PoseReport report{};
    report.structSize = sizeof report;
    auto result = LongBool{0x5A5A5A5A};
    OutArray<MarkerIndex> indices;
    const auto rays = inArray(input.rays);
    ITrackingEnvironment& face = *environment.tracking;
    switch (operation) {
        case 0: {
            Pose out = before;
            const ExceptionCode code = face.identify(rays, indices.marshaler(), &out, &report, &result);
            checkOutcome(code, result, out, before, report, &indices, input.rays.size(), environment.markerCount);
            break;
        }
        case 3: {
            std::vector<Vector3> frame = environment.wideView;
            for (std::size_t i = 0; i < input.rays.size(); ++i)
                if (i < frame.size()) frame[i] = input.rays[i];
                else if (frame.size() < 512) frame.push_back(input.rays[i]);
            Pose out = before;
            const ExceptionCode code = face.identify(inArray(frame), indices.marshaler(), &out, &report, &result);
            checkOutcome(code, result, out, before, report, &indices, frame.size(), environment.markerCount);
            break;
        }
        case 1: {
            Pose out = before;
            const ExceptionCode code = face.track(rays, &pose, indices.marshaler(), &out, &report, &result);
            checkOutcome(code, result, out, before, report, &indices, input.rays.size(), environment.markerCount);
            break;
        }
        default: {
            std::vector<MarkerIndex> numbers;
            for (const Vector3& ray : input.rays) {
                const std::uint32_t bits = std::bit_cast<std::uint32_t>(ray.x) % (environment.markerCount + 3);
                numbers.push_back(bits < environment.markerCount        ? bits
                                  : bits == environment.markerCount     ? MarkerNotFound
                                  : bits == environment.markerCount + 1 ? MarkerUnidentified
                                                                        : bits);
            }
            const ExceptionCode code = face.refinePose(rays, inArray(numbers), &pose, &report, &result);
            checkOutcome(code, result, pose, before, report, nullptr, input.rays.size(), environment.markerCount);
            break;
        }
    }
    return 0;
}
