// Arbitrary bytes as an environment record and arbitrary text as an environment code. Reading may
// only succeed or throw std::runtime_error; anything else escapes and is reported by the engine.
// Three reads must agree: the bytes read directly, the bytes read through their base64 text, and
// a readable record read back after writing it again as version 2.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "environment/EnvironmentRecord.h"
#include "fuzz/FuzzCheck.h"
#include "serialization/Base64Converter.h"
#include "simulation/EnvironmentCodeWriter.h"

namespace {

using Lumetra::Vesk::Environment::HorizontalGrid::EnvironmentDescription;
namespace Serialization = Lumetra::Vesk::Environment::HorizontalGrid::Serialization;

bool sameBits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

bool sameDescription(const EnvironmentDescription& a, const EnvironmentDescription& b) {
    if (a.bars.size() != b.bars.size()) return false;
    for (std::size_t i = 0; i < a.bars.size(); ++i) {
        if (a.bars[i]._position.x != b.bars[i]._position.x || a.bars[i]._position.y != b.bars[i]._position.y ||
            a.bars[i]._properties != b.bars[i]._properties)
            return false;
    }
    return a.schemeName == b.schemeName && a.size.x == b.size.x && a.size.y == b.size.y &&
           sameBits(a.barLength, b.barLength) && sameBits(a.barProportion, b.barProportion) &&
           sameBits(a.barSlope, b.barSlope) && sameBits(a.barOffset.x, b.barOffset.x) &&
           sameBits(a.barOffset.y, b.barOffset.y) && a.ceiling == b.ceiling && sameBits(a.height, b.height) &&
           sameBits(a.cellSize, b.cellSize) && a.connectors == b.connectors;
}

/// The validated description of a record, or the reason it was refused.
struct Reading {
    std::optional<EnvironmentDescription> description;
    std::string failure;
};

template <class Read>
Reading attempt(Read read) {
    try {
        return {read(), {}};
    } catch (const std::runtime_error& error) {
        return {std::nullopt, error.what()};
    }
}

Reading readRecord(std::span<const std::uint8_t> bytes) {
    return attempt([&] {
        EnvironmentDescription description = Serialization::toDescription(Serialization::Versioned::deserialize(bytes));
        Lumetra::Vesk::Environment::HorizontalGrid::validateEnvironmentDescription(description);
        return description;
    });
}

Reading readCode(const std::string& code) {
    return attempt([&] { return Lumetra::Vesk::Environment::HorizontalGrid::decodeEnvironmentCode(code); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);

    const std::string encoded = LumetraTest::encodeBase64(bytes);
    const std::vector<std::uint8_t> decoded = LumetraSerialization::Base64Converter::decode(encoded);
    LUMETRA_FUZZ_CHECK(std::equal(decoded.begin(), decoded.end(), bytes.begin(), bytes.end()),
                       "base64 text of %zu bytes decodes to %zu different bytes", size, decoded.size());

    const Reading direct = readRecord(bytes);
    const Reading throughText = readCode(encoded);
    LUMETRA_FUZZ_CHECK(direct.failure == throughText.failure, "record read \"%s\", its code read \"%s\"",
                       direct.failure.c_str(), throughText.failure.c_str());
    if (direct.description) {
        LUMETRA_FUZZ_CHECK(sameDescription(*direct.description, *throughText.description),
                           "a record and its code read differently");
        const Reading rewritten = readRecord(LumetraTest::writeEnvironmentRecord(*direct.description, 2));
        LUMETRA_FUZZ_CHECK(rewritten.description && sameDescription(*direct.description, *rewritten.description),
                           "a record written again as version 2 reads differently: %s", rewritten.failure.c_str());
    }

    // The same bytes taken as the text of a code.
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const std::vector<std::uint8_t> textBytes = LumetraSerialization::Base64Converter::decode(text);
        LUMETRA_FUZZ_CHECK(textBytes.size() <= size / 4 * 3 + 2, "%zu characters decode to %zu bytes", size,
                           textBytes.size());
    } catch (const std::runtime_error&) {
    }
    readCode(text);
    return 0;
}
