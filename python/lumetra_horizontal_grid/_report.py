"""What identify, track and refine_pose tell about the pose they found."""

from __future__ import annotations

import ctypes
import enum
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from . import _abi


class PoseMethod(enum.IntEnum):
    """Which way a pose was found."""
    IDENTIFY = 0            #: identify
    TRACK = 1               #: track, from the predicted pose
    TRACK_FELL_BACK = 2     #: track, whose prediction did not hold: identified afresh
    REFINE = 3              #: refine_pose
    TRACKER_PREDICTED = 4   #: the tracker, numbered from its own prediction
    TRACKER_IDENTIFIED = 5  #: the tracker, identified afresh


_UPPER = np.triu_indices(6)  # row by row, as the library lays out the covariance


@dataclass(frozen=True)
class PoseReport:
    """The fit behind a pose: angles between each supporting ray and its marker (degrees, and
    radians where named _rad). covariance is 6 x 6 over (x, y, z, rx, ry, rz): the position in the
    environment's frame, then the rotation error as a small rotation vector in that frame (radians
    squared). All zero when no pose was found; `reason` then says why (empty when found)."""
    numbered_rays: int
    supporting_rays: int
    method: PoseMethod
    rms_angle_rad: float
    max_angle_rad: float
    covariance: npt.NDArray[np.float64]
    reason: str = ""

    @property
    def rms_angle_degrees(self) -> float:
        return float(np.degrees(self.rms_angle_rad))

    @property
    def max_angle_degrees(self) -> float:
        return float(np.degrees(self.max_angle_rad))

    @classmethod
    def of(cls, report: _abi.PoseReportStruct, reason: str = "") -> "PoseReport":
        return cls(int(report.numberedRays), int(report.supportingRays), PoseMethod(report.method),
                   float(report.rmsAngle), float(report.maxAngle), unpack_covariances(np.frombuffer(
                       report.covariance, dtype=np.float32)), reason)


def unpack_covariances(packed: npt.NDArray[np.float32]) -> npt.NDArray[np.float64]:
    """(..., 21) packed upper triangles, row by row, as the library lays them out -> (..., 6, 6)."""
    packed = np.asarray(packed)
    full = np.zeros(packed.shape[:-1] + (6, 6))
    full[..., _UPPER[0], _UPPER[1]] = packed
    full[..., _UPPER[1], _UPPER[0]] = packed
    return full


def empty_report() -> _abi.PoseReportStruct:
    """A report for the library to fill, sized for this layout."""
    return _abi.PoseReportStruct(structSize=ctypes.sizeof(_abi.PoseReportStruct))
