#pragma once
// The error message of the calling thread, shared by every object of the library, and the two
// IExceptionData operations on it.

#include <string>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace Lumetra::InterfaceContract {

/// The calling thread's message: created empty on the thread's first use, destroyed at its exit.
std::string& threadMessage();

/// IExceptionData::getMessage: delivers the message by the out-array protocol. Any failure
/// gives Failed and is not recorded as a message.
ExceptionCode deliverThreadMessage(ArrayOutMarshaler::Intermediate message) noexcept;

/// IExceptionData::setMessage: replaces the message with the host's bytes. Any failure gives
/// Failed and leaves the message as it was.
ExceptionCode replaceThreadMessage(ArrayInMarshaler::Intermediate message) noexcept;

}  // namespace Lumetra::InterfaceContract
