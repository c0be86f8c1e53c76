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
    IDENTIFY = 0         #: identify
    TRACK = 1            #: track, from the predicted pose
    TRACK_FELL_BACK = 2  #: track, whose prediction did not hold: identified afresh
    REFINE = 3           #: refine_pose
    TRACKER_PREDICTED = 4   #: Tracker.add_frame: numbered from the tracker's own prediction
    TRACKER_IDENTIFIED = 5  #: Tracker.add_frame: identified afresh


_UPPER = np.triu_indices(6)  # row by row, as the library lays out the covariance


@dataclass(frozen=True)
class PoseReport:
    """The fit behind a pose. Angles are radians, between each supporting ray and its marker.
    covariance is 6 x 6 over (x, y, z, rx, ry, rz): the position in the environment's frame, then
    the rotation error as a small rotation vector in that frame. All zero when no pose was found."""
    numbered_rays: int
    supporting_rays: int
    method: PoseMethod
    rms_angle: float
    max_angle: float
    covariance: npt.NDArray[np.float64]

    @classmethod
    def of(cls, report: _abi.PoseReportStruct) -> "PoseReport":
        covariance = np.zeros((6, 6))
        covariance[_UPPER] = np.frombuffer(report.covariance, dtype=np.float32)
        covariance = covariance + np.triu(covariance, 1).T
        return cls(int(report.numberedRays), int(report.supportingRays), PoseMethod(report.method),
                   float(report.rmsAngle), float(report.maxAngle), covariance)


def empty_report() -> _abi.PoseReportStruct:
    """A report for the library to fill, sized for this layout."""
    return _abi.PoseReportStruct(structSize=ctypes.sizeof(_abi.PoseReportStruct))
