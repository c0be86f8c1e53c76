#pragma once
// The one funnel through which every decoding failure leaves the serialization readers.

#include <string>
#include <string_view>

namespace LumetraSerialization {

/// Prefix of a failed internal condition; the condition's text follows it directly.
inline constexpr std::string_view ErrorPrefix = "LumetraSerialization error ";

/// Throws std::runtime_error carrying `message` unchanged.
[[noreturn]] void throwError(std::string message);

/// Throws std::runtime_error carrying ErrorPrefix followed by `condition`.
[[noreturn]] void throwConditionFailed(std::string_view condition);

}  // namespace LumetraSerialization
