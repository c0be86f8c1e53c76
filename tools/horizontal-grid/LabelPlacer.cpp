#include "tools/horizontal-grid/LabelPlacer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace Lumetra::Tools {

LabelPlacer::LabelPlacer(double fontSize) : fontSize_(fontSize), bucketSize_(4 * fontSize) {}

template <class Visit>
void LabelPlacer::forBuckets(const Box& box, Visit visit) const {
    const auto first = [&](double v) { return static_cast<long long>(std::floor(v / bucketSize_)); };
    for (long long row = first(box.top); row <= first(box.bottom); ++row)
        for (long long column = first(box.left); column <= first(box.right); ++column)
            visit(row * 2000003LL + column);
}

void LabelPlacer::addObstacle(const Box& box) {
    boxes_.push_back(box);
    forBuckets(box, [&](long long key) { buckets_[key].push_back(boxes_.size() - 1); });
}

Box LabelPlacer::labelBox(double x, double y, const std::string& text) const {
    // Sans-serif digits are a little over half as wide as the font is high.
    const double halfWidth = 0.3 * fontSize_ * static_cast<double>(text.size()) + 0.1 * fontSize_;
    const double halfHeight = 0.5 * fontSize_;
    return {x - halfWidth, y - halfHeight, x + halfWidth, y + halfHeight};
}

std::size_t LabelPlacer::overlaps(const Box& box) const {
    std::vector<std::size_t> seen;
    forBuckets(box, [&](long long key) {
        const auto found = buckets_.find(key);
        if (found == buckets_.end()) return;
        for (const std::size_t index : found->second)
            if (boxes_[index].overlaps(box) && std::find(seen.begin(), seen.end(), index) == seen.end())
                seen.push_back(index);
    });
    return seen.size();
}

std::pair<double, double> LabelPlacer::place(double x, double y, const std::string& text, double towardX,
                                             double towardY) {
    const double preferred = std::atan2(towardY, towardX);
    std::pair<double, double> best{x, y};
    std::size_t fewest = std::numeric_limits<std::size_t>::max();
    for (const double distance : {1.2, 1.9, 2.8}) {
        // The preferred direction, then alternately either side of it.
        for (const int step : {0, 1, -1, 2, -2, 3, -3, 4}) {
            const double angle = preferred + step * std::numbers::pi / 4;
            const double reach = distance * fontSize_ * (1 + 0.15 * static_cast<double>(text.size()) * std::abs(std::cos(angle)));
            const double cx = x + reach * std::cos(angle), cy = y + reach * std::sin(angle);
            const std::size_t crowd = overlaps(labelBox(cx, cy, text));
            if (crowd < fewest) fewest = crowd, best = {cx, cy};
            if (crowd == 0) break;
        }
        if (fewest == 0) break;
    }
    addObstacle(labelBox(best.first, best.second, text));
    return best;
}

}  // namespace Lumetra::Tools
