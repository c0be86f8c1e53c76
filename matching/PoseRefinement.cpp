// Gauss-Newton over position and a world-frame rotation increment, with a fixed-size 6 x 6 normal
// matrix and no allocation, so that a frame of a few dozen rays refines in a few microseconds.

#include "matching/PoseRefinement.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include <emmintrin.h>

namespace Lumetra::Vesk::Environment::HorizontalGrid {
namespace {

using V3 = LumetraMath::vector<double, 3>;
using Q = LumetraMath::quaternion<double>;
using M3 = LumetraMath::matrix<double, 3, 3>;

constexpr std::uint32_t maxIterations = 30;
/// Damping of a step that did not lower the squared sum: the first, and the factor by which it
/// grows until a step does (or gives up beyond the largest, where the step has shrunk to a
/// gradient step far too short to matter).
constexpr double firstDamping = 1e-3, dampingGrowth = 10, largestDamping = 1e8;
/// The stationarity test: the pose has settled when the undamped Gauss-Newton step, the gradient
/// measured by the normal matrix, is smaller than this (radians, position scaled by the mean
/// marker distance). That step is taken without another normal matrix (Gauss-Newton converges
/// about quadratically this close, so what it leaves is of the order of its square), and one pass
/// over the rays measures the residuals at the pose it reaches. No other way out of the loop
/// counts as settled.
constexpr double lastStep = 1e-4;
/// The residual variance blends a prior ray noise, worth this many degrees of freedom, with the
/// fit's own spread: a fit of few rays has too few residuals to measure its noise (three rays fit
/// exactly), and one of many rays is judged by its own.
constexpr double priorFreedom = 4;
/// A pivot of the unit-diagonal normal matrix below this marks a direction the rays do not fix.
constexpr double rankPivotLimit = 1e-12;

/// Normal equations J^T J and J^T r of the tangent-plane residuals at one pose.
struct Normals {
    double a[6][6] = {};
    double b[6] = {};
    double cost = 0;  // sum of squared residuals: the squared sines of the ray angles
    double largestSine2 = 0;
    double distanceSum = 0;  // from the tracker to every marker
    bool valid = false;  // every value finite and every marker in front of its ray
};

/// The residuals of one ray, taken along two unit axes square to the turned ray, and their
/// derivatives by (position, rotation vector). Which two axes does not change the squared sum (the
/// squared sine of the angle), so they are built from the turned ray at every pose and treated as
/// turning with the tracker for the derivative. False when the marker lies behind the ray.
struct RayResiduals {
    double residual[2];
    double jacobian[2][6];
    double distance;  // from the tracker to the marker
    V3 ray, axes[2];  // the turned ray and the residuals' axes
};

bool rayResiduals(const LumetraMath::vector<float, 3>& ray, const LumetraMath::vector<float, 3>& marker,
                  const V3& position, const M3& rotation, RayResiduals& out) {
    V3 d = rotation * LumetraMath::vectorCast<double>(ray);
    d = d * (1.0 / LumetraMath::length(d));
    V3 first = std::fabs(d.x) < 0.6 ? V3{0, d.z, -d.y} : V3{-d.z, 0, d.x};  // d x (1,0,0) or d x (0,1,0)
    first = first * (1.0 / LumetraMath::length(first));
    out.ray = d;
    out.axes[0] = first;
    out.axes[1] = LumetraMath::cross(d, first);
    const V3* axes = out.axes;
    const V3 toMarker = LumetraMath::vectorCast<double>(marker) - position;
    out.distance = LumetraMath::length(toMarker);
    const double inverseDistance = 1.0 / out.distance;
    const V3 u = toMarker * inverseDistance;
    if (!(LumetraMath::dot(d, u) > 0)) return false;
    for (std::size_t k = 0; k < 2; ++k) {
        const V3& e = axes[k];
        const double residual = LumetraMath::dot(e, u);
        // d(e.u)/dp = -(e - (e.u) u) / distance; d(e.u)/dθ = e x u (e turns with the tracker).
        const V3 dp = (e - u * residual) * -inverseDistance;
        const V3 dr = LumetraMath::cross(e, u);
        out.residual[k] = residual;
        const double j[6] = {dp.x, dp.y, dp.z, dr.x, dr.y, dr.z};
        for (std::size_t c = 0; c < 6; ++c) out.jacobian[k][c] = j[c];
    }
    return true;
}

/// The same quantity for two rays side by side (packed double precision, present on every x86-64).
using Pair = __m128d;
struct PairVector {
    Pair x, y, z;
};
Pair dot(const PairVector& a, const PairVector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
PairVector scaled(const PairVector& a, Pair s) { return {a.x * s, a.y * s, a.z * s}; }
PairVector minus(const PairVector& a, const PairVector& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
PairVector cross(const PairVector& a, const PairVector& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double sum(Pair p) { return p[0] + p[1]; }

/// The normal equations without building the residual axes: with G = [-(I - u u^T) / distance, [u]x]
/// the derivative of the direction u to the marker and P = I - d d^T the projection square to the
/// turned ray d, J^T J = G^T P G = G^T G - (G^T d)(G^T d)^T and J^T r = G^T (P u). G^T G sums to
/// a few 3 x 3 moments of the directions, so a ray costs a quarter of the full products.
Normals evaluate(std::span<const LumetraMath::vector<float, 3>> rays,
                 std::span<const LumetraMath::vector<float, 3>> markers, const V3& position, const M3& rotation) {
    // Two rays at a time, one in each half of a packed pair; an odd last ray is paired with itself
    // and its copy weighted 0.
    Normals n;
    const Pair zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
    Pair inverse2 = zero, count = zero, cost = zero, largest = zero, distances = zero;
    Pair weighted[6], plain[6], across[3], b[6], outer[21];  // moments as in the comment above
    for (Pair& p : weighted) p = zero;
    for (Pair& p : plain) p = zero;
    for (Pair& p : across) p = zero;
    for (Pair& p : b) p = zero;
    for (Pair& p : outer) p = zero;
    const M3& m = rotation;
    for (std::size_t i = 0; i < rays.size(); i += 2) {
        const std::size_t j = i + 1 < rays.size() ? i + 1 : i;
        const Pair weight = {1.0, j == i ? 0.0 : 1.0};
        const PairVector ray{{rays[i].x, rays[j].x}, {rays[i].y, rays[j].y}, {rays[i].z, rays[j].z}};
        PairVector d{m(0, 0) * ray.x + m(0, 1) * ray.y + m(0, 2) * ray.z,
                     m(1, 0) * ray.x + m(1, 1) * ray.y + m(1, 2) * ray.z,
                     m(2, 0) * ray.x + m(2, 1) * ray.y + m(2, 2) * ray.z};
        d = scaled(d, one / _mm_sqrt_pd(dot(d, d)));
        const PairVector toMarker{Pair{markers[i].x, markers[j].x} - position.x,
                                  Pair{markers[i].y, markers[j].y} - position.y,
                                  Pair{markers[i].z, markers[j].z} - position.z};
        const Pair distance = _mm_sqrt_pd(dot(toMarker, toMarker));
        const Pair inverse = one / distance;
        const PairVector u = scaled(toMarker, inverse);
        const Pair c = dot(d, u);
        if (_mm_movemask_pd(_mm_cmpgt_pd(c, zero)) != 3) return n;
        const PairVector w = minus(u, scaled(d, c));  // the residual: the direction to the marker square to the ray
        const PairVector bp = scaled(minus(w, scaled(u, dot(u, w))), -inverse), br = cross(w, u);
        const PairVector gp = scaled(minus(d, scaled(u, c)), -inverse * weight), gr = scaled(cross(d, u), weight);
        const Pair bs[6] = {bp.x, bp.y, bp.z, br.x, br.y, br.z};
        const Pair g[6] = {gp.x, gp.y, gp.z, gr.x, gr.y, gr.z};
        for (std::size_t r = 0, e = 0; r < 6; ++r) {
            b[r] += bs[r] * weight;
            for (std::size_t k = r; k < 6; ++k, ++e) outer[e] += g[r] * g[k];
        }
        const Pair uu[6] = {u.x * u.x, u.x * u.y, u.x * u.z, u.y * u.y, u.y * u.z, u.z * u.z};
        const Pair inverseSquared = inverse * inverse * weight;
        for (std::size_t k = 0; k < 6; ++k) {
            weighted[k] += uu[k] * inverseSquared;
            plain[k] += uu[k] * weight;
        }
        inverse2 += inverseSquared;
        count += weight;
        distances += distance * weight;
        const Pair across1 = inverse * weight;
        across[0] += u.x * across1;
        across[1] += u.y * across1;
        across[2] += u.z * across1;
        const Pair sine2 = dot(w, w);
        cost += sine2 * weight;
        largest = _mm_max_pd(largest, sine2);
    }
    n.cost = sum(cost);
    n.largestSine2 = std::max(largest[0], largest[1]);
    n.distanceSum = sum(distances);
    for (std::size_t r = 0, e = 0; r < 6; ++r) {
        n.b[r] = sum(b[r]);
        for (std::size_t k = r; k < 6; ++k, ++e) n.a[r][k] = -sum(outer[e]);  // the rest is added below
    }
    // G^T G: (I - u u^T) / distance^2, -[u]x / distance and I - u u^T, summed over the rays.
    constexpr std::size_t moment[3][3] = {{0, 1, 2}, {1, 3, 4}, {2, 4, 5}};
    const double rayCount = sum(count), inverseSum = sum(inverse2);
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t k = r; k < 3; ++k) {
            const double identity = r == k ? 1.0 : 0.0;
            n.a[r][k] += identity * inverseSum - sum(weighted[moment[r][k]]);
            n.a[r + 3][k + 3] += identity * rayCount - sum(plain[moment[r][k]]);
        }
    const V3 a{sum(across[0]), sum(across[1]), sum(across[2])};
    const double crossOf[3][3] = {{0, -a.z, a.y}, {a.z, 0, -a.x}, {-a.y, a.x, 0}};
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t k = 0; k < 3; ++k) n.a[r][k + 3] -= crossOf[r][k];
    n.valid = std::isfinite(n.cost);
    return n;
}

/// Cholesky factor L of the normal matrix scaled to a unit diagonal, D A D = L L^T with
/// D = diag(scale), scale[i] = 1 / sqrt(a_ii); reciprocals of L's diagonal spare the solves their
/// divisions.
struct Factor {
    double l[6][6] = {};
    double inverseDiagonal[6] = {};
    double scale[6] = {};
};

/// False when a scaled pivot falls below the rank limit or is not finite. `damping` > 0 factors
/// A + damping diag(A) instead (Levenberg-Marquardt), whose scaled diagonal is 1 + damping.
bool factorize(const Normals& n, Factor& f, double damping = 0) {
    for (std::size_t i = 0; i < 6; ++i) {
        if (!(n.a[i][i] > 0) || !std::isfinite(n.a[i][i])) return false;
        f.scale[i] = 1.0 / std::sqrt(n.a[i][i]);
    }
    for (std::size_t i = 0; i < 6; ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
            double sum = n.a[j][i] * f.scale[i] * f.scale[j] + (i == j ? damping : 0.0);
            for (std::size_t k = 0; k < j; ++k) sum -= f.l[i][k] * f.l[j][k];
            if (i == j) {
                if (!(sum > rankPivotLimit)) return false;
                f.l[i][i] = std::sqrt(sum);
                f.inverseDiagonal[i] = 1.0 / f.l[i][i];
            } else {
                f.l[i][j] = sum * f.inverseDiagonal[j];
            }
        }
    }
    return true;
}

/// x with A x = b.
void solve(const Factor& f, const double b[6], double x[6]) {
    double y[6];
    for (std::size_t i = 0; i < 6; ++i) {
        double sum = b[i] * f.scale[i];
        for (std::size_t k = 0; k < i; ++k) sum -= f.l[i][k] * y[k];
        y[i] = sum * f.inverseDiagonal[i];
    }
    for (std::size_t i = 6; i-- > 0;) {
        double sum = y[i];
        for (std::size_t k = i + 1; k < 6; ++k) sum -= f.l[k][i] * x[k];
        x[i] = sum * f.inverseDiagonal[i];
    }
    for (std::size_t i = 0; i < 6; ++i) x[i] *= f.scale[i];
}

/// A^-1 = D (L^-1)^T L^-1 D, upper triangle row by row.
void invert(const Factor& f, double inverse[21]) {
    double m[6][6] = {};  // L^-1, lower triangular
    for (std::size_t j = 0; j < 6; ++j) {
        m[j][j] = f.inverseDiagonal[j];
        for (std::size_t i = j + 1; i < 6; ++i) {
            double sum = 0;
            for (std::size_t k = j; k < i; ++k) sum += f.l[i][k] * m[k][j];
            m[i][j] = -sum * f.inverseDiagonal[i];
        }
    }
    for (std::size_t r = 0; r < 6; ++r)
        for (std::size_t c = r; c < 6; ++c) {
            double sum = 0;
            for (std::size_t k = c; k < 6; ++k) sum += m[k][r] * m[k][c];
            inverse[upperTriangleIndex(r, c)] = sum * f.scale[r] * f.scale[c];
        }
}

/// exp(d) * q for a small world-frame rotation vector d, renormalised.
Q turned(const Q& q, const V3& d) {
    const double angle = LumetraMath::length(d);
    Q e = Q::identity();
    if (angle > 0) {
        const double s = std::sin(angle / 2) / angle;
        e = {d.x * s, d.y * s, d.z * s, std::cos(angle / 2)};
    }
    Q r = e * q;
    const double norm = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z + r.w * r.w);
    return {r.x / norm, r.y / norm, r.z / norm, r.w / norm};
}

/// The inverse normal matrix in full.
struct InverseNormal {
    double c[6][6];

