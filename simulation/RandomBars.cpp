#include "simulation/RandomBars.h"

#include <algorithm>

namespace Lumetra::Vesk::Environment::HorizontalGrid::Testing {

std::vector<Bar> randomLayout(std::mt19937& random, int width, int height, double density) {
    std::bernoulli_distribution occupied(density);
    std::uniform_int_distribution<int> properties(0, 255);
    std::vector<Bar> bars;
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y)
            if (occupied(random)) bars.push_back(Bar{{x, y}, static_cast<std::uint8_t>(properties(random))});
    std::shuffle(bars.begin(), bars.end(), random);
    return bars;
}

std::vector<Bar> randomBars(std::mt19937& random, int width, int height, std::size_t count) {
    std::vector<Bar> all = randomLayout(random, width, height, 1.0);
    all.resize(std::min(count, all.size()));
    return all;
}

std::vector<Bar> moved(std::vector<Bar> bars, int dx, int dy) {
    for (Bar& bar : bars) bar._position = {bar._position.x + dx, bar._position.y + dy};
    return bars;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid::Testing
