#pragma once
// Places short text labels near their points so that they overlap neither each other nor the
// marks registered as obstacles: each label tries positions around its point, the preferred
// direction first, and takes the first free one (or the least crowded).

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace Lumetra::Tools {

struct Box {
    double left, top, right, bottom;
    bool overlaps(const Box& other) const {
        return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
    }
};

class LabelPlacer {
public:
    /// `fontSize` sets the label boxes and the search distances, in pixels.
    explicit LabelPlacer(double fontSize);

    void addObstacle(const Box& box);

    /// The centre of the label `text` placed near (x, y); `towardX/Y` is the preferred direction.
    std::pair<double, double> place(double x, double y, const std::string& text, double towardX, double towardY);

    /// The box a label of `text` centred at (x, y) covers.
    Box labelBox(double x, double y, const std::string& text) const;

private:
    std::size_t overlaps(const Box& box) const;
    template <class Visit>
    void forBuckets(const Box& box, Visit visit) const;

    double fontSize_;
    double bucketSize_;
    std::vector<Box> boxes_;
    std::unordered_map<long long, std::vector<std::size_t>> buckets_;
};

}  // namespace Lumetra::Tools
