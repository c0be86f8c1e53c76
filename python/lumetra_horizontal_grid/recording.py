"""Recordings: what a tracker saw, written and read as JSON Lines (the format of the README's
"Recordings", shared with the C++ host helper and the tool's `simulate --record` and `replay`).

    with RecordingWriter("walk.jsonl", code, cameras=[camera]) as recording:
        recording.frame(time, pixels=centroids)            # or rays=..., with truth_pose/truth_markers
        recording.inertial(time, angular_rate, specific_force)
    recording = read_recording("walk.jsonl")
    rays, offsets = recording.tracker_rays()             # every frame, in the tracker's frame

Each line is one JSON object: the header first ({"type": "header", "format": "lumetra-recording",
"version": 1, "environment": code, "cameras": [...]}), then frames and inertial samples in the
order the host received them. JSON Lines because a recording grows line by line while the tracker
runs (a run cut short stays readable up to its last line), any language reads it, and a frame of
24 rays reads in a microsecond or two in C++: less than the library spends on it.
"""

from __future__ import annotations

import json
from dataclasses import dataclass, field
from typing import IO, Any, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from .camera import Camera, rotation_matrix

FORMAT = "lumetra-recording"
VERSION = 1
#: A true marker of a ray that shows none.
NO_MARKER = -1


@dataclass(frozen=True)
class RecordedCamera:
    """A camera of the recording: its mount (rotation camera -> tracker, position in the tracker's
    frame) and its model when its frames give pixels."""
    rotation: Tuple[float, float, float, float] = (0.0, 0.0, 0.0, 1.0)
    position: Tuple[float, float, float] = (0.0, 0.0, 0.0)
    model: Optional[Camera] = None


@dataclass
class RecordedFrame:
    time: float
    camera: int
    rays: npt.NDArray[np.float32]                  #: (n, 3) in the camera's frame
    pixels: Optional[npt.NDArray[np.float64]] = None  #: (n, 2) when the frame gave pixels
    truth_position: Optional[npt.NDArray[np.float64]] = None
    truth_rotation: Optional[npt.NDArray[np.float64]] = None
    truth_markers: Optional[npt.NDArray[np.int64]] = None  #: per ray, NO_MARKER for none
    inertial_before: int = 0  #: inertial samples that came before this frame


@dataclass
class Recording:
    environment: str
    cameras: List[RecordedCamera]
    frames: List[RecordedFrame] = field(default_factory=list)
    #: (m, 7): time, angular rate x, y, z (rad/s), specific force x, y, z, in the tracker's frame
    inertial: npt.NDArray[np.float64] = field(default_factory=lambda: np.empty((0, 7)))

    def tracker_rays(self) -> Tuple[npt.NDArray[np.float32], npt.NDArray[np.uint64]]:
        """Every frame's rays turned into the tracker's frame, all in one array, and the offsets
        (frame f is rays[offsets[f]:offsets[f + 1]]), as Environment.identify_frames takes them."""
        matrices = [rotation_matrix(camera.rotation).astype(np.float32) for camera in self.cameras]
        parts = [frame.rays @ matrices[frame.camera].T for frame in self.frames]
        offsets = np.zeros(len(parts) + 1, np.uint64)
        offsets[1:] = np.cumsum([len(p) for p in parts])
        rays = np.concatenate(parts).astype(np.float32) if parts else np.empty((0, 3), np.float32)
        return np.ascontiguousarray(rays), offsets

    @property
    def times(self) -> npt.NDArray[np.float64]:
        return np.array([frame.time for frame in self.frames])


def _vector(values: Any, size: int, what: str) -> npt.NDArray[np.float64]:
    array = np.asarray(values, dtype=np.float64)
    if array.shape != (size,) or not np.all(np.isfinite(array)):
        raise ValueError("%s must be %d finite numbers" % (what, size))
    return array


def _camera(values: Dict[str, Any]) -> RecordedCamera:
    rotation = tuple(_vector(values.get("rotation", (0, 0, 0, 1)), 4, "a camera rotation"))
    position = tuple(_vector(values.get("position", (0, 0, 0)), 3, "a camera position"))
    model = Camera.from_dict(values) if "model" in values else None
    return RecordedCamera(rotation, position, model)  # type: ignore[arg-type]


def read_recording(source: Union[str, IO[str]]) -> Recording:
    """Reads a recording from a path or an open text file; ValueError names the line of a fault."""
    if isinstance(source, str):
        with open(source, encoding="utf-8") as file:
            return read_recording(file)
    recording: Optional[Recording] = None
    inertial: List[List[float]] = []
    for number, line in enumerate(source, start=1):
        if not line.strip():
            continue
        try:
            values = json.loads(line)
            if recording is None:
                if values.get("type") != "header" or values.get("format") != FORMAT:
                    raise ValueError('the first line must be the header {"type": "header", "format": "%s", ...}'
                                     % FORMAT)
                if values.get("version") != VERSION:
                    raise ValueError("format version %d expected" % VERSION)
                cameras = [_camera(c) for c in values.get("cameras", [])] or [RecordedCamera()]
                recording = Recording(str(values["environment"]), cameras)
            elif values.get("type") == "frame":
                recording.frames.append(_frame(values, recording, len(inertial)))
            elif values.get("type") == "inertial":
                inertial.append([float(values["time"]), *_vector(values["angularRate"], 3, "angularRate"),
                                 *_vector(values["specificForce"], 3, "specificForce")])
        except (ValueError, KeyError, TypeError) as error:
            raise ValueError("recording line %d: %s" % (number, error)) from None
    if recording is None:
        raise ValueError("the recording is empty")
    recording.inertial = np.array(inertial, dtype=np.float64).reshape(-1, 7)
    return recording


