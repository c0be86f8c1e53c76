#pragma once
// Rooms in metres: the size a user gives ("8x5"), and the box the markers of a layout span. The
// grid is centred on the world origin, so a room is too.

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "math/Vector.h"

namespace Lumetra::Tools {

struct RoomSize {
    double width = 0;  ///< along world x, metres
    double depth = 0;  ///< along world z, metres
};

/// Adds `name` taking "WIDTHxDEPTH" in metres (e.g. 8x5) to `command`.
CLI::Option* addRoomOption(CLI::App& command, const std::string& name, std::optional<RoomSize>& room,
                           const std::string& help);

/// The box the markers span (world x and z), or nothing without markers.
struct MarkerBox {
    double minX = 0, maxX = 0, minZ = 0, maxZ = 0;

    double width() const { return maxX - minX; }
    double depth() const { return maxZ - minZ; }
    /// The smallest room centred on the origin that holds every marker.
    RoomSize roomNeeded() const;
    bool inside(const RoomSize& room, double margin) const;
};

std::optional<MarkerBox> markerBox(const std::vector<LumetraMath::vector<float, 2>>& markers);

}  // namespace Lumetra::Tools
