// The marker ellipse: the largest ellipse around a bar's centre that holds no marker of any
// neighbouring bar, found over every neighbour configuration the layout contains. The pattern
// search scales it to tell a bar's own middle marker from its neighbours' markers.

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "environment/Environment.h"
#include "math/QrDecomposition.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid {

namespace {

using Vector2 = Environment::Vector2;
using Vector3 = Environment::Vector3;
using Matrix2 = Environment::Matrix2;

/// Neighbours farther than this many cells along x or y never matter for the ellipse.
constexpr int neighbourReach = 6;
constexpr int neighbourSpan = 2 * neighbourReach + 1;

/// For each cell offset (u, v) within reach, seen from a bar turned back to rotation 0, the set of
/// relative rotations (bit k: the neighbour is turned k quarter turns further) that occur.
/// Row v + 6, column u + 6.
using NeighbourTable = std::array<std::uint8_t, neighbourSpan * neighbourSpan>;

/// Row-major quarter turns by index · 90° counter-clockwise.
constexpr int discreteRotations[4][4] = {{1, 0, 0, 1}, {0, -1, 1, 0}, {-1, 0, 0, -1}, {0, 1, -1, 0}};

void addNeighbour(NeighbourTable& table, const Bar& from, const Bar& to, int dx, int dy) {
    const unsigned fromRotation = from.rotation();
    const int* turnBack = discreteRotations[(0u - fromRotation) & 3u];
    const int u = turnBack[0] * dx + turnBack[1] * dy;
    const int v = turnBack[2] * dx + turnBack[3] * dy;
    table[static_cast<std::size_t>((v + neighbourReach) * neighbourSpan + (u + neighbourReach))] |=
        static_cast<std::uint8_t>(1u << ((to.rotation() - fromRotation) & 3u));
}

/// The neighbour table of every ordered pair of distinct bars within reach. The bars are looked up
/// by cell in a list sorted by (y, x), so the cost grows with the number of bars, not of pairs.
NeighbourTable buildNeighbourTable(const std::vector<Bar>& bars) {
    using CellKey = std::pair<long long, long long>;  // (y, x), wide enough for any offset
    const auto cellKey = [&](std::size_t i) {
        return CellKey{bars[i]._position.y, bars[i]._position.x};
    };
    std::vector<std::size_t> byCell(bars.size());
    std::iota(byCell.begin(), byCell.end(), std::size_t{0});
    std::sort(byCell.begin(), byCell.end(), [&](std::size_t a, std::size_t b) { return cellKey(a) < cellKey(b); });

    NeighbourTable table{};
    for (std::size_t a = 0; a < bars.size(); ++a) {
        const CellKey cell = cellKey(a);
        for (long long dy = -neighbourReach; dy <= neighbourReach; ++dy) {
            const CellKey lowest{cell.first + dy, cell.second - neighbourReach};
            const CellKey highest{cell.first + dy, cell.second + neighbourReach};
            auto it = std::lower_bound(byCell.begin(), byCell.end(), lowest,
                                       [&](std::size_t i, const CellKey& key) { return cellKey(i) < key; });
            for (; it != byCell.end() && !(highest < cellKey(*it)); ++it) {
                if (*it == a) continue;
                addNeighbour(table, bars[a], bars[*it], static_cast<int>(cellKey(*it).second - cell.second),
                             static_cast<int>(dy));
            }
        }
    }
    return table;
}

float squaredLength(const Vector2& p) { return p.x * p.x + p.y * p.y; }

/// Directions k·π/32, k = 0..31, in single precision; the first is exactly (1, 0).
std::array<Vector2, 32> ellipseDirections() {
    const float step = std::bit_cast<float>(std::uint32_t{0x3DC90FDB});  // π/32
    std::array<Vector2, 32> directions;
    directions[0] = {1.0f, 0.0f};
    for (std::size_t k = 1; k < directions.size(); ++k) {
        const float angle = static_cast<float>(k) * step;
        directions[k] = {std::cos(angle), std::sin(angle)};
    }
    return directions;
}

/// A point with its distance from the line through the origin along one direction.
struct PointNearLine {
    float distance;
    Vector2 point;
};

/// Ascending by distance; not-a-number distances (from non-finite input) go last.
bool nearerToLine(const PointNearLine& a, const PointNearLine& b) {
    if (std::isnan(b.distance)) return !std::isnan(a.distance);
    return a.distance < b.distance;
}

}  // namespace

