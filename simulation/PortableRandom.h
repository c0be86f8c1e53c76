#pragma once
// Random draws that come out the same with every standard library: the uniform, normal and
// shuffling algorithms of the GNU library written out, so that frames made in the browser
// (WebAssembly, another standard library) equal the command-line tool's, seed for seed.

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace Lumetra::Testing {

/// Uniform in [0, 1): one 64-bit draw scaled by 2^-64 (std::generate_canonical<double, 53>).
inline double canonical(std::mt19937_64& rng) {
    const double value = static_cast<double>(rng()) / 18446744073709551616.0;
    return value >= 1.0 ? std::nextafter(1.0, 0.0) : value;
}

__extension__ using Unsigned128 = unsigned __int128;

/// Uniform in [0, range): Lemire's multiply-and-reject on 128 bits.
inline std::uint64_t uniformBelow(std::mt19937_64& rng, std::uint64_t range) {
    Unsigned128 product = static_cast<Unsigned128>(rng()) * range;
    auto low = static_cast<std::uint64_t>(product);
    if (low < range) {
        const std::uint64_t threshold = (0 - range) % range;
        while (low < threshold) {
            product = static_cast<Unsigned128>(rng()) * range;
            low = static_cast<std::uint64_t>(product);
        }
    }
    return static_cast<std::uint64_t>(product >> 64);
}

/// Normal variates by Marsaglia's polar method, the second of each pair kept for the next call.
class NormalVariate {
public:
    NormalVariate(double mean, double deviation) : mean_(mean), deviation_(deviation) {}

    double operator()(std::mt19937_64& rng) {
        double value;
        if (saved_) {
            saved_ = false;
            value = savedValue_;
        } else {
            double x, y, r2;
            do {
                x = 2.0 * canonical(rng) - 1.0;
                y = 2.0 * canonical(rng) - 1.0;
                r2 = x * x + y * y;
            } while (r2 > 1.0 || r2 == 0.0);
            const double scale = std::sqrt(-2 * std::log(r2) / r2);
            savedValue_ = x * scale;
            saved_ = true;
            value = y * scale;
        }
        return value * deviation_ + mean_;
    }

private:
    double mean_, deviation_;
    bool saved_ = false;
    double savedValue_ = 0;
};

/// A uniform random permutation; small ranges take two swap positions from one draw.
template <class T>
void shuffle(std::vector<T>& items, std::mt19937_64& rng) {
    const std::uint64_t count = items.size();
    if (count == 0) return;
    if (UINT64_MAX / count >= count) {
        std::size_t i = 1;
        const auto at = [](std::uint64_t index) { return static_cast<std::size_t>(index); };
        if (count % 2 == 0) std::swap(items[i++], items[at(uniformBelow(rng, 2))]);
        while (i != count) {
            const std::uint64_t range = i + 1;
            const std::uint64_t both = uniformBelow(rng, range * (range + 1));
            std::swap(items[i++], items[at(both / (range + 1))]);
            std::swap(items[i++], items[at(both % (range + 1))]);
        }
        return;
    }
    for (std::size_t i = 1; i != count; ++i) std::swap(items[i], items[static_cast<std::size_t>(uniformBelow(rng, i + 1))]);
}

}  // namespace Lumetra::Testing
