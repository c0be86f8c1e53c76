#pragma once
// Coverage of the floor cell by cell, as `coverage` of the command-line tool computes it: a tracker
// above (or below) every cell centre, seen with several headings and tilts, each frame made from
// the same seeds as the tool's and judged against its truth. Cells are computed on request, so a
// designer recomputes only the cells a change can reach.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "environment/EnvironmentRecord.h"
#include "simulation/FrameGenerator.h"
#include "simulation/TrackingHost.h"

namespace Lumetra::Web {

struct CoverageSettings {
    std::string method = "match";  ///< match (IEnvironment::match) or identify (the tracking face)
    double fieldOfViewDegrees = 115;
    double noiseDegrees = 0.05;
    double dropProbability = 0.05;
    std::size_t spuriousRays = 1;
    double distance = 1.7;  ///< of the tracker from the marker plane
    int yaws = 8;
    std::vector<double> tiltsDegrees{0, 20};
    double threshold = 0.5;
    std::uint64_t seed = 1;
    double tolerance = 0;  ///< largest position error of a correct frame; 0: a quarter of a cell

    /// Throws std::runtime_error for a value out of range.
    void check() const;
    /// Horizontal reach of the camera on the marker plane: no marker farther from the tracker's
    /// foot appears in any of its frames. Infinite when the widest view reaches the horizon.
    double reach() const;
};

class CoverageCells {
public:
    CoverageCells(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description,
                  Testing::IEnvironment& environment, Testing::ITrackingEnvironment& tracking,
                  const std::vector<Testing::Point3>& markers, const CoverageSettings& settings);

    std::size_t columns() const { return columns_; }
    std::size_t rows() const { return rows_; }
    /// World x and z of position `index` (row after row).
    double x(std::size_t index) const;
    double z(std::size_t index) const;
    /// Share of frames identified correctly at position `index`.
    double share(std::size_t index) const;

private:
    bool correct(const Testing::TrackerPose& pose, const Testing::Frame& frame) const;

    Testing::IEnvironment& environment_;
    Testing::ITrackingEnvironment& tracking_;
    const std::vector<Testing::Point3>& markers_;
    CoverageSettings settings_;
    Testing::FrameOptions frameOptions_;
    std::size_t columns_, rows_;
    double step_, trackerHeight_, tolerance_;
};

}  // namespace Lumetra::Web