    explicit InverseNormal(const double upper[21]) {
        for (std::size_t a = 0; a < 6; ++a)
            for (std::size_t b = 0; b < 6; ++b) c[a][b] = upper[upperTriangleIndex(a, b)];
    }
};

/// How a ray with residuals `r` would miss its marker under the pose fitted without it: H = J C J^T
/// is its share of the fit (C the inverse normal matrix), and the residual it would leave
/// unfitted is (I - H)^-1 r. Infinite when the other rays leave the pose open.
LeaveOneOut leaveOneOut(const InverseNormal& inverse, const RayResiduals& r) {
    // H is symmetric: C J^T for the second axis only, then three of its four entries.
    double h00 = 0, h01 = 0, h11 = 0;
    for (std::size_t a = 0; a < 6; ++a) {
        double ci = 0, cj = 0;
        for (std::size_t b = 0; b < 6; ++b) {
            ci += inverse.c[a][b] * r.jacobian[0][b];
            cj += inverse.c[a][b] * r.jacobian[1][b];
        }
        h01 += r.jacobian[0][a] * cj;
        h11 += r.jacobian[1][a] * cj;
        h00 += r.jacobian[0][a] * ci;
    }
    const double m00 = 1 - h00, m01 = -h01, m11 = 1 - h11;
    const double determinant = m00 * m11 - m01 * m01;
    constexpr double infinity = std::numeric_limits<double>::infinity();
    if (!(determinant > 1e-9)) return {infinity, infinity, infinity};
    const double x = (m11 * r.residual[0] - m01 * r.residual[1]) / determinant;
    const double y = (m00 * r.residual[1] - m01 * r.residual[0]) / determinant;
    // The unfitted direction to the marker, square to the ray, and where the ray would cross the
    // marker's horizontal plane instead of the marker: the miss stretched along the tilt.
    const V3 w = r.axes[0] * x + r.axes[1] * y;
    const V3 onPlane = (w - r.ray * (w.y / r.ray.y)) * r.distance;
    const double planeMiss = std::sqrt(onPlane.x * onPlane.x + onPlane.z * onPlane.z);
    return {std::sqrt(x * x + y * y), x * r.residual[0] + y * r.residual[1],
            std::isfinite(planeMiss) ? planeMiss : infinity};
}

/// The residuals over every ray at the pose a refinement ends on and, when `inverse` is given,
/// each ray's leave-one-out check: one pass instead of an evaluation and a sweep.
struct Sweep {
    double cost = 0, largestSine2 = 0;
    bool valid = false;
};

Sweep sweep(std::span<const LumetraMath::vector<float, 3>> rays, std::span<const LumetraMath::vector<float, 3>> markers,
            const V3& position, const M3& rotation, const InverseNormal* inverse, std::span<LeaveOneOut> checks) {
    Sweep s;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        double sine2 = 0;
        if (inverse) {
            RayResiduals r;
            if (!rayResiduals(rays[i], markers[i], position, rotation, r)) return s;
            sine2 = r.residual[0] * r.residual[0] + r.residual[1] * r.residual[1];
            checks[i] = leaveOneOut(*inverse, r);
        } else {
            // The residual alone: the direction to the marker square to the turned ray.
            V3 d = rotation * LumetraMath::vectorCast<double>(rays[i]);
            d = d * (1.0 / LumetraMath::length(d));
            V3 u = LumetraMath::vectorCast<double>(markers[i]) - position;
            u = u * (1.0 / LumetraMath::length(u));
            const double c = LumetraMath::dot(d, u);
            if (!(c > 0)) return s;
            const V3 w = u - d * c;
            sine2 = LumetraMath::dot(w, w);
        }
        s.cost += sine2;
        s.largestSine2 = std::max(s.largestSine2, sine2);
    }
    s.valid = std::isfinite(s.cost);
    return s;
}

