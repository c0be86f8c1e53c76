#include "catalogue/Combination.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

unsigned char checkedTurn(unsigned char rotation) {
    if (rotation > 3) throw std::invalid_argument("a combination is turned by 0 to 3 quarter turns");
    return rotation;
}

/// Two's complement wrap-around keeps extreme coordinates defined.
std::int32_t wrap(std::uint32_t value) { return static_cast<std::int32_t>(value); }
std::uint32_t bits(std::int32_t value) { return static_cast<std::uint32_t>(value); }

}  // namespace

Bar Combination::rotateBar(const Bar& bar, unsigned char rotation) {
    const unsigned char turn = checkedTurn(rotation);
    const std::uint32_t c = bits(cosOverHalfPi[turn]);
    const std::uint32_t s = bits(sinOverHalfPi[turn]);
    const std::uint32_t x = bits(bar._position.x);
    const std::uint32_t y = bits(bar._position.y);
    return Bar{{wrap(c * x - s * y), wrap(s * x + c * y)},
               static_cast<std::uint8_t>((bar._properties + turn) & 3u)};
}

Combination::Combination(const std::vector<Bar>& given, int rotation)
    : bars(given.size()), sourceBars(given.size()), order(given.size()) {
    const unsigned char turn = checkedTurn(static_cast<unsigned char>(rotation & 0xFF));
    std::vector<Bar> turned(given.size());
    std::transform(given.begin(), given.end(), turned.begin(), [turn](const Bar& bar) { return rotateBar(bar, turn); });
    if (!turned.empty()) {
        const auto byX = [](const Bar& a, const Bar& b) { return a._position.x < b._position.x; };
        const auto byY = [](const Bar& a, const Bar& b) { return a._position.y < b._position.y; };
        const std::uint32_t minX = bits(std::min_element(turned.begin(), turned.end(), byX)->_position.x);
        const std::uint32_t minY = bits(std::min_element(turned.begin(), turned.end(), byY)->_position.y);
        for (Bar& bar : turned)
            bar._position = {wrap(bits(bar._position.x) - minX), wrap(bits(bar._position.y) - minY)};
    }
    const auto cellIndex = [&turned](unsigned long k) {
        return bits(turned[k]._position.x) + side * bits(turned[k]._position.y);
    };
    std::iota(order.begin(), order.end(), 0ul);
    // Stable, so that bars sharing a cell keep their given order.
    std::stable_sort(order.begin(), order.end(),
                     [&cellIndex](unsigned long a, unsigned long b) { return cellIndex(a) < cellIndex(b); });
    for (std::size_t k = 0; k < order.size(); ++k) {
        bars[k] = turned[order[k]];
        sourceBars[k] = given[order[k]];
    }
    key = calculateKey();
}

unsigned long Combination::calculateKey() const {
    unsigned long sum = 0;
    for (std::size_t k = 0; k < bars.size(); ++k) {
        const Bar& bar = bars[k];
        sum += keyTerm(keyByte(bar.rotation(), bits(bar._position.x) + side * bits(bar._position.y)), k);
    }
    return sum;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