std::vector<Vector2> Environment::getAllRelativeMarkers(const std::vector<Bar>& bars, const BarGeometries& barGeometries,
                                                        const Matrix2& slopeRotation, float cellSize, float barLength) {
    const NeighbourTable table = buildNeighbourTable(bars);
    const Vector2 barCenter{(barGeometries[0][0].x + barGeometries[0][2].x) * 0.5f,
                            (barGeometries[0][0].y + barGeometries[0][2].y) * 0.5f};
    std::vector<Vector2> markers;
    for (int v = -neighbourReach; v <= neighbourReach; ++v) {
        for (int u = -neighbourReach; u <= neighbourReach; ++u) {
            const unsigned rotations =
                table[static_cast<std::size_t>((v + neighbourReach) * neighbourSpan + (u + neighbourReach))];
            for (unsigned k = 0; k < 4; ++k) {
                if ((rotations & (1u << k)) == 0) continue;
                for (std::size_t m = 0; m < 3; ++m) {
                    const Vector2& q = barGeometries[k][m];
                    const Vector2 e{static_cast<float>(u) * cellSize + q.x - barCenter.x,
                                    static_cast<float>(v) * cellSize + q.y - barCenter.y};
                    markers.push_back((slopeRotation * e) / barLength);
                }
            }
        }
    }
    return markers;
}

Matrix2 Environment::ellipseFromAxis(const Vector2& a, const Vector2& b) {
    const float aLength = std::sqrt(squaredLength(a));
    const float bLength = std::sqrt(squaredLength(b));
    const Vector2 aUnit = a / aLength;
    const Vector2 bUnit = b / bLength;
    const Matrix2 axes{{aUnit.x, bUnit.x, aUnit.y, bUnit.y}};
    const float determinant = aUnit.x * bUnit.y - bUnit.x * aUnit.y;
    const Matrix2 inverse{{bUnit.y / determinant, -bUnit.x / determinant, -aUnit.y / determinant,
                           aUnit.x / determinant}};
    const Matrix2 lengths{{aLength, 0.0f, 0.0f, bLength}};
    return (axes * lengths) * inverse;
}

Vector3 Environment::computeEllipse(const std::vector<Bar>& bars, const BarGeometries& barGeometries,
                                    const Matrix2& slopeRotation, float cellSize, float barLength) {
    const float noNeighbourRadius = std::bit_cast<float>(std::uint32_t{0x3F19999A});  // 0.6
    const Vector3 noNeighbourEllipse{noNeighbourRadius, noNeighbourRadius, 0.0f};
    if (bars.size() < 2) return noNeighbourEllipse;

    const std::vector<Vector2> points = getAllRelativeMarkers(bars, barGeometries, slopeRotation, cellSize, barLength);

    // The nearest neighbour marker bounds a first, circular ellipse.
    float nearestSquared = std::numeric_limits<float>::infinity();
    for (const Vector2& p : points) nearestSquared = std::min(nearestSquared, squaredLength(p));
    // No neighbour within reach (or none at a finite distance): nothing constrains the ellipse.
    if (!(nearestSquared < std::numeric_limits<float>::infinity())) return noNeighbourEllipse;
    const float r = std::sqrt(nearestSquared);
    // A neighbour marker on the bar centre leaves no room for any ellipse.
    if (!(r > 0.0f)) return {0.0f, 0.0f, 0.0f};

    Matrix2 best = ellipseFromAxis({r, 0.0f}, {0.0f, r});
    float bestArea = r * r;

    const std::array<Vector2, 32> directions = ellipseDirections();
    const float step = (r - std::sqrt(r * r / 3.0f)) / 20.0f;
    if (step > 0.001f) {
        std::array<std::vector<PointNearLine>, 32> byDistance;
        for (std::size_t k = 0; k < directions.size(); ++k) {
            const Vector2& d = directions[k];
            byDistance[k].reserve(points.size());
            for (const Vector2& p : points) byDistance[k].push_back({std::fabs(d.x * p.y - d.y * p.x), p});
            std::sort(byDistance[k].begin(), byDistance[k].end(), nearerToLine);
        }
        // Short semi-axis R shrinks; for each direction the long semi-axis grows until it meets a
        // marker within R of the axis, up to three times R.
        for (float shortAxis = r; shortAxis > std::sqrt(bestArea / 3.0f); shortAxis -= step) {
            for (std::size_t k = 0; k < directions.size(); ++k) {
                const Vector2& d = directions[k];
                float elongationSquared = 9.0f;
                for (const PointNearLine& candidate : byDistance[k]) {
                    if (!(candidate.distance <= shortAxis)) break;
                    const float along = d.x * candidate.point.x + d.y * candidate.point.y;
                    const float limit =
                        along * along / (shortAxis * shortAxis - candidate.distance * candidate.distance);
                    elongationSquared = std::min(elongationSquared, limit);
                }
                const float elongation = std::sqrt(elongationSquared);
                const float area = shortAxis * shortAxis * elongation;
                if (area > bestArea) {
                    bestArea = area;
                    best = ellipseFromAxis(elongation * shortAxis * d, shortAxis * Vector2{-d.y, d.x});
                }
            }
        }
    }

    // Same ellipse as an upper-triangular matrix with a non-negative first entry.
    const Matrix2 swapped{{best(1, 0), best(0, 0), best(1, 1), best(0, 1)}};
    Matrix2 q, triangular;
    LumetraMath::qrDecompose(swapped, q, triangular);
    const Vector3 result{triangular(1, 1), triangular(0, 0), triangular(0, 1)};
    return triangular(1, 1) < 0.0f ? -result : result;
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
