#pragma once
// Windows of a wide view for identification. A frame of a wide camera holds too many rays for one
// pattern search (its cost grows with the cube of the rays, and its groups are capped at 64
// patterns), and rays far from the marker plane's normal are badly conditioned: their points on the
// projection plane move far for a small tilt or a little noise. The search therefore looks at
// bounded subsets of rays, those nearest the normal first: a window is the rays whose points lie
// nearest a centre on the projection plane.

#include <cstddef>
#include <vector>

#include "environment/VeskEnvironment.h"
#include "math/Vector.h"

namespace Lumetra::Vesk::Environment::HorizontalGrid::WindowedSearch {

using Vector2 = LumetraMath::vector<float, 2>;
using Vector3 = LumetraMath::vector<float, 3>;
using Window = std::vector<std::size_t>;

/// Rays one window holds at most; a frame of no more rays is searched whole.
inline constexpr std::size_t windowRays = 45;
/// Windows around the central one, evenly spread in direction about it.
inline constexpr std::size_t surroundingWindows = 6;

/// The central window: the whole frame when it has at most `windowRays` rays, otherwise the
/// `windowRays` rays on the markers' side (`markersBelow`: rays pointing down in the tracker's
/// frame) whose points lie nearest the projection's origin, the foot of the tracker's vertical.
Window centralWindow(const std::vector<Vector3>& rays, const std::vector<Vector2>& points, bool markersBelow);

/// The windows around the central one, for a frame larger than a window: centred on a ring about
/// the origin as wide as the central window reaches, `surroundingWindows` in number. Meant for
/// levelled rays, whose points are a true image of the marker plane.
std::vector<Window> surroundingWindowsOf(const std::vector<Vector3>& rays, const std::vector<Vector2>& points,
                                         bool markersBelow);

/// The bar patterns among the window's points, numbered as rays of the whole frame; with
/// `toleratingStrays` the search that admits a stray ray inside a bar's ellipse, its middle marker test
/// widened by the noise the prior ray noise puts on far points.
std::vector<VeskEnvironment::Pattern> windowPatterns(const std::vector<Vector2>& points, const Window& window,
                                                     float barProportion, const Vector3& markerEllipse,
                                                     bool toleratingStrays);

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid::WindowedSearch
