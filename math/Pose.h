#pragma once
// A rigid pose: tracker origin in world coordinates and the rotation that turns tracker-frame
// vectors into world-frame vectors. Written in place through the host interface, seven floats.

#include <type_traits>

#include "math/Quaternion.h"
#include "math/Vector.h"

namespace LumetraMath {

template <typename T>
struct poseP3Q {
    vector<T, 3> position{};
    quaternion<T> rotation{};
};

static_assert(sizeof(poseP3Q<float>) == 28);
static_assert(std::is_trivially_copyable_v<poseP3Q<float>>);

}  // namespace LumetraMath
