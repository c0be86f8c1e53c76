#include "interface/LifetimeController.h"

#include "interface/ThreadMessage.h"

namespace Lumetra::InterfaceContract {

std::string& LifetimeControllerBase::getExceptionContext() { return threadMessage(); }

void LifetimeControllerBase::setMessage(const std::string& message) { threadMessage() = message; }

LifeTimeController<0>::LifeTimeController() = default;

LifeTimeController<0>::~LifeTimeController() = default;

void LifeTimeController<0>::partialDestroy(int /*level*/) {}

std::uint32_t LifeTimeController<0>::AddRef() {
    const std::uint64_t previous = referenceCount.fetch_add(1);
    lifetimeCount.fetch_add(1);
    return static_cast<std::uint32_t>(previous + 1);
}

std::uint32_t LifeTimeController<0>::Release() {
    const std::uint64_t previous = referenceCount.fetch_sub(1);
    if (previous == 1) partialDestroy(0);
    if (lifetimeCount.fetch_sub(1) == 1) destroy();  // `this` is gone from here on
    return static_cast<std::uint32_t>(previous - 1);
}

ExceptionCode LifeTimeController<0>::QueryInterface(const InterfaceID& id, void** result) {
    if (result == nullptr) return ExceptionCode::InvalidPointer;
    bool needAddRef = false;
    remapHead_.first().getInterfacePointer(id, result, needAddRef);
    if (*result == nullptr) return ExceptionCode::NoInterface;
    // Every face counts on this object, so adding here is adding through the returned face.
    if (needAddRef) AddRef();
    return ExceptionCode::Ok;
}

}  // namespace Lumetra::InterfaceContract
