"""A recording through the library, as the tool's `replay` runs it, in one batch call:

    replayed = replay(environment, read_recording("walk.jsonl"), method="track")
    print(replayed.found.mean(), np.nanmedian(replayed.position_errors))
    plots.timeline(replayed); plots.frame(replayed, 10)

Methods: "match" (IEnvironment::match), "identify", "track" (each frame predicted at constant
velocity from the poses found before, identified when there is none) in one batch call each, and
"tracker": the inertial tracker (Tracker) fed the recording's samples and frames in file order,
its pose at each fused frame's time.
"""

from __future__ import annotations

import time as clock
from dataclasses import dataclass
from typing import Tuple

import numpy as np
import numpy.typing as npt

from ._environment import MARKER_NOT_FOUND, MARKER_UNIDENTIFIED, Environment
from .recording import Recording


@dataclass(frozen=True)
class Replayed:
    """Per-frame results of a replay; errors are NaN and wrong numbers -1 where the truth is unknown."""
    method: str
    times: npt.NDArray[np.float64]
    found: npt.NDArray[np.bool_]
    methods: npt.NDArray[np.uint32]           #: PoseMethod of each frame (match: IDENTIFY)
    positions: npt.NDArray[np.float32]        #: (n, 3), NaN where not found
    rotations: npt.NDArray[np.float32]        #: (n, 4) x, y, z, w
    rays: npt.NDArray[np.float32]             #: every frame's rays in the tracker's frame
    offsets: npt.NDArray[np.uint64]
    indices: npt.NDArray[np.uint32]           #: the marker numbers the library gave, per ray
    wrong: npt.NDArray[np.int64]              #: numbered rays whose number is not the true one
    position_errors: npt.NDArray[np.float64]  #: environment units
    rotation_errors_degrees: npt.NDArray[np.float64]
    true_markers: npt.NDArray[np.int64]       #: per ray, -1 for none or unknown
    markers: npt.NDArray[np.float32]          #: the environment's marker positions
    seconds: npt.NDArray[np.float64]          #: time in the library per frame

    def frame_slice(self, index: int) -> slice:
        return slice(int(self.offsets[index]), int(self.offsets[index + 1]))


def replay(environment: Environment, recording: Recording, method: str = "track") -> Replayed:
    """Runs every frame of `recording` through `environment` (made from recording.environment)."""
    rays, offsets = recording.tracker_rays()
    if method == "match":
        batch = environment.match_frames(rays, offsets)
        found, positions, rotations, indices, seconds = batch.ok, batch.positions, batch.rotations, batch.indices, \
            batch.seconds
        methods = np.zeros(len(found), np.uint32)
    elif method in ("identify", "track"):
        poses = environment.identify_frames(rays, offsets) if method == "identify" else \
            environment.track_walk(rays, offsets)
        found, positions, rotations, indices, seconds, methods = poses.found, poses.positions, poses.rotations, \
            poses.indices, poses.seconds, poses.methods
    elif method == "tracker":
        found, positions, rotations, indices, seconds, methods = _tracked(environment, recording, rays, offsets)
    else:
        raise ValueError("method must be match, identify, track or tracker, not %r" % (method,))
    positions = np.where(found[:, None], positions, np.nan).astype(np.float32)
    rotations = np.where(found[:, None], rotations, np.nan).astype(np.float32)

    count = len(recording.frames)
    true_markers = np.full(len(rays), -1, np.int64)
    wrong = np.full(count, -1, np.int64)
    position_errors = np.full(count, np.nan)
    rotation_errors = np.full(count, np.nan)
    for f, frame in enumerate(recording.frames):
        span = slice(int(offsets[f]), int(offsets[f + 1]))
        if frame.truth_markers is not None:
            true_markers[span] = frame.truth_markers
            numbered = indices[span] < MARKER_NOT_FOUND
            wrong[f] = int(np.sum(numbered & (indices[span].astype(np.int64) != frame.truth_markers))) if found[f] else 0
        if frame.truth_position is not None and found[f]:
            position_errors[f] = np.linalg.norm(positions[f] - frame.truth_position)
            dot = min(1.0, abs(float(np.dot(rotations[f], frame.truth_rotation))))
            rotation_errors[f] = np.degrees(2 * np.arccos(dot))
    return Replayed(method, recording.times, found, methods, positions, rotations, rays, offsets, indices, wrong,
                    position_errors, rotation_errors, true_markers, environment.markers, seconds)


def _tracked(environment: Environment, recording: Recording, rays: np.ndarray,
             offsets: np.ndarray) -> Tuple[np.ndarray, ...]:
    """The inertial tracker, frame by frame: samples delivered before the frames they preceded."""
    from ._tracker import Tracker  # the binding of ITracker
    count = len(recording.frames)
    found = np.zeros(count, bool)
    positions, rotations = np.full((count, 3), np.nan, np.float32), np.full((count, 4), np.nan, np.float32)
    indices = np.full(len(rays), MARKER_UNIDENTIFIED, np.uint32)
    methods, seconds = np.zeros(count, np.uint32), np.zeros(count)
    cameras = [(camera.position, camera.rotation) for camera in recording.cameras]
    delivered = 0
    with Tracker(environment, cameras=cameras) as tracker:
        for f, frame in enumerate(recording.frames):
            start = clock.perf_counter()
            if frame.inertial_before > delivered:
                tracker.add_inertial(recording.inertial[delivered:frame.inertial_before])
                delivered = frame.inertial_before
            result = tracker.add_frame(frame.time, frame.rays, camera=frame.camera)
            seconds[f] = clock.perf_counter() - start
            methods[f] = result.report.method
            if result.fused:
                state = tracker.state(frame.time)
                found[f] = True
                positions[f], rotations[f] = state.position, state.rotation
                indices[int(offsets[f]):int(offsets[f + 1])] = result.indices
    return found, positions, rotations, indices, seconds, methods
