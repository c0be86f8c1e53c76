"""Camera models: pixel centroids to unit rays in the tracker's frame, and back (numpy, vectorised).

    camera = Camera.fisheye((285, 285, 320, 240), (-0.01, 0.05, -0.03, 0.004), rotation=LOOKING_DOWN)
    rays = camera.rays(pixels)        # (n, 2) pixels -> (n, 3) float32 unit rays, tracker frame
    pixels, seen = camera.project(rays)

The models, coefficients and axes are OpenCV's, as in the C++ host helper
(LumetraVeskEnvironmentHorizontalGridCamera.h): the camera frame has x to the right of the image,
y down it, z forward; pixel (0, 0) is the centre of the top-left pixel.
- "pinhole": radial-tangential distortion, coefficients (k1, k2, p1, p2, k3);
- "fisheye": equidistant (Kannala-Brandt), coefficients (k1, k2, k3, k4); rays beyond 90 degrees
  from the axis are fine.
Unprojection inverts the distortion by Newton's method, single precision first, to within 1e-9
rad; pixels the model cannot have produced (beyond the radius where the distortion folds back) give NaN rays, which the
library ignores.

The camera's mount: `rotation` (x, y, z, w) turns camera-frame vectors into tracker-frame ones and
`position` is the camera's centre in the tracker's frame, as the tracker's camera rig takes them.
A floor tracker's rays point along its -y axis, a ceiling tracker's along +y: LOOKING_DOWN and
LOOKING_UP turn a z-forward camera that way.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Dict, Sequence, Tuple

import numpy as np
import numpy.typing as npt

_HALF = float(np.sqrt(0.5))
#: z-forward camera looking along the tracker's -y axis (a floor): camera x is tracker x, camera y
#: (down the image) tracker +z.
LOOKING_DOWN = (_HALF, 0.0, 0.0, _HALF)
#: z-forward camera looking along the tracker's +y axis (a ceiling): camera y is tracker -z.
LOOKING_UP = (-_HALF, 0.0, 0.0, _HALF)
IDENTITY = (0.0, 0.0, 0.0, 1.0)

_MODELS = {"pinhole": 5, "fisheye": 4}
_ITERATIONS = 20
_CHUNK = 16384


def rotation_matrix(quaternion: Sequence[float]) -> npt.NDArray[np.float64]:
    """The 3 x 3 matrix of the quaternion (x, y, z, w), normalised first."""
    x, y, z, w = np.asarray(quaternion, dtype=np.float64) / np.linalg.norm(quaternion)
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])


@dataclass(frozen=True)
class Camera:
    """A calibrated camera on the tracker: model ("pinhole" or "fisheye"), intrinsics (fx, fy, cx,
    cy) in pixels, distortion coefficients in OpenCV's order, and its mount on the tracker."""
    model: str
    intrinsics: Tuple[float, float, float, float]
    distortion: Tuple[float, ...]
    rotation: Tuple[float, float, float, float] = IDENTITY
    position: Tuple[float, float, float] = (0.0, 0.0, 0.0)
    _matrix: npt.NDArray[np.float64] = field(init=False, repr=False, compare=False)

    def __post_init__(self) -> None:
        if self.model not in _MODELS:
            raise ValueError("model must be 'pinhole' or 'fisheye', not %r" % (self.model,))
        if len(self.distortion) != _MODELS[self.model]:
            raise ValueError("a %s camera takes %d distortion coefficients" % (self.model, _MODELS[self.model]))
        if len(self.intrinsics) != 4 or not np.all(np.isfinite(self.intrinsics)) or \
                self.intrinsics[0] == 0 or self.intrinsics[1] == 0:
            raise ValueError("intrinsics must be four finite numbers fx, fy, cx, cy with nonzero focal lengths")
        if not np.all(np.isfinite(self.rotation)) or abs(np.linalg.norm(self.rotation) - 1) > 1e-3:
            raise ValueError("rotation must be a unit quaternion (x, y, z, w)")
        object.__setattr__(self, "_matrix", rotation_matrix(self.rotation))

    @classmethod
    def pinhole(cls, intrinsics: Sequence[float], distortion: Sequence[float] = (0, 0, 0, 0, 0),
                rotation: Sequence[float] = IDENTITY, position: Sequence[float] = (0, 0, 0)) -> "Camera":
        """Pinhole with radial-tangential distortion (k1, k2, p1, p2, k3)."""
        return cls("pinhole", _floats(intrinsics), _floats(distortion), _floats(rotation), _floats(position))

    @classmethod
    def fisheye(cls, intrinsics: Sequence[float], distortion: Sequence[float] = (0, 0, 0, 0),
                rotation: Sequence[float] = IDENTITY, position: Sequence[float] = (0, 0, 0)) -> "Camera":
        """Equidistant fisheye (k1, k2, k3, k4)."""
        return cls("fisheye", _floats(intrinsics), _floats(distortion), _floats(rotation), _floats(position))

    @classmethod
    def from_dict(cls, values: Dict[str, object]) -> "Camera":
        """The camera of a recording (see recording.py)."""
        return cls(str(values["model"]), _floats(values["intrinsics"]), _floats(values["distortion"]),  # type: ignore
                   _floats(values.get("rotation", IDENTITY)), _floats(values.get("position", (0, 0, 0))))  # type: ignore

    def to_dict(self) -> Dict[str, object]:
        return {"model": self.model, "intrinsics": list(self.intrinsics), "distortion": list(self.distortion),
                "position": list(self.position), "rotation": list(self.rotation)}

    def camera_rays(self, pixels: npt.ArrayLike) -> npt.NDArray[np.float64]:
        """(n, 2) pixels -> (n, 3) unit rays in the camera's frame, float64 (NaN where no ray)."""
        p = np.asarray(pixels, dtype=np.float64).reshape(-1, 2)
        out = np.empty((len(p), 3))
        for begin in range(0, len(p), _CHUNK):  # chunks whose temporaries stay in the cache
            out[begin:begin + _CHUNK] = np.stack(self._unproject(p[begin:begin + _CHUNK]), axis=1)
        return out

    def rays(self, pixels: npt.ArrayLike) -> npt.NDArray[np.float32]:
        """(n, 2) pixels -> (n, 3) unit rays in the tracker's frame, float32, ready for the library."""
        p = np.asarray(pixels, dtype=np.float64).reshape(-1, 2)
        out = np.empty((len(p), 3), np.float32)
        m = self._matrix
        for begin in range(0, len(p), _CHUNK):
            x, y, z = self._unproject(p[begin:begin + _CHUNK])
            for row in range(3):
                out[begin:begin + _CHUNK, row] = m[row, 0] * x + m[row, 1] * y + m[row, 2] * z
        return out

    def _unproject(self, p: np.ndarray) -> Tuple[np.ndarray, np.ndarray, np.ndarray]:
        fx, fy, cx, cy = self.intrinsics
        xd, yd = (p[:, 0] - cx) / fx, (p[:, 1] - cy) / fy
        return _undistort_pinhole(xd, yd, self.distortion) if self.model == "pinhole" else \
            _undistort_fisheye(xd, yd, self.distortion)

    def project(self, rays: npt.ArrayLike) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.bool_]]:
        """(n, 3) directions in the tracker's frame -> (n, 2) pixels and whether each is seen (a
        pinhole camera sees only what lies in front of it); unseen pixels are NaN."""
        c = np.asarray(rays, dtype=np.float64).reshape(-1, 3) @ self._matrix
        x, y, z = c[:, 0], c[:, 1], c[:, 2]
        with np.errstate(divide="ignore", invalid="ignore"):
            if self.model == "pinhole":
                seen = z > 0
                xd, yd = _distort_pinhole(x / z, y / z, self.distortion)
            else:
                seen = np.isfinite(c).all(axis=1) & (np.abs(c).sum(axis=1) > 0)
                r = np.hypot(x, y)
                theta = np.arctan2(r, z)
                t2 = theta * theta
                k1, k2, k3, k4 = self.distortion
                scale = np.where(r > 0, theta * (1 + t2 * (k1 + t2 * (k2 + t2 * (k3 + t2 * k4)))) / r, 0.0)
                xd, yd = x * scale, y * scale
        fx, fy, cx, cy = self.intrinsics
        pixels = np.stack((fx * xd + cx, fy * yd + cy), axis=1)
        pixels[~seen] = np.nan
        return pixels, seen


