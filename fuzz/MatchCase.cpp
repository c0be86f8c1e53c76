#include "fuzz/MatchCase.h"

#include "simulation/SampleEnvironmentCodes.h"

#include <array>
#include <bit>
#include <limits>

namespace LumetraFuzz {

namespace {

using Vector3 = LumetraMath::vector<float, 3>;


constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float max = std::numeric_limits<float>::max();
constexpr float minNormal = std::numeric_limits<float>::min();
constexpr float minSubnormal = std::numeric_limits<float>::denorm_min();

constexpr std::array<float, 32> SpecialValues{
    0.0f, -0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 2.0f, -2.0f,                          // small
    inf, -inf, nan, -nan, max, -max, minNormal, -minNormal,                      // limits
    minSubnormal, -minSubnormal, 1e-20f, -1e-20f, 1e20f, -1e20f, 1e-7f, 0.001f,  // extremes
    0.6f, 0.3f, 1.275f, 2.5f, -2.5f, 1000.0f, 16777216.0f, -1e-38f,              // grid-like
};

class ValueReader {
public:
    ValueReader(std::span<const std::uint8_t> bytes, ValueEncoding encoding) : bytes_(bytes), encoding_(encoding) {}

    bool readVector(Vector3& v) { return read(v.x) && read(v.y) && read(v.z); }

private:
    bool read(float& value) {
        switch (encoding_) {
            case ValueEncoding::rawFloat:
            case ValueEncoding::repeatedRawFloat: {
                std::uint32_t bits = 0;
                if (!take(4, bits)) return false;
                value = std::bit_cast<float>(bits);
                return true;
            }
            case ValueEncoding::fixedPoint: {
                std::uint32_t bits = 0;
                if (!take(2, bits)) return false;
                value = static_cast<float>(static_cast<std::int16_t>(bits)) / 1024.0f;
                return true;
            }
            case ValueEncoding::specialValue: {
                std::uint32_t index = 0;
                if (!take(1, index)) return false;
                value = SpecialValues[index % SpecialValues.size()];
                return true;
            }
        }
        return false;
    }

    /// Little-endian unsigned value of the next `count` bytes.
    bool take(std::size_t count, std::uint32_t& value) {
        if (bytes_.size() < count) return false;
        for (std::size_t i = 0; i < count; ++i) value |= std::uint32_t{bytes_[i]} << (8 * i);
        bytes_ = bytes_.subspan(count);
        return true;
    }

    std::span<const std::uint8_t> bytes_;
    ValueEncoding encoding_;
};

void appendFloat(std::vector<std::uint8_t>& bytes, float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

}  // namespace

std::span<const std::string_view> matchEnvironmentCodes() { return LumetraTest::sampleEnvironmentCodes; }

MatchCase readMatchCase(std::span<const std::uint8_t> input, std::size_t environmentCount) {
    MatchCase matchCase;
    if (input.size() < 2) return matchCase;
    matchCase.environment = input[0] % environmentCount;
    matchCase.operation = static_cast<MatchOperation>(input[1] & 1);
    const auto encoding = static_cast<ValueEncoding>((input[1] >> 1) & 3);

    ValueReader reader(input.subspan(2), encoding);
    if (matchCase.operation == MatchOperation::matchByPosition && !reader.readVector(matchCase.position))
        return matchCase;
    for (Vector3 ray; reader.readVector(ray);) {
        matchCase.rays.push_back(ray);
        if (encoding == ValueEncoding::repeatedRawFloat) matchCase.rays.push_back(ray);
    }
    return matchCase;
}

std::vector<std::uint8_t> writeMatchCase(const MatchCase& matchCase) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(matchCase.environment),
                                    static_cast<std::uint8_t>(matchCase.operation)};
    const auto appendVector = [&](const Vector3& v) {
        appendFloat(bytes, v.x);
        appendFloat(bytes, v.y);
        appendFloat(bytes, v.z);
    };
    if (matchCase.operation == MatchOperation::matchByPosition) appendVector(matchCase.position);
    for (const Vector3& ray : matchCase.rays) appendVector(ray);
    return bytes;
}

}  // namespace LumetraFuzz
