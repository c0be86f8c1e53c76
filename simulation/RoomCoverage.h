#pragma once
// Coverage of a room: for a lattice of tracker positions (one per cell by default), each seen at
// several distances from the marker plane, headings and tilts, the share of frames in which the
// tracker finds itself correctly by one method (match, identify, or track on a walk through the
// position), and the share in which a catalogued feature lies wholly in view (what any method
// needs). Plain C++ over the library's core: the command-line tool locates through the built
// library, a browser through the core linked in.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "environment/EnvironmentRecord.h"
#include "interface/InterfacePtr.h"
#include "math/Pose.h"
#include "simulation/FrameGenerator.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {
class Environment;
}

namespace Lumetra::Testing {

enum class LocateMethod { match, identify, track };

/// "match", "identify", "track".
std::string methodName(LocateMethod method);
std::optional<LocateMethod> parseMethod(const std::string& name);

/// What the camera sees and gets wrong.
struct CoverageCamera {
    std::string name = "typical";
    double fieldOfViewDegrees = 115;  ///< full opening angle of the cone
    double noiseDegrees = 0.05;       ///< standard deviation of each ray's direction error
    double dropProbability = 0.05;    ///< chance that a visible marker yields no ray
    std::size_t spuriousRays = 1;     ///< stray rays a frame
    double rate = 60;                 ///< frames a second, for walks
};

/// "exact", "typical" or "harsh"; nothing for another name.
std::optional<CoverageCamera> namedCamera(const std::string& name);

struct CoverageSettings {
    LocateMethod method = LocateMethod::identify;
    CoverageCamera camera;
    double minDistance = 1.2;  ///< of the tracker from the marker plane, metres
    double maxDistance = 2.0;
    int distances = 2;         ///< distances tried, evenly spread from minDistance to maxDistance
    int yaws = 8;              ///< headings tried, evenly spread
    std::vector<double> tiltsDegrees{0, 20};
    double step = 0;           ///< lattice spacing; 0: one position per cell, at its centre
    double threshold = 0.5;    ///< share of correct frames from which a position counts as covered
    double tolerance = 0;      ///< largest position error of a correct frame; 0: a quarter of a cell
    double walkSpeed = 1.5;    ///< track: metres a second of the walk through each position
    double walkLeadIn = 1.0;   ///< track: metres walked before the position's cell
    std::uint64_t seed = 1;
    unsigned threads = 0;      ///< 0: one per core

    std::size_t framesPerPosition() const;
    /// "identify, typical camera, 115 deg field of view, tracker 1.2-2 m from the markers".
    std::string describe() const;
};

struct RoomCoverage {
    std::vector<double> xs;  ///< lattice columns (world x), ascending
    std::vector<double> zs;  ///< lattice rows (world z), ascending
    double step = 0;
    double threshold = 0.5;
    std::size_t framesPerPosition = 0;
    std::vector<double> shares;        ///< per position, row after row: share of frames located correctly
    std::vector<double> identifiable;  ///< per position: share of frames with a catalogued feature wholly in view

    double share(std::size_t column, std::size_t row) const { return shares[row * xs.size() + column]; }
    std::size_t coveredPositions() const;
    double coveredFraction() const;       ///< positions with a share at least the threshold, over all
    double identifiableFraction() const;  ///< the same for the identifiable share
    double meanShare() const;
};

/// What one located frame gave.
struct Located {
    bool found = false;
    std::vector<Vesk::Environment::MarkerIndex> numbers;  ///< one per ray
    LumetraMath::poseP3Q<float> pose{};
};

/// Finds the tracker in a frame by a method; track starts from `predicted`. Called from several
/// threads at once.
class Locator {
public:
    virtual ~Locator() = default;
    virtual Located locate(LocateMethod method, const std::vector<Point3>& rays,
                           const LumetraMath::poseP3Q<float>* predicted) const = 0;
};

/// Locates through the library's core linked into the caller.
class CoreLocator : public Locator {
public:
    explicit CoreLocator(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& description);
    ~CoreLocator() override;
    Located locate(LocateMethod method, const std::vector<Point3>& rays,
                   const LumetraMath::poseP3Q<float>* predicted) const override;
    const Vesk::Environment::HorizontalGrid::Environment& environment() const { return *environment_; }

private:
    InterfaceContract::InterfacePtr<Vesk::Environment::HorizontalGrid::Environment> environment_;
};

/// The coverage of one layout position by position (index row after row, as in RoomCoverage), so
/// that a designer recomputes only the positions a change can reach. Safe to call from several
/// threads at once; every frame has its own seed, so a position's shares never depend on which
/// others are computed.
class CoverageEstimator {
public:
    /// Keeps references to `locator` and `settings`; throws std::invalid_argument as estimateCoverage.
    CoverageEstimator(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& layout, const Locator& locator,
                      const CoverageSettings& settings);
    ~CoverageEstimator();

    /// The lattice, with every share still 0.
    const RoomCoverage& lattice() const { return lattice_; }
    /// The share of frames located correctly at `position`, and the share with a feature in view.
    std::pair<double, double> shares(std::size_t position) const;

private:
    class Samples;
    const Vesk::Environment::HorizontalGrid::EnvironmentDescription& layout_;
    const Locator& locator_;
    const CoverageSettings& settings_;
    RoomCoverage lattice_;
    std::unique_ptr<const Samples> samples_;
};

/// Called after each position with the number done and the total; may be empty.
using CoverageProgress = std::function<void(std::size_t done, std::size_t total)>;

/// The coverage of the layout by `settings.method` through `locator`, on all cores (or
/// settings.threads); the same for any number of threads. Throws std::invalid_argument for
/// settings that give no frames or too many positions.
RoomCoverage estimateCoverage(const Vesk::Environment::HorizontalGrid::EnvironmentDescription& layout,
                              const Locator& locator, const CoverageSettings& settings,
                              const CoverageProgress& progress = {});

/// The identifiable share alone (no frame is located): per position, the share of noise-free frames
/// with at least `featuresNeeded` catalogued features wholly in view. Fast enough to steer a layout
/// search.
RoomCoverage identifiableCoverage(const Vesk::Environment::HorizontalGrid::Environment& environment,
                                  const Vesk::Environment::HorizontalGrid::EnvironmentDescription& layout,
                                  const CoverageSettings& settings, std::size_t featuresNeeded = 1);

}  // namespace Lumetra::Testing
