// Creation of horizontal grid environments from environment codes. Until the code reader is
// part of this build, every code is refused.

#include <stdexcept>
#include <string>

#include "interface/Library.h"

namespace Lumetra::Vesk::Environment {

template <>
InterfaceContract::InterfacePtr<IEnvironment>
VeskEnvironmentConstructorGeneric<HorizontalGrid::Environment>::createEnvironment(const std::string&) {
    throw std::runtime_error("environment codes cannot be read by this build");
}

}  // namespace Lumetra::Vesk::Environment
