"""Library and Environment: the library objects behind reference-holding Python objects, with
numpy arrays in and out.

Axes: the environment's frame has y pointing up; the grid lies in the x-z plane, centred on the
origin, its markers at one height y. A tracker's camera looks along its own -y axis for markers
on a floor, along +y for markers under a ceiling. Rays are unit directions in the tracker's
frame; a pose's rotation turns tracker-frame vectors into environment-frame vectors.
"""

from __future__ import annotations

import ctypes
import threading
from typing import Any, Callable, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _abi
from ._errors import LumetraError
from ._loader import load_library, load_simulation_library
from ._report import PoseReport, empty_report, unpack_covariances

#: Marker index of a ray that no single marker lies near.
MARKER_NOT_FOUND = 0xFFFFFFFE
#: Marker index of a ray that was not identified or collided with another ray's marker.
MARKER_UNIDENTIFIED = 0xFFFFFFFF

_MAX_ELEMENTS = 0xFFFFFFFF  # element counts cross the boundary as 32-bit values
_IDENTITY_POSE = bytes(_abi.PoseStruct(rotation=_abi.Quaternion(w=1.0)))

FloatArray = npt.NDArray[np.float32]
IndexArray = npt.NDArray[np.uint32]
Vectors = Union[npt.ArrayLike, Sequence[Sequence[float]]]


class Pose(NamedTuple):
    """Tracker pose: position (x, y, z) and rotation quaternion (x, y, z, w), tracker to environment."""
    position: FloatArray
    rotation: FloatArray


class MatchResult(NamedTuple):
    """Result of Environment.match: success flag, pose, one marker index per ray."""
    ok: bool
    pose: Pose
    indices: IndexArray


class TrackingResult(NamedTuple):
    """Result of Environment.identify and Environment.track: one marker index per ray (all
    MARKER_UNIDENTIFIED when no pose was found), the pose or None, and the fit's report."""
    indices: IndexArray
    pose: Optional[Pose]
    report: PoseReport


PoseLike = Union[Pose, Tuple[Sequence[float], Sequence[float]]]


def _pose_struct(pose: PoseLike) -> _abi.PoseStruct:
    position, rotation = pose
    x, y, z, w = (float(c) for c in rotation)
    return _abi.PoseStruct(_vector3(position), _abi.Quaternion(x, y, z, w))


def _pose_of(pose: _abi.PoseStruct) -> Pose:
    p, q = pose.position, pose.rotation
    return Pose(np.array((p.x, p.y, p.z), np.float32), np.array((q.x, q.y, q.z, q.w), np.float32))


class BatchResult(NamedTuple):
    """Result of Environment.match_frames, one row per frame (indices: one per ray, all frames).
    Positions and rotations are NaN where the library left the pose untouched."""
    ok: npt.NDArray[np.bool_]
    positions: FloatArray
    rotations: FloatArray
    indices: IndexArray
    seconds: npt.NDArray[np.float64]


class PoseBatch(NamedTuple):
    """Result of Environment.identify_frames and Environment.track_walk, one row per frame
    (indices: one per ray, all frames). Positions and rotations are NaN where no pose was found;
    methods are PoseMethod values; covariances (n, 6, 6) as PoseReport.covariance."""
    found: npt.NDArray[np.bool_]
    positions: FloatArray
    rotations: FloatArray
    indices: IndexArray
    methods: IndexArray
    numbered_rays: IndexArray
    covariances: npt.NDArray[np.float64]
    seconds: npt.NDArray[np.float64]


#: PoseReport as numpy sees it (108 bytes), for batches of reports.
_REPORT_DTYPE = np.dtype([("structSize", np.uint32), ("numberedRays", np.uint32), ("supportingRays", np.uint32),
                          ("method", np.uint32), ("rmsAngle", np.float32), ("maxAngle", np.float32),
                          ("covariance", np.float32, (21,))])
assert _REPORT_DTYPE.itemsize == ctypes.sizeof(_abi.PoseReportStruct)


def _usable(rays: FloatArray) -> npt.NDArray[np.bool_]:
    """Rays the library takes part: finite and of nonzero length."""
    return np.isfinite(rays).all(axis=1) & (np.abs(rays).sum(axis=1) > 0)


