#include "interface/TrackingEnvironmentRemap.h"

#include <cstddef>
#include <string>

#include "interface/Exception.h"

namespace Lumetra::InterfaceContract {

using Vesk::Environment::HorizontalGrid::PoseOutcome;
using Vesk::Environment::HorizontalGrid::PoseReport;

void requireValidPose(const LumetraMath::poseP3Q<float>& pose, const char* what) {
    const auto& p = pose.position;
    const auto& q = pose.rotation;
    const float values[7] = {p.x, p.y, p.z, q.x, q.y, q.z, q.w};
    for (const float value : values)
        if (!std::isfinite(value)) throw Exception(ExceptionCode::InvalidArgument, std::string(what) + " is not finite");
    const double norm = std::sqrt(double{q.x} * q.x + double{q.y} * q.y + double{q.z} * q.z + double{q.w} * q.w);
    if (std::fabs(norm - 1.0) > 1e-3)
        throw Exception(ExceptionCode::InvalidArgument, std::string(what) + " has no unit rotation quaternion");
}

void writePoseReport(PoseReport* report, const PoseOutcome& outcome) noexcept {
    if (report == nullptr) return;
    PoseReport full{};
    full.method = outcome.method;
    if (outcome.found) {
        const auto& estimate = outcome.estimate;
        full.numberedRays = estimate.numberedRays;
        full.supportingRays = estimate.supportingRays;
        full.rmsAngle = static_cast<float>(estimate.rmsAngle);
        full.maxAngle = static_cast<float>(estimate.maxAngle);
        for (std::size_t i = 0; i < 21; ++i) full.covariance[i] = static_cast<float>(estimate.covariance[i]);
    }
    // Whole fields only, from the one after structSize up to the host's size: the 4-byte fields
    // before the covariance, and the covariance array only when all of it fits.
    constexpr std::size_t first = sizeof(PoseReport::structSize);
    constexpr std::size_t covarianceStart = offsetof(PoseReport, covariance);
    const std::size_t size = report->structSize;
    const std::size_t end = size >= sizeof(PoseReport) ? sizeof(PoseReport) : std::min(size, covarianceStart) / 4 * 4;
    if (end > first)
        std::memcpy(reinterpret_cast<unsigned char*>(report) + first, reinterpret_cast<const unsigned char*>(&full) + first,
                    end - first);
}

}  // namespace Lumetra::InterfaceContract
