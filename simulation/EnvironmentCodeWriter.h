#pragma once
// Writes environment codes for tests: the record of version 0, 1 or 2 for a description, and
// base64 text (standard alphabet, padded). The library itself only reads codes.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "environment/EnvironmentRecord.h"

namespace LumetraTest {

using Lumetra::Vesk::Environment::HorizontalGrid::EnvironmentDescription;

void appendUVarint(std::vector<std::uint8_t>& bytes, std::uint64_t value);
void appendFloat(std::vector<std::uint8_t>& bytes, float value);
void appendString(std::vector<std::uint8_t>& bytes, std::string_view text);

/// The record of `version` (0, 1 or 2) for `description`. Version 0 keeps only the scheme name,
/// size and bars; version 1 drops `connectors`. Bar coordinates are written as their 32-bit
/// two's complement, as the reader takes them back.
std::vector<std::uint8_t> writeEnvironmentRecord(const EnvironmentDescription& description, unsigned version = 2);

std::string encodeBase64(std::span<const std::uint8_t> bytes);

/// encodeBase64(writeEnvironmentRecord(description, version)).
std::string writeEnvironmentCode(const EnvironmentDescription& description, unsigned version = 2);

}  // namespace LumetraTest
