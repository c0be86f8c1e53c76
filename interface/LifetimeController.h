#pragma once
// Reference counting and interface lookup of every object the library hands to a host.

#include <atomic>
#include <cstdint>
#include <string>

#include "LumetraVeskEnvironmentHorizontalGrid.h"
#include "interface/ExceptionDataRemap.h"
#include "interface/InterfacePtr.h"
#include "interface/InterfaceRemap.h"
#include "interface/RemapContainer.h"

namespace Lumetra::InterfaceContract {

/// Counts how long the object must live, in references of any kind, and deletes it at zero.
class LifetimeControllerBase {
public:
    LifetimeControllerBase(const LifetimeControllerBase&) = delete;
    LifetimeControllerBase& operator=(const LifetimeControllerBase&) = delete;

    virtual ~LifetimeControllerBase() = default;

    /// Ends the object's life once nothing counts on it any more.
    virtual void destroy() { delete this; }

    /// The calling thread's message, shared by all objects.
    static std::string& getExceptionContext();
    static void setMessage(const std::string& message);

protected:
    LifetimeControllerBase() = default;

    std::atomic<std::uint64_t> lifetimeCount{0};
};

/// Counts the references held through interfaces and owns the object's face chain with the two
/// faces every object has, IInterface and IExceptionData. The template argument only names this
/// level of control; 0 is the one level the library uses.
template <>
class LifeTimeController<0> : public virtual LifetimeControllerBase {
public:
    /// Called when the last interface reference goes, before the object may be destroyed.
    virtual void partialDestroy(int level);

    ~LifeTimeController() override;

    /// Both return the new reference count, truncated to 32 bits.
    std::uint32_t AddRef();
    std::uint32_t Release();

    /// Walks the face chain from the most derived face. Ok with a reference added (none for
    /// IExceptionData), NoInterface with *result null, InvalidPointer for a null result.
    ExceptionCode QueryInterface(const InterfaceID& id, void** result);

    /// QueryInterface for a counted interface, as a smart pointer (null when there is no face).
    template <class Interface>
    InterfacePtr<Interface> queryInterface() {
        static_assert(std::is_base_of_v<IInterface, Interface>, "only counted interfaces");
        void* face = nullptr;
        QueryInterface(Interface::interfaceId, &face);
        return InterfacePtr<Interface>::adopt(static_cast<Interface*>(face));
    }

protected:
    LifeTimeController();

private:
    template <class Patch>
    friend class Details::RemapContainer;

    Details::RemapContainerHead& remapChain() { return remapHead_; }

    std::atomic<std::uint64_t> referenceCount{0};
    // Declared before the faces: they link themselves to it as they are constructed.
    Details::RemapContainerHead remapHead_;
    Details::RemapContainer<Details::RemapPatch<Details::InterfaceRemap<IInterface, LifeTimeController>>>
        interfaceFace_{*this};
    Details::RemapContainer<Details::RemapPatch<Details::InterfaceRemap<IExceptionData, LifeTimeController>>>
        exceptionDataFace_{*this};
};

}  // namespace Lumetra::InterfaceContract
