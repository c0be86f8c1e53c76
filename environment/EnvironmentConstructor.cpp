// Creation of horizontal grid environments from environment codes.

#include <string>
#include <utility>

#include "environment/Environment.h"
#include "environment/EnvironmentRecord.h"
#include "interface/Library.h"

namespace Lumetra::Vesk::Environment {

// The new environment's IEnvironment face carries the one reference handed back; the creator's
// own reference is dropped on the way out.
template <>
InterfaceContract::InterfacePtr<IEnvironment>
VeskEnvironmentConstructorGeneric<HorizontalGrid::Environment>::createEnvironment(const std::string& environmentCode) {
    HorizontalGrid::EnvironmentDescription description = HorizontalGrid::decodeEnvironmentCode(environmentCode);
    return InterfaceContract::createInterfaced<IEnvironment, HorizontalGrid::Environment>(
        description.barLength, description.barProportion, description.barSlope, description.barOffset,
        description.cellSize, std::move(description.bars), description.size, description.ceiling,
        description.height);
}

}  // namespace Lumetra::Vesk::Environment
