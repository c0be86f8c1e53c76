#pragma once
// An object that creates environments from environment codes, exposed as IEnvironmentConstructor.

#include <string>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "interface/EnvironmentConstructorRemap.h"
#include "interface/InterfacedObject.h"

namespace Lumetra::Vesk::Environment {

class VeskEnvironmentConstructor : public InterfaceContract::InterfacedObject {
public:
    /// The IEnvironment face of a new environment built from `environmentCode`, with one
    /// reference. Throws on an unreadable code or invalid environment.
    virtual InterfaceContract::InterfacePtr<IEnvironment> createEnvironment(const std::string& environmentCode) = 0;

protected:
    VeskEnvironmentConstructor() = default;
    ~VeskEnvironmentConstructor() override = default;

private:
    InterfaceContract::InterfaceFace<IEnvironmentConstructor, VeskEnvironmentConstructor> constructorFace_{*this};
};

/// Creates environments of class `Env`. createEnvironment is defined, for the one environment
/// class the library has, beside that class's code reader.
template <class Env>
class VeskEnvironmentConstructorGeneric : public VeskEnvironmentConstructor {
public:
    InterfaceContract::InterfacePtr<IEnvironment> createEnvironment(const std::string& environmentCode) override;

protected:
    VeskEnvironmentConstructorGeneric() = default;
    ~VeskEnvironmentConstructorGeneric() override = default;
};

}  // namespace Lumetra::Vesk::Environment
