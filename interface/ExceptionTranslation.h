#pragma once
// Exceptions never cross the host boundary: every adapter runs its work through guardedCall,
// which turns the exception being handled into the host's result code and records its text as
// the calling thread's message.

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace Lumetra::InterfaceContract {

/// Must be called inside a catch handler. Order: Exception (its own code and message),
/// std::invalid_argument, std::bad_alloc, other std::exception, anything else (empty message).
ExceptionCode translateCurrentException() noexcept;

/// The catch-all of every adapter; `Owner` names the object the failing call was made on.
template <class Owner>
ExceptionCode handleRemapException(Owner* /*object*/) noexcept {
    return translateCurrentException();
}

/// Runs `work`: Ok when it returns, the translated code when it throws.
template <class Owner, class Work>
ExceptionCode guardedCall(Owner* owner, Work&& work) noexcept {
    try {
        work();
        return ExceptionCode::Ok;
    } catch (...) {
        return handleRemapException(owner);
    }
}

}  // namespace Lumetra::InterfaceContract