def _why_not_identified(rays: FloatArray, call: str) -> str:
    usable = int(_usable(rays).sum())
    if usable < 3:
        return "only %d usable rays (finite, nonzero): a bar shows three markers" % usable
    if len(rays) > 512:
        return "%d rays: frames of more than 512 rays are not searched" % len(rays)
    what = "the prediction did not hold and identifying afresh" if call == "track" else "identification"
    return ("%s found no pose that explains at least half of the %d usable rays: too few complete bars in view, "
            "or none the environment's catalogue knows" % (what, usable))


def vectors(values: Vectors, what: str = "rays") -> FloatArray:
    """`values` as a C-contiguous (n, 3) float32 array."""
    array = np.ascontiguousarray(values, dtype=np.float32)
    if array.size == 0:
        array = array.reshape(0, 3)
    if array.ndim != 2 or array.shape[1] != 3:
        raise ValueError("%s must have shape (n, 3), not %s" % (what, array.shape))
    if len(array) > _MAX_ELEMENTS:
        raise ValueError("more than %d %s" % (_MAX_ELEMENTS, what))
    return array


def _vector3(value: Sequence[float]) -> _abi.Vector3:
    x, y, z = value
    return _abi.Vector3(float(x), float(y), float(z))


class _Received(threading.local):
    """The out-array of the calling thread's current call. The library calls the allocator once,
    on the calling thread, before it returns, so one slot per thread suffices."""
    element: Any = ctypes.c_uint32
    dtype: Any = np.uint32
    shape: Tuple[int, ...] = ()
    buffer: Any = None
    error: Optional[BaseException] = None


_received = _Received()


@_abi.Allocate
def _allocate(_context: Any, count: int) -> Optional[int]:
    # An exception cannot cross the C boundary: keep it and raise it after the call.
    try:
        _received.buffer = (_received.element * count)()
    except BaseException as error:  # MemoryError, KeyboardInterrupt
        _received.error = error
        return None
    return ctypes.addressof(_received.buffer) if count else None


#: The one allocator every call uses (a ctypes callback is costly to make).
_ALLOCATOR = _abi.ArrayOut(None, _allocate)


def _expect(element: Any, dtype: Any, shape: Tuple[int, ...] = ()) -> _abi.ArrayOut:
    """Prepares the calling thread to receive an out-array of `element` (numpy `dtype`, each
    `shape`); pass the result to the call, then collect it with _received_array()."""
    _received.element, _received.dtype, _received.shape = element, dtype, shape
    _received.buffer, _received.error = None, None
    return _ALLOCATOR


def _received_array() -> np.ndarray:
    buffer, error = _received.buffer, _received.error
    _received.buffer = _received.error = None
    if error is not None:
        raise error
    if buffer is None:
        return np.empty((0,) + _received.shape, dtype=_received.dtype)
    return np.frombuffer(buffer, dtype=_received.dtype).reshape((-1,) + _received.shape)


def thread_message(interface: int) -> str:
    """The calling thread's message, read through the object's IExceptionData (not counted)."""
    exception_data = _abi.Interface()
    if _abi.call(interface, "IUnsafe", "QueryInterface", ctypes.byref(_abi.IEXCEPTION_DATA),
                 ctypes.byref(exception_data)) != _abi.OK:
        return ""
    if _abi.call(exception_data.value, "IExceptionData", "getMessage", _expect(ctypes.c_char, np.uint8)) != _abi.OK:
        return ""
    return _received_array().tobytes().decode("utf-8", "replace")


def _check(code: int, interface: int) -> None:
    if code != _abi.OK:
        raise LumetraError(code, thread_message(interface))