def _floats(values: Sequence[float]) -> Tuple[float, ...]:
    return tuple(float(v) for v in values)  # type: ignore[return-value]


def _distort_pinhole(x: np.ndarray, y: np.ndarray, d: Sequence[float]) -> Tuple[np.ndarray, np.ndarray]:
    k1, k2, p1, p2, k3 = d
    r2 = x * x + y * y
    radial = 1 + r2 * (k1 + r2 * (k2 + r2 * k3))
    return (x * radial + 2 * p1 * x * y + p2 * (r2 + 2 * x * x),
            y * radial + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y)


def _pinhole_step(x: np.ndarray, y: np.ndarray, xd: np.ndarray, yd: np.ndarray,
                  d: Sequence[float]) -> Tuple[np.ndarray, ...]:
    """One Newton step of the distortion towards (xd, yd), in the arrays' precision: the new point,
    the squared step, a margin that is positive inside the fold (the symmetric Jacobian positive
    definite), and the Jacobian's inverse (xx, xy, yy) where the step started."""
    k1, k2, p1, p2, k3 = d
    a, b = 2 * p1, 2 * p2
    r2 = x * x + y * y
    radial = 1 + r2 * (k1 + r2 * (k2 + r2 * k3))
    slope = 2 * k1 + r2 * (4 * k2 + r2 * (6 * k3))  # d radial / d r2, doubled
    t = radial + a * y + b * x
    ex = x * t + p2 * r2 - xd
    ey = y * t + p1 * r2 - yd
    jxx = t + x * (x * slope + b)
    jyy = t + y * (y * slope + a)
    jxy = x * y * slope + a * x + b * y
    inverse = jxx * jyy - jxy * jxy  # the determinant, then its inverse
    margin = np.minimum(jxx, inverse)
    np.reciprocal(inverse, out=inverse)
    ixx, iyy, ixy = jyy * inverse, jxx * inverse, jxy * -inverse
    dx, dy = ixx * ex + ixy * ey, ixy * ex + iyy * ey
    return x - dx, y - dy, dx * dx + dy * dy, margin, ixx, ixy, iyy


