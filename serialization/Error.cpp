#include "serialization/Error.h"

#include <stdexcept>

namespace LumetraSerialization {

void throwError(std::string message) { throw std::runtime_error(std::move(message)); }

void throwConditionFailed(std::string_view condition) {
    std::string message(ErrorPrefix);
    message += condition;
    throwError(std::move(message));
}

}  // namespace LumetraSerialization
