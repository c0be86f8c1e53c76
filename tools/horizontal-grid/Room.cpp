#include "tools/horizontal-grid/Room.h"

#include <algorithm>
#include <cmath>

namespace Lumetra::Tools {
namespace {

/// "8x5" or "8.4X5.2" → the two sizes; nothing unless both are positive, finite numbers.
std::optional<RoomSize> parseRoom(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return c == 'X' ? 'x' : c; });
    const std::size_t separator = text.find('x');
    if (separator == std::string::npos) return std::nullopt;
    RoomSize room;
    if (!CLI::detail::lexical_cast(text.substr(0, separator), room.width) ||
        !CLI::detail::lexical_cast(text.substr(separator + 1), room.depth))
        return std::nullopt;
    if (!std::isfinite(room.width) || !std::isfinite(room.depth) || !(room.width > 0) || !(room.depth > 0) ||
        room.width > 1e6 || room.depth > 1e6)
        return std::nullopt;
    return room;
}

}  // namespace

CLI::Option* addRoomOption(CLI::App& command, const std::string& name, std::optional<RoomSize>& room,
                           const std::string& help) {
    return command
        .add_option_function<std::string>(
            name,
            [&room](const std::string& text) { room = parseRoom(text); },
            help)
        ->type_name("WxD")
        ->check(CLI::Validator(
            [](const std::string& text) {
                return parseRoom(text) ? std::string()
                                       : "Value " + text + " is not a room WIDTHxDEPTH in metres, such as 8x5";
            },
            ""));
}

RoomSize MarkerBox::roomNeeded() const {
    return {2 * std::max(std::abs(minX), std::abs(maxX)), 2 * std::max(std::abs(minZ), std::abs(maxZ))};
}

bool MarkerBox::inside(const RoomSize& room, double margin) const {
    const double halfWidth = 0.5 * room.width - margin, halfDepth = 0.5 * room.depth - margin;
    return minX >= -halfWidth && maxX <= halfWidth && minZ >= -halfDepth && maxZ <= halfDepth;
}

std::optional<MarkerBox> markerBox(const std::vector<LumetraMath::vector<float, 2>>& markers) {
    if (markers.empty()) return std::nullopt;
    MarkerBox box{markers[0].x, markers[0].x, markers[0].y, markers[0].y};
    for (const auto& marker : markers) {
        box.minX = std::min(box.minX, static_cast<double>(marker.x));
        box.maxX = std::max(box.maxX, static_cast<double>(marker.x));
        box.minZ = std::min(box.minZ, static_cast<double>(marker.y));
        box.maxZ = std::max(box.maxZ, static_cast<double>(marker.y));
    }
    return box;
}

}  // namespace Lumetra::Tools
