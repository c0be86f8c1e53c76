#pragma once
// Base64 text to bytes. Both the standard and the URL-safe alphabet are read; padding is optional.

#include <cstdint>
#include <string_view>
#include <vector>

namespace LumetraSerialization::Base64Converter {

namespace Details {
/// A character's value is its index in this string.
inline constexpr std::string_view LookupTableToChar =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace Details

/// Decodes groups of four characters from the start; an "=" ends only its own group, a final
/// group of two or three characters is read as if padded and a final single character is
/// ignored. Throws std::runtime_error for a character outside the alphabet ("Wrong base64
/// string") or a group starting with "=".
std::vector<std::uint8_t> decode(std::string_view text);

}  // namespace LumetraSerialization::Base64Converter
