#include "simulation/EnvironmentCodeWriter.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

#include "serialization/Base64Converter.h"

namespace LumetraTest {

void appendUVarint(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
    while (value >= 0x80) {
        bytes.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
}

void appendFloat(std::vector<std::uint8_t>& bytes, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
}

void appendString(std::vector<std::uint8_t>& bytes, std::string_view text) {
    appendUVarint(bytes, text.size());
    bytes.insert(bytes.end(), text.begin(), text.end());
}

std::vector<std::uint8_t> writeEnvironmentRecord(const EnvironmentDescription& description, unsigned version) {
    if (version > 2) throw std::invalid_argument("environment records exist in versions 0 to 2");
    std::vector<std::uint8_t> bytes;
    appendUVarint(bytes, version);
    appendString(bytes, description.schemeName);
    appendUVarint(bytes, description.size.x);
    appendUVarint(bytes, description.size.y);
    if (version >= 1) {
        appendFloat(bytes, description.barLength);
        appendFloat(bytes, description.barProportion);
        appendFloat(bytes, description.barSlope);
        appendFloat(bytes, description.barOffset.x);
        appendFloat(bytes, description.barOffset.y);
        bytes.push_back(description.ceiling ? 1 : 0);
        appendFloat(bytes, description.height);
        appendFloat(bytes, description.cellSize);
    }
    if (version >= 2) bytes.push_back(description.connectors ? 1 : 0);
    appendUVarint(bytes, description.bars.size());
    for (const auto& bar : description.bars) {
        appendUVarint(bytes, static_cast<std::uint32_t>(bar._position.x));
        appendUVarint(bytes, static_cast<std::uint32_t>(bar._position.y));
        bytes.push_back(bar._properties);
    }
    return bytes;
}

std::string encodeBase64(std::span<const std::uint8_t> bytes) {
    const std::string_view alphabet = LumetraSerialization::Base64Converter::Details::LookupTableToChar;
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (count > 1) group |= std::uint32_t{bytes[i + 1]} << 8;
        if (count > 2) group |= bytes[i + 2];
        for (std::size_t k = 0; k < 4; ++k)
            text += k <= count ? alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return text;
}

std::string writeEnvironmentCode(const EnvironmentDescription& description, unsigned version) {
    return encodeBase64(writeEnvironmentRecord(description, version));
}

}  // namespace LumetraTest
