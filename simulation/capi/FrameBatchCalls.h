#pragma once
// What the C interface's loops over a batch of frames share: the check of the frames' offsets into
// the rays, and the out-array of one frame's marker indices handed to the library as its allocator.

#include <cstdint>
#include <limits>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace Lumetra::SimulationCApi {

/// Whether frames follow each other within the rays: offsets rise from 0 to at most `rayCount`,
/// with fewer than 2^32 rays a frame.
inline bool framesFollowEachOther(const std::uint64_t* offsets, std::uint64_t frameCount, std::uint64_t rayCount) {
    if (offsets[0] != 0 || offsets[frameCount] > rayCount) return false;
    for (std::uint64_t f = 0; f < frameCount; ++f)
        if (offsets[f + 1] < offsets[f] || offsets[f + 1] - offsets[f] > std::numeric_limits<std::uint32_t>::max())
            return false;
    return true;
}

/// One frame's slice of the caller's marker indices, filled by the library in place: it asks for
/// exactly the frame's ray count, and gets nothing for any other count.
struct FrameIndices {
    Vesk::Environment::MarkerIndex* data;
    std::uint32_t capacity;

    static void* allocate(void* context, std::uint32_t count) {
        auto& target = *static_cast<FrameIndices*>(context);
        return count == target.capacity ? target.data : nullptr;
    }
};

}  // namespace Lumetra::SimulationCApi
