#pragma once
// The IExceptionData face every interfaced object has: the calling thread's message. It is not
// reference-counted.

#include "interface/InterfaceRemap.h"
#include "interface/ThreadMessage.h"

namespace Lumetra::InterfaceContract::Details {

template <class Impl, class Owner>
class InterfaceRemap<IExceptionData, Impl, Owner> : public UnsafeRemap<IExceptionData, Impl> {
public:
    using UnsafeRemap<IExceptionData, Impl>::UnsafeRemap;

    ExceptionCode getMessage(ArrayOutMarshaler::Intermediate message) final {
        return deliverThreadMessage(message);
    }
    ExceptionCode setMessage(ArrayInMarshaler::Intermediate message) final {
        return replaceThreadMessage(message);
    }

protected:
    ~InterfaceRemap() = default;
};

}  // namespace Lumetra::InterfaceContract::Details
