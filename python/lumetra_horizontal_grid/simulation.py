"""Synthetic camera frames, made by the same C++ code as the command-line tool's (simulation/,
through a small C library), so a frame here is the frame the tool would match.

    simulator = Simulator(environment)
    poses = simulator.random_poses(1000, seed=1)   # or simulator.walk(10), TrackerPoses.of(positions, yaw_degrees=...)
    frames = simulator.frames(poses, noise_degrees=0.05, seed=1)
    result = environment.match_frames(frames.rays, frames.offsets)
    tracked = environment.track_walk(frames.rays, frames.offsets)

A pose is built the way a person holds a tracker: turned by its yaw about the vertical (+y) axis,
then tipped by its tilt about the horizontal tilt axis. Angles are degrees, radians only where
named _rad. The camera looks along the tracker's -y axis towards a floor, +y towards a ceiling; an
unturned tracker's x and z axes are the environment's.
"""

from __future__ import annotations

import ctypes
import math
from dataclasses import dataclass
from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

from ._environment import Environment, FloatArray, IndexArray
from ._errors import LumetraError
from ._simulation_abi import FrameOptions

#: Marker number of a spurious ray, one that shows no marker.
SPURIOUS = 0xFFFFFFFF


@dataclass(frozen=True)
class TrackerPoses:
    """n tracker poses as an (n, 8) float64 array: position x, y, z, yaw_rad, tilt axis x, y, z,
    tilt_rad (the layout the simulator's C functions take)."""
    values: npt.NDArray[np.float64]

    @classmethod
    def of(cls, positions: npt.ArrayLike, *, yaw_degrees: npt.ArrayLike = 0.0, tilt_degrees: npt.ArrayLike = 0.0,
           tilt_axis: npt.ArrayLike = (1.0, 0.0, 0.0)) -> "TrackerPoses":
        """Poses from (n, 3) positions; yaw and tilt in degrees, scalars or one per pose."""
        position = np.atleast_2d(np.asarray(positions, dtype=np.float64))
        n = len(position)
        values = np.empty((n, 8))
        values[:, 0:3] = position
        values[:, 3] = np.radians(np.broadcast_to(np.asarray(yaw_degrees, dtype=np.float64), (n,)))
        values[:, 4:7] = np.broadcast_to(np.asarray(tilt_axis, dtype=np.float64), (n, 3))
        values[:, 7] = np.radians(np.broadcast_to(np.asarray(tilt_degrees, dtype=np.float64), (n,)))
        return cls(values)

    def __len__(self) -> int:
        return len(self.values)

    @property
    def positions(self) -> npt.NDArray[np.float64]:
        return self.values[:, 0:3]

    @property
    def yaw_degrees(self) -> npt.NDArray[np.float64]:
        return np.degrees(self.values[:, 3])

    @property
    def tilt_degrees(self) -> npt.NDArray[np.float64]:
        return np.degrees(self.values[:, 7])


@dataclass(frozen=True)
class Frames:
    """The rays of n frames, all in one array: frame f is rows offsets[f]:offsets[f + 1]."""
    rays: FloatArray               #: (r, 3) unit directions in the tracker's frame
    world_rays: FloatArray         #: (r, 3) the same directions in the environment's frame
    marker_numbers: IndexArray     #: (r,) the marker each ray shows, or SPURIOUS
    offsets: npt.NDArray[np.uint64]  #: (n + 1,)

    def __len__(self) -> int:
        return len(self.offsets) - 1

    def frame(self, index: int) -> Tuple[FloatArray, IndexArray]:
        """The rays of frame `index` and the marker each shows."""
        begin, end = int(self.offsets[index]), int(self.offsets[index + 1])
        return self.rays[begin:end], self.marker_numbers[begin:end]


