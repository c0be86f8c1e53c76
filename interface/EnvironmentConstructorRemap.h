#pragma once
// The IEnvironmentConstructor face and the ILibrary face, which adds nothing to it. `Impl`
// provides InterfacePtr<IEnvironment> createEnvironment(const std::string& environmentCode).

#include <stdexcept>

#include "interface/ArrayMarshaling.h"
#include "interface/ExceptionTranslation.h"
#include "interface/InterfacePtr.h"
#include "interface/InterfaceRemap.h"

namespace Lumetra::InterfaceContract::Details {

template <class Interface, class Impl, class Owner>
class EnvironmentConstructorRemap : public CountedRemap<Interface, Impl> {
public:
    using CountedRemap<Interface, Impl>::CountedRemap;

    ExceptionCode createEnvironment(ArrayInMarshaler::Intermediate environmentCode,
                                    Vesk::Environment::IEnvironment** result) final {
        Impl& constructor = this->implementation();
        return guardedCall(static_cast<Owner*>(&constructor), [&] {
            requirePointer(result, "result");
            const InterfacePtr<Vesk::Environment::IEnvironment> environment =
                constructor.createEnvironment(copyInText(environmentCode));
            if (!environment) throw std::runtime_error("no environment was created");
            environment.storeInto(result);
        });
    }

protected:
    ~EnvironmentConstructorRemap() = default;
};

template <class Impl, class Owner>
class InterfaceRemap<Vesk::Environment::IEnvironmentConstructor, Impl, Owner>
    : public EnvironmentConstructorRemap<Vesk::Environment::IEnvironmentConstructor, Impl, Owner> {
public:
    using EnvironmentConstructorRemap<Vesk::Environment::IEnvironmentConstructor, Impl,
                                      Owner>::EnvironmentConstructorRemap;

protected:
    ~InterfaceRemap() = default;
};

template <class Impl, class Owner>
class InterfaceRemap<Vesk::Environment::HorizontalGrid::ILibrary, Impl, Owner>
    : public EnvironmentConstructorRemap<Vesk::Environment::HorizontalGrid::ILibrary, Impl, Owner> {
public:
    using EnvironmentConstructorRemap<Vesk::Environment::HorizontalGrid::ILibrary, Impl,
                                      Owner>::EnvironmentConstructorRemap;

protected:
    ~InterfaceRemap() = default;
};

}  // namespace Lumetra::InterfaceContract::Details