def _undistort_pinhole(xd: np.ndarray, yd: np.ndarray, d: Sequence[float]) -> Tuple[np.ndarray, ...]:
    """Newton's method on the 2D distortion. Single precision first (half the memory traffic):
    the radial distortion undone as if the distorted point were the undistorted one, a Newton step
    on the radial scale alone, then two steps; then one correction in double precision with the
    last step's inverse Jacobian, which leaves about the product of the two steps (below 1e-10).
    Points that have not settled by then (strong distortion near the fold) go on in double
    precision, each until its step is below 1e-8 (the error after a Newton step is about its
    square)."""
    k1, k2, p1, p2, k3 = d
    with np.errstate(all="ignore"):
        xs, ys = xd.astype(np.float32), yd.astype(np.float32)
        r2 = xs * xs + ys * ys
        scale = 1 / (1 + r2 * (k1 + r2 * (k2 + r2 * k3)))
        q = scale * scale * r2
        scale -= (scale * (1 + q * (k1 + q * (k2 + q * k3))) - 1) / (1 + q * (3 * k1 + q * (5 * k2 + q * 7 * k3)))
        u, v = xs * scale, ys * scale
        for _ in range(2):
            u, v, step, margin, ixx, ixy, iyy = _pinhole_step(u, v, xs, ys, d)
        x, y = u.astype(np.float64), v.astype(np.float64)
        ex, ey = _distort_pinhole(x, y, d)
        ex -= xd
        ey -= yd
        dx, dy = ixx * ex + ixy * ey, ixy * ex + iyy * ey
        x -= dx
        y -= dy
        size = 1 + x * x + y * y
        # Settled: small steps, and a small residual (a small step alone could be a steep
        # distortion far from any solution).
        settled = (step < 1e-8 * size) & (dx * dx + dy * dy < 1e-12 * size) & (margin > 0) & \
            (ex * ex + ey * ey < 1e-10 * (1 + xd * xd + yd * yd))
        unsettled = np.flatnonzero(~settled)
        if len(unsettled):
            x[unsettled], y[unsettled], bad = _undistort_pinhole_double(xd[unsettled], yd[unsettled], d)
            size[unsettled] = 1 + x[unsettled] ** 2 + y[unsettled] ** 2
            size[unsettled[bad]] = np.nan
        z = 1 / np.sqrt(size)
    return x * z, y * z, z