double residualVariance(double cost, std::size_t rays) {
    const double freedom = 2.0 * static_cast<double>(rays) - 6.0;
    return (priorFreedom * rayNoisePrior * rayNoisePrior + cost) / (priorFreedom + freedom);
}

/// The variance the inverse normal matrix is scaled by to give the pose's covariance. The residual
/// variance is itself an estimate, so the pose error follows a Student t law rather than a normal
/// one, and its covariance is the scale's times m / (m - 2) for the estimate's degrees of freedom
/// m: nu^2 / (2N - 6) for nu = 4 + 2N - 6, the prior's share being fixed (three rays: none, the
/// prior alone). Without the factor a fit of six rays passes the chi-squared 95 % point twice as
/// often as it should. That blend is never taken below the fit's own estimate, S / (2N - 6) times
/// the Student factor of its 2N - 6 degrees of freedom, S / (2N - 8) (from five rays): the prior
/// would pull the variance of a camera noisier than itself down by the weight of its four degrees
/// of freedom (a 0.1 degree camera on twelve rays by 14 %, a tenth of its poses then beyond the
/// chi-squared 95 % point).
double covarianceScale(double cost, std::size_t rays) {
    const double fitFreedom = 2.0 * static_cast<double>(rays) - 6.0;
    if (!(fitFreedom > 0)) return residualVariance(cost, rays);
    const double estimateFreedom = (priorFreedom + fitFreedom) * (priorFreedom + fitFreedom) / fitFreedom;
    const double blended = residualVariance(cost, rays) * estimateFreedom / (estimateFreedom - 2.0);
    return fitFreedom > 2 ? std::max(blended, cost / (fitFreedom - 2.0)) : blended;
}

