#include "interface/TrackerRemap.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace Lumetra::InterfaceContract {

using Vesk::Environment::HorizontalGrid::TrackerState;

void writeTrackerState(TrackerState* state, const TrackerState& full) noexcept {
    // Whole fields only: time is the one 8-byte field, every other one is 4 bytes wide.
    constexpr std::size_t first = sizeof(TrackerState::structSize);
    constexpr std::size_t timeEnd = offsetof(TrackerState, time) + sizeof(TrackerState::time);
    std::size_t end = std::min<std::size_t>(state->structSize, sizeof(TrackerState)) / 4 * 4;
    if (end < timeEnd) end = std::min<std::size_t>(end, offsetof(TrackerState, time));
    if (end > first)
        std::memcpy(reinterpret_cast<unsigned char*>(state) + first, reinterpret_cast<const unsigned char*>(&full) + first,
                    end - first);
}

}  // namespace Lumetra::InterfaceContract