def _frame(values: Dict[str, Any], recording: Recording, inertial_before: int) -> RecordedFrame:
    camera = int(values.get("camera", 0))
    if not 0 <= camera < len(recording.cameras):
        raise ValueError("camera %d is not in the header's list" % camera)
    if ("rays" in values) == ("pixels" in values):
        raise ValueError("a frame gives either rays or pixels")
    pixels = None
    if "pixels" in values:
        model = recording.cameras[camera].model
        if model is None:
            raise ValueError("pixels of a camera without a model")
        pixels = np.asarray(values["pixels"], dtype=np.float64).reshape(-1, 2)
        rays = model.camera_rays(pixels).astype(np.float32)
    else:
        rays = np.asarray(values["rays"], dtype=np.float32).reshape(-1, 3)
    frame = RecordedFrame(float(values["time"]), camera, rays, pixels, inertial_before=inertial_before)
    truth = values.get("truth")
    if truth:
        if "position" in truth:
            frame.truth_position = _vector(truth["position"], 3, "a true position")
            frame.truth_rotation = _vector(truth["rotation"], 4, "a true rotation")
        if "markers" in truth:
            frame.truth_markers = np.asarray(truth["markers"], dtype=np.int64).reshape(-1)
            if len(frame.truth_markers) != len(rays):
                raise ValueError("the true markers must be one per ray")
    return frame


class RecordingWriter:
    """Writes a recording line by line to a path or an open text file (a context manager)."""

    def __init__(self, target: Union[str, IO[str]], environment: str, cameras: Sequence[Camera] = ()) -> None:
        self._owned = isinstance(target, str)
        self._file: IO[str] = open(target, "w", encoding="utf-8") if isinstance(target, str) else target
        self._cameras = len(cameras) or 1
        self._write({"type": "header", "format": FORMAT, "version": VERSION, "environment": environment,
                     "cameras": [camera.to_dict() for camera in cameras]})

    def frame(self, time: float, rays: Optional[npt.ArrayLike] = None, pixels: Optional[npt.ArrayLike] = None,
              camera: int = 0, truth_position: Optional[Sequence[float]] = None,
              truth_rotation: Optional[Sequence[float]] = None, truth_markers: Optional[npt.ArrayLike] = None) -> None:
        """One frame: rays in the camera's frame or pixel centroids (a camera with a model), with
        the truth when it is known (markers per ray, NO_MARKER or any value >= 2^32 - 2 for none)."""
        if (rays is None) == (pixels is None):
            raise ValueError("give either rays or pixels")
        if not 0 <= camera < self._cameras:
            raise ValueError("camera %d is not in the header's list" % camera)
        line: Dict[str, Any] = {"type": "frame", "time": float(time), "camera": int(camera)}
        if rays is not None:
            line["rays"] = np.asarray(rays, dtype=np.float32).reshape(-1, 3).tolist()
        else:
            line["pixels"] = np.asarray(pixels, dtype=np.float64).reshape(-1, 2).tolist()
        truth: Dict[str, Any] = {}
        if truth_position is not None:
            truth["position"] = [float(v) for v in truth_position]
            truth["rotation"] = [float(v) for v in truth_rotation]  # type: ignore[union-attr]
        if truth_markers is not None:
            markers = np.asarray(truth_markers, dtype=np.int64).reshape(-1)
            truth["markers"] = np.where((markers < 0) | (markers >= 0xFFFFFFFE), NO_MARKER, markers).tolist()
        if truth:
            line["truth"] = truth
        self._write(line)

    def inertial(self, time: float, angular_rate: Sequence[float], specific_force: Sequence[float]) -> None:
        """One inertial sample in the tracker's frame: rad/s, and units/s^2 (at rest: up, gravity)."""
        self._write({"type": "inertial", "time": float(time), "angularRate": [float(v) for v in angular_rate],
                     "specificForce": [float(v) for v in specific_force]})

    def _write(self, line: Dict[str, Any]) -> None:
        self._file.write(json.dumps(line, separators=(",", ":"), allow_nan=False) + "\n")

    def close(self) -> None:
        if self._owned:
            self._file.close()
        else:
            self._file.flush()

    def __enter__(self) -> "RecordingWriter":
        return self

    def __exit__(self, *_exception: Any) -> None:
        self.close()
