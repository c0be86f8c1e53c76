#pragma once
// An exception that carries the result code the host receives for it.

#include <exception>
#include <string>
#include <utility>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace Lumetra::InterfaceContract {

class Exception : public std::exception {
public:
    Exception(ExceptionCode errorCode, std::string text) : code(errorCode), message(std::move(text)) {}

    const char* what() const noexcept override { return message.c_str(); }

    ExceptionCode code;
    std::string message;
};

}  // namespace Lumetra::InterfaceContract
