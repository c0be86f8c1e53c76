#include "serialization/Base64Converter.h"

#include <algorithm>
#include <array>

#include "serialization/Error.h"

namespace LumetraSerialization::Base64Converter {

namespace {

constexpr std::int8_t NotInAlphabet = -1;

/// Character to value, built from the alphabet at compile time; the URL-safe "-" and "_" read
/// as "+" and "/".
constexpr std::array<std::int8_t, 256> buildValueTable() {
    std::array<std::int8_t, 256> table{};
    table.fill(NotInAlphabet);
    for (std::size_t i = 0; i < Details::LookupTableToChar.size(); ++i)
        table[static_cast<unsigned char>(Details::LookupTableToChar[i])] = static_cast<std::int8_t>(i);
    table['-'] = table['+'];
    table['_'] = table['/'];
    return table;
}

constexpr std::array<std::int8_t, 256> ValueOf = buildValueTable();

std::uint8_t valueOf(char character) {
    const std::int8_t value = ValueOf[static_cast<unsigned char>(character)];
    if (value == NotInAlphabet) throwError("Wrong base64 string");
    return static_cast<std::uint8_t>(value);
}

}  // namespace

std::vector<std::uint8_t> decode(std::string_view text) {
    constexpr std::size_t GroupSize = 4;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / GroupSize * 3 + 2);
    // A trailing lone character carries fewer than eight bits and is skipped.
    for (std::size_t start = 0; start + 2 <= text.size(); start += GroupSize) {
        const std::string_view group = text.substr(start, GroupSize);
        const std::size_t significant = std::min(group.find('='), group.size());
        if (significant == 0) throwConditionFailed("itemsCountToProcess <= ProcessingRawBufferBytesCount");

        std::array<std::uint8_t, GroupSize> v{};
        for (std::size_t i = 0; i < significant; ++i) v[i] = valueOf(group[i]);
        const std::array<std::uint8_t, 3> decoded{
            static_cast<std::uint8_t>((v[0] << 2) | (v[1] >> 4)),
            static_cast<std::uint8_t>(((v[1] & 0x0F) << 4) | (v[2] >> 2)),
            static_cast<std::uint8_t>(((v[2] & 0x03) << 6) | v[3]),
        };
        bytes.insert(bytes.end(), decoded.begin(), decoded.begin() + static_cast<std::ptrdiff_t>(significant - 1));
    }
    return bytes;
}

}  // namespace LumetraSerialization::Base64Converter