std::optional<RefinedPose> refine(std::span<const LumetraMath::vector<float, 3>> rays,
                                 std::span<const LumetraMath::vector<float, 3>> markers,
                                 const LumetraMath::poseP3Q<float>& start, std::uint32_t stepLimit,
                                 bool acceptUnsettled, std::span<LeaveOneOut> checks = {}) {
    if (rays.size() < 3 || rays.size() != markers.size()) return std::nullopt;

    V3 position = LumetraMath::vectorCast<double>(start.position);
    Q rotation{start.rotation.x, start.rotation.y, start.rotation.z, start.rotation.w};
    const double startNorm = std::sqrt(rotation.x * rotation.x + rotation.y * rotation.y +
                                       rotation.z * rotation.z + rotation.w * rotation.w);
    if (!(startNorm > 0) || !std::isfinite(startNorm)) return std::nullopt;
    rotation = {rotation.x / startNorm, rotation.y / startNorm, rotation.z / startNorm, rotation.w / startNorm};

    Normals current = evaluate(rays, markers, position, LumetraMath::toRotationMatrix(rotation));
    if (!current.valid) return std::nullopt;
    const double meanDistance = current.distanceSum / static_cast<double>(markers.size());
    if (!(meanDistance > 0) || !std::isfinite(meanDistance)) return std::nullopt;
    Factor factor, damped;
    RefinedPose refined;
    const bool check = rays.size() == checks.size();
    double damping = 0;  // Levenberg-Marquardt: 0 while undamped Gauss-Newton steps lower the sum
    bool movedSinceEvaluation = false;
    for (;;) {
        if (!factorize(current, factor)) return std::nullopt;
        if (refined.iterations == stepLimit) {
            if (acceptUnsettled) break;
            return std::nullopt;
        }
        ++refined.iterations;
        double step[6];
        solve(factor, current.b, step);
        const auto sizeOf = [&](const double* x) {
            const V3 dp{x[0], x[1], x[2]}, dr{x[3], x[4], x[5]};
            return std::max(LumetraMath::length(dp) / meanDistance, LumetraMath::length(dr));
        };
        const double size = sizeOf(step);
        if (!std::isfinite(size)) return std::nullopt;
        if (size < lastStep) {  // stationary: the gradient is nil to within the step tolerance
            position = position + V3{-step[0], -step[1], -step[2]};
            rotation = turned(rotation, V3{-step[3], -step[4], -step[5]});
            movedSinceEvaluation = true;
            break;
        }
        // The step of the current damping (none while undamped steps lower the sum); while it fails
        // to lower the sum, ever more damped ones, which turn towards the gradient and shorten.
        bool lowered = false;
        for (;;) {
            if (damping > 0) {
                if (!factorize(current, damped, damping)) return std::nullopt;
                solve(damped, current.b, step);
            }
            const V3 p = position + V3{-step[0], -step[1], -step[2]};
            const Q q = turned(rotation, V3{-step[3], -step[4], -step[5]});
            Normals next = evaluate(rays, markers, p, LumetraMath::toRotationMatrix(q));
            if (next.valid && next.cost <= current.cost) {
                position = p;
                rotation = q;
                current = next;
                lowered = true;
                damping = damping * (1 / dampingGrowth) < firstDamping ? 0 : damping * (1 / dampingGrowth);
                break;
            }
            damping = damping == 0 ? firstDamping : damping * dampingGrowth;
            if (damping > largestDamping || sizeOf(step) < 1e-3 * lastStep) break;
        }
        // No step along the gradient lowers the sum, yet the gradient is not nil: the pose is not
        // a minimum, and no pose is reported.
        if (!lowered) {
            if (acceptUnsettled) break;
            return std::nullopt;
        }
    }
    // Every way out of the loop leaves `factor` the undamped factor of `current`'s normal matrix; a
    // last step taken without an evaluation moves the pose too little to change it noticeably.
    invert(factor, refined.inverseNormal);
    double cost = current.cost, largestSine2 = current.largestSine2;
    if (movedSinceEvaluation || check) {
        const InverseNormal inverse(refined.inverseNormal);
        const Sweep last =
            sweep(rays, markers, position, LumetraMath::toRotationMatrix(rotation), check ? &inverse : nullptr, checks);
        if (!last.valid) return std::nullopt;
        cost = last.cost;
        largestSine2 = last.largestSine2;
    }

    // Angles from their sines: below a degree they agree to a relative 5e-5.
    refined.rmsAngle = std::asin(std::min(1.0, std::sqrt(cost / static_cast<double>(rays.size()))));
    refined.maxAngle = std::asin(std::min(1.0, std::sqrt(largestSine2)));
    refined.residualVariance = residualVariance(cost, rays.size());
    const double scale = covarianceScale(cost, rays.size());
    for (std::size_t i = 0; i < 21; ++i) refined.covariance[i] = refined.inverseNormal[i] * scale;
    refined.pose.position = LumetraMath::vectorCast<float>(position);
    refined.pose.rotation = {static_cast<float>(rotation.x), static_cast<float>(rotation.y),
                             static_cast<float>(rotation.z), static_cast<float>(rotation.w)};
    const auto& p = refined.pose;
    if (!std::isfinite(p.position.x) || !std::isfinite(p.position.y) || !std::isfinite(p.position.z) ||
        !std::isfinite(refined.rmsAngle) || !std::isfinite(refined.covariance[0]))
        return std::nullopt;
    return refined;
}