def _undistort_pinhole_double(xd: np.ndarray, yd: np.ndarray, d: Sequence[float]) -> Tuple[np.ndarray, ...]:
    """Newton's method in double precision from the radial start, until each point's step is
    below 1e-8: the point, and which points have no ray (unsettled, or beyond the fold)."""
    k1, k2, _, _, k3 = d
    r2 = xd * xd + yd * yd
    radial = 1 + r2 * (k1 + r2 * (k2 + r2 * k3))
    scale = np.where(radial > 0.5, 1 / radial, 1.0)
    x, y = xd * scale, yd * scale
    margin = np.ones_like(x)
    unsettled = np.arange(len(x))
    for _ in range(_ITERATIONS):
        if len(unsettled) == 0:
            break
        xs, ys, step_s, margin_s = _pinhole_step(x[unsettled], y[unsettled], xd[unsettled], yd[unsettled], d)[:4]
        x[unsettled], y[unsettled], margin[unsettled] = xs, ys, margin_s
        unsettled = unsettled[~(step_s < 1e-16 * (1 + xs * xs + ys * ys))]
    bad = ~(margin > 0)
    bad[unsettled] = True
    return x, y, bad


def _fisheye_step(theta: np.ndarray, theta_d: np.ndarray, d: Sequence[float]) -> Tuple[np.ndarray, ...]:
    """One Newton step of theta_d(theta) towards theta_d, in the arrays' precision: the new angle,
    the step, and the inverse of the slope where it started."""
    k1, k2, k3, k4 = d
    t2 = theta * theta
    error = theta * (1 + t2 * (k1 + t2 * (k2 + t2 * (k3 + t2 * k4)))) - theta_d
    inverse_slope = 1 / (1 + t2 * (3 * k1 + t2 * (5 * k2 + t2 * (7 * k3 + t2 * 9 * k4))))
    step = error * inverse_slope
    return theta - step, step, inverse_slope


def _undistort_fisheye(xd: np.ndarray, yd: np.ndarray, d: Sequence[float]) -> Tuple[np.ndarray, ...]:
    """Newton's method on theta_d(theta) from theta = theta_d: two steps in single precision, one
    correction in double precision with the last slope, and more double steps only for the angles
    that have not settled by then."""
    k1, k2, k3, k4 = d
    theta_d = np.hypot(xd, yd)
    with np.errstate(all="ignore"):
        target = theta_d.astype(np.float32)
        theta = target
        for _ in range(2):
            theta, step, inverse_slope = _fisheye_step(theta, target, d)
        t = theta.astype(np.float64)
        t2 = t * t
        error = t * (1 + t2 * (k1 + t2 * (k2 + t2 * (k3 + t2 * k4)))) - theta_d
        correction = error * inverse_slope
        t -= correction
        size = 1 + t * t
        settled = (step * step < 1e-8 * size) & (correction * correction < 1e-12 * size) & (inverse_slope > 0) & \
            (error * error < 1e-10 * (1 + theta_d * theta_d))
        unsettled = np.flatnonzero(~settled)
        if len(unsettled):
            t[unsettled] = _undistort_fisheye_double(theta_d[unsettled], d)
        t[~((t >= 0) & (t <= np.pi))] = np.nan
        scale = np.where(theta_d > 0, np.sin(t) / theta_d, 1.0)
        z = np.cos(t)
    return xd * scale, yd * scale, z


def _undistort_fisheye_double(theta_d: np.ndarray, d: Sequence[float]) -> np.ndarray:
    """Newton's method in double precision from theta = theta_d, all angles until each step is
    below 1e-8: the angles, NaN where none settled or the slope is not positive."""
    theta = theta_d.copy()
    for _ in range(_ITERATIONS):
        theta, step, inverse_slope = _fisheye_step(theta, theta_d, d)
        unsettled = ~(np.abs(step) < 1e-8 * (1 + theta))
        if not unsettled.any():
            break
    theta[unsettled | ~(inverse_slope > 0)] = np.nan
    return theta
