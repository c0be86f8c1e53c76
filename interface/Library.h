#pragma once
// The library object a host obtains from getLibraryInterface: an environment constructor for
// horizontal grid environments, exposed as ILibrary.

#include <string>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "interface/EnvironmentConstructorRemap.h"
#include "interface/InterfacedObject.h"
#include "interface/VeskEnvironmentConstructor.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Environment;

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid

namespace Lumetra::Vesk::Environment {

// Defined in environment/EnvironmentConstructor.cpp, with the reading of environment codes.
template <>
InterfaceContract::InterfacePtr<IEnvironment>
VeskEnvironmentConstructorGeneric<HorizontalGrid::Environment>::createEnvironment(const std::string& environmentCode);

}  // namespace Lumetra::Vesk::Environment

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class Library final : public VeskEnvironmentConstructorGeneric<Environment> {
public:
    Library() = default;

private:
    ~Library() override = default;  // deleted only by its last Release

    InterfaceContract::InterfaceFace<ILibrary, Library> libraryFace_{*this};
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
