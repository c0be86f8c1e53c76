#pragma once
// The resident memory of this process, and a churn of environments and matches through the loaded
// library that must leave it flat. Header-only, shared by the memory test and its benchmark.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "simulation/EnvironmentCodeWriter.h"
#include "simulation/LibraryHost.h"
#include "simulation/MatchScenarios.h"

namespace Lumetra::Testing {

/// Resident set size in bytes, from /proc/self/statm.
inline std::int64_t residentSetBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t totalPages = 0, residentPages = 0;
    if (!(statm >> totalPages >> residentPages)) throw std::runtime_error("cannot read /proc/self/statm");
    return residentPages * static_cast<std::int64_t>(sysconf(_SC_PAGESIZE));
}

/// Small layouts to create and release, and one environment with views of a few bars to match.
class EnvironmentChurn {
public:
    explicit EnvironmentChurn(const LibraryHost& host) : host_(host) {
        std::mt19937_64 rng(77);
        const MatchGeometry geometry = matchGeometries()[1];
        for (int i = 0; i < 8; ++i)
            codes_.push_back(LumetraTest::writeEnvironmentCode(randomMatchLayout(geometry, 10, 10, rng)));
        const auto layout = randomMatchLayout(geometry, 24, 24, rng);
        matched_ = host.createEnvironment(LumetraTest::writeEnvironmentCode(layout));
        const std::vector<Point3> markers = getMarkers(*matched_);
        for (int v = 0; v < 16; ++v) {
            const auto view = drawView(markers, geometry, layout, 0.1, FrameOptions{.fieldOfViewHalfAngle = 1.0}, 4,
                                       6, rng);
            if (!view) throw std::runtime_error("no view of four to six bars");
            frames_.push_back(view->frame.rays);
        }
    }

    /// Creates, queries and releases `environments` environments, then matches `matches` frames.
    /// Returns the number of frames identified.
    std::size_t run(std::size_t environments, std::size_t matches) const {
        for (std::size_t i = 0; i < environments; ++i)
            if (getMarkers(*host_.createEnvironment(codes_[i % codes_.size()])).empty())
                throw std::runtime_error("a churned layout has no bars");
        std::size_t identified = 0;
        for (std::size_t i = 0; i < matches; ++i) identified += match(*matched_, frames_[i % frames_.size()]).matched;
        return identified;
    }

private:
    const LibraryHost& host_;
    std::vector<std::string> codes_;
    InterfacePtr<IEnvironment> matched_;
    std::vector<std::vector<Vector3>> frames_;
};

}  // namespace Lumetra::Testing