class _Counted:
    """Owns one reference to a library object and releases it once."""

    _interface: Optional[int] = None

    def __init__(self, interface: int, what: str) -> None:
        self._interface = interface
        self._what = what

    def _live(self) -> int:
        if self._interface is None:
            raise ValueError("%s is closed" % self._what)
        return self._interface

    def close(self) -> None:
        """Releases the reference; further use raises ValueError. Calling it again does nothing."""
        interface, self._interface = self._interface, None
        if interface is not None:
            _abi.call(interface, "IInterface", "Release")

    @property
    def closed(self) -> bool:
        return self._interface is None

    def __enter__(self) -> Any:
        return self

    def __exit__(self, *_exception: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # interpreter shutdown: ctypes may already be gone
            pass


class Library(_Counted):
    """The loaded shared library and one ILibrary object of it.

    Without `path`, the library is found as lumetra_horizontal_grid describes; LumetraError names
    every place tried. The shared library stays loaded for the life of the process.
    """

    def __init__(self, path: Optional[str] = None) -> None:
        self._dll, self.path = load_library(path)
        entry = self._dll.getLibraryInterface
        entry.restype = _abi.ExceptionCode
        entry.argtypes = [_abi.Interface, ctypes.POINTER(_abi.Interface)]
        library = _abi.Interface()
        code = entry(None, ctypes.byref(library))
        if code != _abi.OK:
            raise LumetraError(code, "getLibraryInterface failed")
        super().__init__(library.value, "library")

    def create_environment(self, code: Union[str, bytes]) -> "Environment":
        """Creates an environment from its code (base64 text, str or bytes)."""
        if isinstance(code, str):
            code = code.encode("ascii", "strict")
        library = self._live()
        data = bytes(code)
        if len(data) > _MAX_ELEMENTS:
            raise ValueError("code longer than %d bytes" % _MAX_ELEMENTS)
        buffer = ctypes.create_string_buffer(data, len(data))
        environment = _abi.Interface()
        _check(_abi.call(library, "IEnvironmentConstructor", "createEnvironment",
                         _abi.ArrayIn(ctypes.cast(buffer, ctypes.c_void_p), len(data)),
                         ctypes.byref(environment)), library)
        return Environment(environment.value, self.path)


class Environment(_Counted):
    """A horizontal grid environment. Environments never change and outlive their Library."""

    def __init__(self, interface: int, library_path: str) -> None:
        super().__init__(interface, "environment")
        self._library_path = library_path
        # Function tables never change: read the hot functions once.
        self._match: Callable[..., int] = _abi.function(interface, "IEnvironment", "match")
        self._simulation: Optional[ctypes.CDLL] = None
        self._tracking: Optional[int] = None  # the ITrackingEnvironment face, queried on first use

    def close(self) -> None:
        tracking, self._tracking = self._tracking, None
        if tracking is not None:
            _abi.call(tracking, "IInterface", "Release")
        super().close()

    def _tracking_face(self) -> int:
        environment = self._live()
        if self._tracking is None:
            face = _abi.Interface()
            _check(_abi.call(environment, "IUnsafe", "QueryInterface", ctypes.byref(_abi.ITRACKING_ENVIRONMENT),
                             ctypes.byref(face)), environment)
            self._tracking = face.value
        assert self._tracking is not None
        return self._tracking

    def _tracked(self, name: str, array: FloatArray, *arguments: Any) -> TrackingResult:
        face = self._tracking_face()
        pose = _abi.PoseStruct.from_buffer_copy(_IDENTITY_POSE)
        report, found = empty_report(), _abi.LongBool()
        _check(_abi.call(face, "ITrackingEnvironment", name, _abi.ArrayIn(array.ctypes.data, len(array)), *arguments,
                         _expect(ctypes.c_uint32, np.uint32), ctypes.byref(pose), ctypes.byref(report),
                         ctypes.byref(found)), face)
        indices = _received_array()
        if not found.value:
            return TrackingResult(np.full(len(array), MARKER_UNIDENTIFIED, np.uint32), None,
                                  PoseReport.of(report, _why_not_identified(array, name)))
        return TrackingResult(indices, _pose_of(pose), PoseReport.of(report))

    def identify(self, rays: Vectors) -> TrackingResult:
        """Identifies the rays of one frame without a prior pose, tolerating noise, dropped
        markers and stray rays; rays that show no marker get MARKER_NOT_FOUND."""
        return self._tracked("identify", vectors(rays))

    def track(self, rays: Vectors, predicted_pose: PoseLike) -> TrackingResult:
        """Identifies the rays from the pose expected for this frame (e.g. the last pose, or one
        advanced by a motion model); identifies afresh when the prediction does not hold
        (report.method is then PoseMethod.TRACK_FELL_BACK). LumetraError when the predicted
        rotation is not a unit quaternion or anything is not finite."""
        predicted = _pose_struct(predicted_pose)
        return self._tracked("track", vectors(rays), ctypes.byref(predicted))

    def refine_pose(self, rays: Vectors, indices: npt.ArrayLike,
                    pose: PoseLike) -> Tuple[Optional[Pose], PoseReport]:
        """The least-squares pose from rays whose marker numbers are given (MARKER_NOT_FOUND and
        MARKER_UNIDENTIFIED are ignored), started from `pose`; None when fewer than three rays
        carry a number or the fit does not settle, with report.reason saying which. LumetraError
        when the counts differ or an index names no marker."""
        face = self._tracking_face()
        array = vectors(rays)
        numbers = np.ascontiguousarray(indices, dtype=np.uint32).reshape(-1)
        start = _pose_struct(pose)
        report, found = empty_report(), _abi.LongBool()
        _check(_abi.call(face, "ITrackingEnvironment", "refinePose", _abi.ArrayIn(array.ctypes.data, len(array)),
                         _abi.ArrayIn(numbers.ctypes.data, len(numbers)), ctypes.byref(start), ctypes.byref(report),
                         ctypes.byref(found)), face)
        if found.value:
            return _pose_of(start), PoseReport.of(report)
        usable = int(np.sum((numbers < MARKER_NOT_FOUND) & _usable(array))) if len(numbers) == len(array) else 0
        reason = ("only %d usable rays carry a marker number; a pose needs three" % usable if usable < 3 else
                  "the fit did not settle: the numbered markers may lie on one line, or the start is too far off")
        return None, PoseReport.of(report, reason)

    @property
    def markers(self) -> FloatArray:
        """(n, 3) marker positions, three per bar; a marker's row is its marker number."""
        environment = self._live()
        _check(_abi.call(environment, "IEnvironment", "getMarkers", _expect(_abi.Vector3, np.float32, (3,))),
               environment)
        return _received_array()

    @property
    def is_mutable(self) -> bool:
        environment = self._live()
        result = _abi.LongBool()
        _check(_abi.call(environment, "IEnvironment", "isMutable", ctypes.byref(result)), environment)
        return result.value != 0

    @property
    def ceiling(self) -> bool:
        """Whether the markers hang under a ceiling (trackers look up) rather than lie on a floor."""
        return self.filter_ray((0, 1, 0), (0, 1, 0))

    def filter_ray(self, ray: Sequence[float], reference: Sequence[float]) -> bool:
        """Whether `ray` can show a marker: `reference` is the environment's up direction (+y)
        in the ray's frame, and a ray passes when it points towards the marker plane (down for a
        floor, up for a ceiling), i.e. by the sign of their dot product."""
        environment = self._live()
        result = _abi.LongBool()
        _check(_abi.call(environment, "IEnvironment", "filterRay", _vector3(ray), _vector3(reference),
                         ctypes.byref(result)), environment)
        return result.value != 0

    def match(self, rays: Vectors) -> MatchResult:
        """Identifies the rays of one frame ((n, 3) unit directions in the tracker's frame).

        When ok, indices holds one marker number (or MARKER_NOT_FOUND / MARKER_UNIDENTIFIED) per
        ray and the pose is the tracker's. When not, indices may be empty and the pose the
        identity at the origin.
        """
        environment = self._live()
        array = vectors(rays)
        pose = _abi.PoseStruct.from_buffer_copy(_IDENTITY_POSE)
        matched = _abi.LongBool()
        _check(self._match(environment, _abi.ArrayIn(array.ctypes.data, len(array)),
                           _expect(ctypes.c_uint32, np.uint32), ctypes.byref(pose), ctypes.byref(matched)),
               environment)
        indices = _received_array()
        p, q = pose.position, pose.rotation
        return MatchResult(matched.value != 0,
                           Pose(np.array((p.x, p.y, p.z), np.float32), np.array((q.x, q.y, q.z, q.w), np.float32)),
                           indices)

    def match_frames(self, rays: Vectors, offsets: npt.ArrayLike) -> BatchResult:
        """Identifies many frames in one call: frame f is rays[offsets[f]:offsets[f + 1]] (as
        Frames.rays and Frames.offsets hold them). The loop over frames runs in the frame
        simulator's library, so frames cost what they cost a C++ host."""
        environment, array, bounds, count, indices, poses, ok, seconds = self._frame_batch(rays, offsets)
        code = self.simulation_library().lumetra_simulation_match(
            ctypes.c_void_p(environment), array.ctypes.data, len(array), bounds.ctypes.data, count, indices.ctypes.data,
            poses.ctypes.data, ok.ctypes.data, seconds.ctypes.data)
        if code == 0x80070057:  # InvalidArgument: only the offsets can be
            raise ValueError("offsets must rise from 0 to at most len(rays)")
        _check(code, environment)
        return BatchResult(ok != 0, poses[:, :3], poses[:, 3:], indices, seconds)

    def identify_frames(self, rays: Vectors, offsets: npt.ArrayLike) -> "PoseBatch":
        """identify on many frames in one call (frame f is rays[offsets[f]:offsets[f + 1]]); the
        loop runs in the frame simulator's library, so frames cost what they cost a C++ host."""
        return self._pose_frames("lumetra_simulation_identify", rays, offsets)

    def track_walk(self, rays: Vectors, offsets: npt.ArrayLike) -> "PoseBatch":
        """track along a sequence of frames in one call: each frame predicted at constant velocity
        from the two poses found before (identified when there is none), as the tool's simulate
        --method track does."""
        return self._pose_frames("lumetra_simulation_track", rays, offsets)

    def _pose_frames(self, function: str, rays: Vectors, offsets: npt.ArrayLike) -> "PoseBatch":
        environment, array, bounds, count, indices, poses, found, seconds = self._frame_batch(rays, offsets)
        reports = np.zeros(count, _REPORT_DTYPE)
        code = getattr(self.simulation_library(), function)(
            ctypes.c_void_p(environment), array.ctypes.data, len(array), bounds.ctypes.data, count,
            indices.ctypes.data, poses.ctypes.data, found.ctypes.data, reports.ctypes.data, seconds.ctypes.data)
        if code == 0x80070057:
            raise ValueError("offsets must rise from 0 to at most len(rays)")
        _check(code, environment)
        return PoseBatch(found != 0, poses[:, :3], poses[:, 3:], indices, reports["method"].astype(np.uint32),
                         reports["numberedRays"].astype(np.uint32), unpack_covariances(reports["covariance"]), seconds)

    def _frame_batch(self, rays: Vectors, offsets: npt.ArrayLike) -> tuple:
        """The inputs of a batch call and its outputs to fill: the environment, the rays, the frame
        bounds, the frame count, one index per ray, one pose, flag and time per frame."""
        environment = self._live()
        array = vectors(rays)
        bounds = np.ascontiguousarray(offsets, dtype=np.uint64)
        if bounds.ndim != 1 or len(bounds) < 1:
            raise ValueError("offsets must be a sequence of frame starts and the end")
        count = len(bounds) - 1
        return (environment, array, bounds, count, np.empty(len(array), np.uint32), np.empty((count, 7), np.float32),
                np.empty(count, np.uint32), np.empty(count, np.float64))

    def match_by_position(self, rays: Vectors, position: Sequence[float]) -> IndexArray:
        """Identifies the rays when the tracker's position is known; one marker index per ray."""
        environment = self._live()
        array = vectors(rays)
        _check(_abi.call(environment, "IEnvironment", "matchByPosition", _abi.ArrayIn(array.ctypes.data, len(array)),
                         _vector3(position), _expect(ctypes.c_uint32, np.uint32)), environment)
        return _received_array()

    def simulation_library(self) -> ctypes.CDLL:
        """The frame simulator's library (loaded on first use), with its functions typed."""
        if self._simulation is None:
            from ._simulation_abi import declare
            self._simulation = declare(load_simulation_library(self._library_path))
        return self._simulation