class Simulator:
    """Random poses and the frames a tracker sees in `environment` (its markers, floor or ceiling)."""

    def __init__(self, environment: Environment) -> None:
        self._library = environment.simulation_library()
        self.markers = np.ascontiguousarray(environment.markers, dtype=np.float32)
        self.ceiling = environment.ceiling
        self.plane_height = float(self.markers[0, 1]) if len(self.markers) else 0.0

    def _check(self, status: int) -> None:
        if status != 0:
            raise LumetraError(None, self._library.lumetra_simulation_last_error().decode("utf-8", "replace"))

    def random_poses(self, count: int, distance: Tuple[float, float] = (1.2, 2.0), max_tilt_degrees: float = 15.0,
                     half_extent: Optional[Tuple[float, float]] = None, seed: int = 1) -> TrackerPoses:
        """`count` poses over the markers (x and z within `half_extent`, by default the markers'
        extent), `distance` from the marker plane on the tracker's side, random yaw, tilt up to
        max_tilt_degrees about a random horizontal axis; drawn as the tool's `simulate` draws them."""
        if half_extent is None:
            half_extent = (float(np.abs(self.markers[:, 0]).max(initial=0.0)),
                           float(np.abs(self.markers[:, 2]).max(initial=0.0)))
        values = np.empty((count, 8))
        self._check(self._library.lumetra_simulation_random_poses(
            count, half_extent[0], half_extent[1], distance[0], distance[1], math.radians(max_tilt_degrees),
            self.plane_height, int(self.ceiling), seed, values.ctypes.data))
        return TrackerPoses(values)

    def walk(self, seconds: float, rate: float = 120.0, distance: float = 2.0, seed: int = 1) -> TrackerPoses:
        """The poses of a walk `seconds` long at `rate` frames a second, as the tool's simulate
        --walk makes it: over the middle 70 % of the markers' extent, `distance` from the marker
        plane, at 1.5 m/s with head turns up to 180 deg/s, +-10 deg of sway and a 3 cm bob."""
        half_width = 0.7 * float(np.abs(self.markers[:, 0]).max(initial=0.0))
        half_depth = 0.7 * float(np.abs(self.markers[:, 2]).max(initial=0.0))
        height = self.plane_height + (-distance if self.ceiling else distance)
        capacity = int(seconds * rate) + 2
        values = np.empty((capacity, 8))
        count = ctypes.c_uint64()
        if self._library.lumetra_simulation_walk(half_width, half_depth, height, float(seconds), float(rate), seed,
                                                 capacity, values.ctypes.data, ctypes.byref(count)) != 0:
            raise ValueError("a walk takes 0 < seconds <= 86400 and 1 <= rate <= 10000 frames a second")
        return TrackerPoses(values[:min(count.value, capacity)])

    def rotations(self, poses: TrackerPoses) -> npt.NDArray[np.float64]:
        """(n, 4) quaternions (x, y, z, w) turning each tracker's vectors into environment vectors."""
        values = np.ascontiguousarray(poses.values, dtype=np.float64)
        out = np.empty((len(values), 4))
        self._check(self._library.lumetra_simulation_rotations(len(values), values.ctypes.data, out.ctypes.data))
        return out

    def frames(self, poses: TrackerPoses, field_of_view_degrees: float = 115.0, noise_degrees: float = 0.0,
               drop: float = 0.0, spurious: int = 0, seed: int = 1) -> Frames:
        """The frame seen from each pose: rays to the markers within half the field of view of the
        camera axis, with angular noise, dropped markers and spurious rays; frame i is seeded with
        seed + i, as in the tool. Rays are shuffled."""
        values = np.ascontiguousarray(poses.values, dtype=np.float64)
        if values.ndim != 2 or values.shape[1] != 8:
            raise ValueError("poses must have shape (n, 8)")
        options = FrameOptions(int(self.ceiling), math.radians(field_of_view_degrees) / 2,
                               math.radians(noise_degrees), drop, spurious, seed)
        handle = self._library.lumetra_simulation_generate(self.markers.ctypes.data, len(self.markers),
                                                           values.ctypes.data, len(values), ctypes.byref(options))
        if not handle:
            self._check(1)
        try:
            count = self._library.lumetra_simulation_ray_count(handle)
            frames = Frames(np.empty((count, 3), np.float32), np.empty((count, 3), np.float32),
                            np.empty(count, np.uint32), np.empty(len(values) + 1, np.uint64))
            self._library.lumetra_simulation_copy(handle, frames.rays.ctypes.data, frames.world_rays.ctypes.data,
                                                  frames.marker_numbers.ctypes.data, frames.offsets.ctypes.data)
        finally:
            self._library.lumetra_simulation_free(handle)
        return frames