M3 rotationOf(const RefinedPose& refined) {
    const auto& q = refined.pose.rotation;
    return LumetraMath::toRotationMatrix(Q{q.x, q.y, q.z, q.w});
}

}  // namespace

std::optional<RefinedPose> refinePose(std::span<const LumetraMath::vector<float, 3>> rays,
                                      std::span<const LumetraMath::vector<float, 3>> markers,
                                      const LumetraMath::poseP3Q<float>& start) {
    return refine(rays, markers, start, maxIterations, false);
}

std::optional<RefinedPose> refinePoseRoughly(std::span<const LumetraMath::vector<float, 3>> rays,
                                             std::span<const LumetraMath::vector<float, 3>> markers,
                                             const LumetraMath::poseP3Q<float>& start, std::uint32_t steps) {
    return refine(rays, markers, start, steps, true);
}

std::optional<RefinedPose> refinePoseAndCheckRays(std::span<const LumetraMath::vector<float, 3>> rays,
                                                  std::span<const LumetraMath::vector<float, 3>> markers,
                                                  const LumetraMath::poseP3Q<float>& start,
                                                  std::span<LeaveOneOut> checks) {
    if (checks.size() != rays.size()) return std::nullopt;
    return refine(rays, markers, start, maxIterations, false, checks);
}

