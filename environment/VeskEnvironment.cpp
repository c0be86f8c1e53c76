#include "environment/VeskEnvironment.h"

VeskEnvironment::VeskEnvironment(float length, float proportion) : barLength(length), barProportion(proportion) {}

bool VeskEnvironment::isMutable() const { return false; }

std::uint64_t VeskEnvironment::getUpdateId() const { return 0; }

bool VeskEnvironment::filterRay(const LumetraMath::vector<float, 3>& a, const LumetraMath::vector<float, 3>& b) const {
    return a.x * b.x + a.y * b.y + a.z * b.z < 0.0f;
}
