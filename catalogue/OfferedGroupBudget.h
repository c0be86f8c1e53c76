#pragma once
// A bound on the work of building one feature catalogue, so that a dense layout fails with a clear
// error instead of hanging its caller.

#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>

namespace Lumetra::Vesk::Environment::HorizontalGrid {

class OfferedGroupBudget {
public:
    static constexpr std::size_t unlimited = std::numeric_limits<std::size_t>::max();

    explicit OfferedGroupBudget(std::size_t maxGroups) : remaining_(maxGroups), max_(maxGroups) {}

    /// Counts one more group; throws std::runtime_error once more than the maximum were counted.
    void spend() {
        if (remaining_ == 0)
            throw std::runtime_error("environment too complex: its feature catalogue would examine more than " +
                                     std::to_string(max_) + " bar groups");
        if (max_ != unlimited) --remaining_;
    }

private:
    std::size_t remaining_;
    std::size_t max_;
};

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