std::optional<LumetraMath::poseP3Q<float>> poseAfterSteps(std::span<const LumetraMath::vector<float, 3>> rays,
                                                          std::span<const LumetraMath::vector<float, 3>> markers,
                                                          const LumetraMath::poseP3Q<float>& start, std::uint32_t steps) {
    if (rays.size() < 3 || rays.size() != markers.size()) return std::nullopt;
    V3 position = LumetraMath::vectorCast<double>(start.position);
    Q rotation{start.rotation.x, start.rotation.y, start.rotation.z, start.rotation.w};
    const double norm = std::sqrt(rotation.x * rotation.x + rotation.y * rotation.y + rotation.z * rotation.z +
                                  rotation.w * rotation.w);
    if (!(norm > 0) || !std::isfinite(norm)) return std::nullopt;
    rotation = {rotation.x / norm, rotation.y / norm, rotation.z / norm, rotation.w / norm};
    for (std::uint32_t i = 0; i < steps; ++i) {
        const Normals n = evaluate(rays, markers, position, LumetraMath::toRotationMatrix(rotation));
        Factor factor;
        if (!n.valid || !factorize(n, factor)) return std::nullopt;
        double step[6];
        solve(factor, n.b, step);
        const V3 dp{-step[0], -step[1], -step[2]}, dr{-step[3], -step[4], -step[5]};
        position = position + dp;
        rotation = turned(rotation, dr);
        const double meanDistance = n.distanceSum / static_cast<double>(rays.size());
        if (std::max(LumetraMath::length(dp) / meanDistance, LumetraMath::length(dr)) < lastStep) break;
    }
    LumetraMath::poseP3Q<float> pose;
    pose.position = LumetraMath::vectorCast<float>(position);
    pose.rotation = {static_cast<float>(rotation.x), static_cast<float>(rotation.y), static_cast<float>(rotation.z),
                     static_cast<float>(rotation.w)};
    if (!std::isfinite(pose.position.x) || !std::isfinite(pose.position.y) || !std::isfinite(pose.position.z) ||
        !std::isfinite(pose.rotation.x) || !std::isfinite(pose.rotation.y) || !std::isfinite(pose.rotation.z) ||
        !std::isfinite(pose.rotation.w))
        return std::nullopt;
    return pose;
}

LeaveOneOut leaveOneOut(const RefinedPose& refined, const LumetraMath::vector<float, 3>& ray,
                        const LumetraMath::vector<float, 3>& marker) {
    RayResiduals r;
    if (!rayResiduals(ray, marker, LumetraMath::vectorCast<double>(refined.pose.position), rotationOf(refined), r)) {
        constexpr double infinity = std::numeric_limits<double>::infinity();
        return {infinity, infinity, infinity};
    }
    return leaveOneOut(InverseNormal(refined.inverseNormal), r);
}

}  // namespace Lumetra::Vesk::Environment::HorizontalGrid
