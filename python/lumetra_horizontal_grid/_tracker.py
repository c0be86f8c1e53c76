"""Tracker: the library's inertial tracker on an environment, with numpy arrays in and out.

    tracker = Tracker(environment)                      # one camera at the tracker's origin
    tracker.add_inertial(samples)                       # (n, 7): time, angular rate (3), specific force (3)
    result = tracker.add_frame(time, rays)              # rays (k, 3) in the camera's frame
    state = tracker.state(time + 0.02)                  # a TrackerState, e.g. for a renderer

A tracker holds a reference to its environment (it may outlive the Environment object) and is used
by one thread at a time; any number of trackers may run on one environment.
"""

from __future__ import annotations

import ctypes
import enum
from dataclasses import dataclass
from typing import Optional, Sequence

import numpy as np
import numpy.typing as npt

from . import _abi
from ._environment import (Environment, IndexArray, PoseLike, Vectors, _Counted, _check, _expect, _pose_struct,
                           _received_array, vectors)
from ._report import PoseReport, empty_report

_UPPER = np.triu_indices(6)


class TrackerStatus(enum.IntEnum):
    LOST = 0       #: no pose
    TRACKING = 1   #: a frame was fused within the last 0.25 s
    COASTING = 2   #: prediction only, until 2 s after the last fused frame


@dataclass(frozen=True)
class TrackerState:
    """The estimate at `time`. position and velocity are in the environment's frame, rotation
    (x, y, z, w) turns tracker-frame vectors into it, angular_rate is in the tracker's frame (bias
    removed); covariance is 6 x 6 over (x, y, z, rx, ry, rz) as PoseReport's. Zeros while LOST."""
    status: TrackerStatus
    time: float
    position: npt.NDArray[np.float32]
    rotation: npt.NDArray[np.float32]
    velocity: npt.NDArray[np.float32]
    angular_rate: npt.NDArray[np.float32]
    covariance: npt.NDArray[np.float64]


@dataclass(frozen=True)
class FrameResult:
    """What add_frame did: whether the frame was numbered and fused, one marker index per ray, and
    the frame's own fit (report.method is TRACKER_PREDICTED or TRACKER_IDENTIFIED)."""
    fused: bool
    indices: IndexArray
    report: PoseReport


def _samples(samples: npt.ArrayLike) -> ctypes.Array:  # type: ignore[type-arg]
    array = np.asarray(samples, dtype=np.float64)
    if array.size == 0:
        array = array.reshape(0, 7)
    if array.ndim != 2 or array.shape[1] != 7:
        raise ValueError("samples must have shape (n, 7): time, angular rate, specific force; not %s"
                         % (array.shape,))
    packed = (_abi.InertialSampleStruct * len(array))()
    view = np.ctypeslib.as_array(packed)
    view["time"] = array[:, 0]
    view["angularRate"] = array[:, 1:4]
    view["specificForce"] = array[:, 4:7]
    return packed


class Tracker(_Counted):
    """An inertial tracker made by `environment` (see the module's text). `cameras`: up to 8 poses
    (position, rotation x, y, z, w) of the cameras in the tracker's frame; noise densities and
    gravity left None take the library's defaults."""

    def __init__(self, environment: Environment, cameras: Optional[Sequence[PoseLike]] = None,
                 ray_noise: Optional[float] = None, gyro_noise: Optional[float] = None,
                 gyro_bias_walk: Optional[float] = None, accel_noise: Optional[float] = None,
                 accel_bias_walk: Optional[float] = None, gravity: Optional[float] = None) -> None:
        settings = _abi.TrackerSettingsStruct(structSize=ctypes.sizeof(_abi.TrackerSettingsStruct))
        cameras = list(cameras or [])
        if len(cameras) > 8:
            raise ValueError("at most 8 cameras, not %d" % len(cameras))
        settings.cameraCount = len(cameras)
        for i, camera in enumerate(cameras):
            settings.cameras[i] = _pose_struct(camera)
        for field, value in (("rayNoise", ray_noise), ("gyroNoise", gyro_noise), ("gyroBiasWalk", gyro_bias_walk),
                             ("accelNoise", accel_noise), ("accelBiasWalk", accel_bias_walk), ("gravity", gravity)):
            if value is not None:
                setattr(settings, field, float(value))
        source = environment._live()
        factory = _abi.Interface()
        _check(_abi.call(source, "IUnsafe", "QueryInterface", ctypes.byref(_abi.ITRACKER_FACTORY),
                         ctypes.byref(factory)), source)
        try:
            tracker = _abi.Interface()
            _check(_abi.call(factory.value, "ITrackerFactory", "createTracker", ctypes.byref(settings),
                             ctypes.byref(tracker)), factory.value)
        finally:
            _abi.call(factory.value, "IInterface", "Release")
        super().__init__(tracker.value, "tracker")

    def add_inertial(self, samples: npt.ArrayLike) -> None:
        """Samples (n, 7) in strictly increasing time, later than every sample before."""
        tracker = self._live()
        packed = _samples(samples)
        _check(_abi.call(tracker, "ITracker", "addInertial", _abi.ArrayIn(ctypes.addressof(packed), len(packed))),
               tracker)

    def add_frame(self, time: float, rays: Vectors, camera: int = 0) -> FrameResult:
        """One camera frame at its mid-exposure time, rays in that camera's frame."""
        tracker = self._live()
        array = vectors(rays)
        report, fused = empty_report(), _abi.LongBool()
        _check(_abi.call(tracker, "ITracker", "addFrame", float(time), int(camera),
                         _abi.ArrayIn(array.ctypes.data, len(array)), _expect(ctypes.c_uint32, np.uint32),
                         ctypes.byref(report), ctypes.byref(fused)), tracker)
        indices = _received_array()
        return FrameResult(bool(fused.value), indices, PoseReport.of(report))

    def state(self, time: float) -> TrackerState:
        """The estimate at `time`: from the newest frame's time up to 0.1 s past the newest input."""
        tracker = self._live()
        state = _abi.TrackerStateStruct(structSize=ctypes.sizeof(_abi.TrackerStateStruct))
        _check(_abi.call(tracker, "ITracker", "getState", float(time), ctypes.byref(state)), tracker)
        covariance = np.zeros((6, 6))
        covariance[_UPPER] = np.frombuffer(state.covariance, dtype=np.float32)
        covariance = covariance + np.triu(covariance, 1).T
        pose = state.pose
        return TrackerState(TrackerStatus(state.status), float(state.time),
                            np.array([pose.position.x, pose.position.y, pose.position.z], np.float32),
                            np.array([pose.rotation.x, pose.rotation.y, pose.rotation.z, pose.rotation.w], np.float32),
                            np.frombuffer(state.velocity, dtype=np.float32).copy(),
                            np.frombuffer(state.angularRate, dtype=np.float32).copy(), covariance)

    def reset(self) -> None:
        """Back to LOST; the settings are kept and the ordering of samples and frames starts afresh."""
        tracker = self._live()
        _check(_abi.call(tracker, "ITracker", "reset"), tracker)
