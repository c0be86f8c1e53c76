"""Python access to libLumetraVeskEnvironmentHorizontalGrid.so, the horizontal grid environment.

Standard library only: the library's binary interface is called through ctypes, exactly as the
C++ host header LumetraVeskEnvironmentHorizontalGrid.h describes it.

    with Library() as library, library.create_environment(code) as environment:
        print(environment.markers)
        result = environment.match(rays)
        if result.ok:
            print(result.pose.position, result.indices)

Failures raise LumetraError, carrying the library's result code and the calling thread's message.
Library and Environment hold one reference each to their library object; close() (or leaving the
with block, or garbage collection) releases it.
"""

import ctypes
import os
from collections import namedtuple

__all__ = [
    "Library", "Environment", "LumetraError", "MatchResult", "Pose",
    "MARKER_NOT_FOUND", "MARKER_UNIDENTIFIED", "LIBRARY_ENVIRONMENT_VARIABLE",
]

#: Environment variable naming the shared library when Library() is given no path.
LIBRARY_ENVIRONMENT_VARIABLE = "LUMETRA_LIBRARY"
LIBRARY_FILE_NAME = "libLumetraVeskEnvironmentHorizontalGrid.so"
_DEFAULT_LIBRARY = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "build", "release",
                                LIBRARY_FILE_NAME)

#: Marker index of a ray that no single marker lies near.
MARKER_NOT_FOUND = 0xFFFFFFFE
#: Marker index of a ray that was not identified or collided with another ray's marker.
MARKER_UNIDENTIFIED = 0xFFFFFFFF

OK = 0x00000000
CODE_NAMES = {
    0x00000000: "Ok",
    0x80004002: "NoInterface",
    0x80004003: "InvalidPointer",
    0x80004005: "Failed",
    0x8007000E: "OutOfMemory",
    0x80070057: "InvalidArgument",
}

Pose = namedtuple("Pose", "position rotation")
Pose.__doc__ = "Tracker pose: position (x, y, z) and rotation quaternion (x, y, z, w), tracker to environment."
MatchResult = namedtuple("MatchResult", "ok pose indices")
MatchResult.__doc__ = "Result of Environment.match: success flag, pose, one marker index per ray."


class LumetraError(Exception):
    """A library call that did not return Ok."""

    def __init__(self, code, message):
        super().__init__("%s (0x%08X): %s" % (CODE_NAMES.get(code, "error"), code, message))
        self.code = code
        self.message = message


# --- Types that cross the boundary -------------------------------------------------------------

class _InterfaceID(ctypes.Structure):
    _fields_ = [("data1", ctypes.c_uint32), ("data2", ctypes.c_uint16), ("data3", ctypes.c_uint16),
                ("data4", ctypes.c_uint8 * 8)]

    @classmethod
    def of(cls, data1, data2, data3, *data4):
        return cls(data1, data2, data3, (ctypes.c_uint8 * 8)(*data4))


_IEXCEPTION_DATA = _InterfaceID.of(0x97122FF5, 0xCEAA, 0x4C40, 0x96, 0x27, 0x12, 0xAA, 0xB7, 0x4A, 0x5D, 0xAF)


class _Vector3(ctypes.Structure):
    # Three float fields, not an array: passed by value, they travel in SSE registers.
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float), ("z", ctypes.c_float)]


class _Quaternion(ctypes.Structure):
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float), ("z", ctypes.c_float), ("w", ctypes.c_float)]


class _Pose(ctypes.Structure):
    _fields_ = [("position", _Vector3), ("rotation", _Quaternion)]


class _ArrayIn(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("size", ctypes.c_uint32)]


_Allocate = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32)


class _ArrayOut(ctypes.Structure):
    _fields_ = [("context", ctypes.c_void_p), ("allocate", _Allocate)]


class _Collector:
    """Receives one out-array: the library calls allocate once, then fills the buffer."""

    def __init__(self, element_type):
        self.element_type = element_type
        self.buffer = None
        self.error = None
        self.callback = _Allocate(self._allocate)  # kept alive for the duration of the call

    def _allocate(self, _context, count):
        # An exception cannot cross the C boundary: keep it and raise it after the call.
        try:
            self.buffer = (self.element_type * count)()
        except BaseException as error:  # MemoryError, KeyboardInterrupt
            self.error = error
            return None
        return ctypes.addressof(self.buffer) if count else None

    def marshaler(self):
        return _ArrayOut(None, self.callback)

    def _received(self):
        if self.error is not None:
            raise self.error
        return self.buffer

    def elements(self):
        buffer = self._received()
        return list(buffer) if buffer is not None else []

    def text(self):
        buffer = self._received()
        return buffer.raw.decode("utf-8", "replace") if buffer is not None else ""


_MAX_ELEMENTS = 0xFFFFFFFF  # element counts cross the boundary as 32-bit values


def _checked_count(count):
    if count > _MAX_ELEMENTS:
        raise ValueError("more than %d elements" % _MAX_ELEMENTS)
    return count


def _array_in(element_type, values):
    array = (element_type * _checked_count(len(values)))(*values)
    return _ArrayIn(ctypes.cast(array, ctypes.c_void_p), len(values)), array


def _text_in(data):
    """Bytes without a terminating zero."""
    buffer = ctypes.create_string_buffer(bytes(data), _checked_count(len(data)))
    return _ArrayIn(ctypes.cast(buffer, ctypes.c_void_p), len(data)), buffer


def _vector3(value):
    x, y, z = value
    return _Vector3(float(x), float(y), float(z))


def _tuple3(vector):
    return (vector.x, vector.y, vector.z)


# --- Calls through function tables -------------------------------------------------------------

_LongBool = ctypes.c_uint32
_ExceptionCode = ctypes.c_uint32
_Interface = ctypes.c_void_p

# Every function by name: its slot in the function table (IUnsafe's, then IInterface's, then the
# interface's own; IExceptionData derives from IUnsafe only), result type and argument types after
# the interface pointer.
_FUNCTIONS = {
    "QueryInterface": (0, _ExceptionCode, ctypes.POINTER(_InterfaceID), ctypes.POINTER(_Interface)),
    "AddRef": (1, ctypes.c_uint32),
    "Release": (2, ctypes.c_uint32),
    "getMessage": (1, _ExceptionCode, _ArrayOut),                                 # IExceptionData
    "createEnvironment": (3, _ExceptionCode, _ArrayIn, ctypes.POINTER(_Interface)),  # ILibrary
    "isMutable": (3, _ExceptionCode, ctypes.POINTER(_LongBool)),                  # IEnvironment
    "getMarkers": (4, _ExceptionCode, _ArrayOut),
    "filterRay": (5, _ExceptionCode, _Vector3, _Vector3, ctypes.POINTER(_LongBool)),
    "match": (6, _ExceptionCode, _ArrayIn, _ArrayOut, ctypes.POINTER(_Pose), ctypes.POINTER(_LongBool)),
    "matchByPosition": (7, _ExceptionCode, _ArrayIn, _Vector3, _ArrayOut),
}
_PROTOTYPES = {name: (entry[0], ctypes.CFUNCTYPE(entry[1], _Interface, *entry[2:]))
               for name, entry in _FUNCTIONS.items()}


def _call(interface, name, *arguments):
    """Calls function `name` through the function table of `interface`."""
    slot, prototype = _PROTOTYPES[name]
    table = ctypes.cast(interface, ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
    return prototype(table[slot])(interface, *arguments)


def _thread_message(interface):
    """The calling thread's message, read through the object's IExceptionData (not counted)."""
    exception_data = _Interface()
    if _call(interface, "QueryInterface", ctypes.byref(_IEXCEPTION_DATA),
             ctypes.byref(exception_data)) != OK:
        return ""
    text = _Collector(ctypes.c_char)
    if _call(exception_data, "getMessage", text.marshaler()) != OK:
        return ""
    return text.text()


def _check(code, interface):
    if code != OK:
        raise LumetraError(code, _thread_message(interface))


class _Counted:
    """Owns one reference to a library object and releases it once."""

    _interface = None

    def __init__(self, interface, what):
        self._interface = interface
        self._what = what

    def _live(self):
        if self._interface is None:
            raise ValueError("%s is closed" % self._what)
        return self._interface

    def close(self):
        """Releases the reference; further use raises ValueError. Calling it again does nothing."""
        interface, self._interface = self._interface, None
        if interface is not None:
            _call(interface, "Release")

    @property
    def closed(self):
        return self._interface is None

    def __enter__(self):
        return self

    def __exit__(self, *_exception):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # interpreter shutdown: ctypes may already be gone
            pass


class Library(_Counted):
    """The loaded shared library and one ILibrary object of it.

    `path` defaults to $LUMETRA_LIBRARY, then to the release build of this source tree.
    The shared library stays loaded for the life of the process.
    """

    def __init__(self, path=None):
        path = path or os.environ.get(LIBRARY_ENVIRONMENT_VARIABLE) or os.path.normpath(_DEFAULT_LIBRARY)
        self.path = path
        self._dll = ctypes.CDLL(path, mode=ctypes.RTLD_LOCAL)
        entry = self._dll.getLibraryInterface
        entry.restype = _ExceptionCode
        entry.argtypes = [_Interface, ctypes.POINTER(_Interface)]
        library = _Interface()
        code = entry(None, ctypes.byref(library))
        if code != OK:
            raise LumetraError(code, "getLibraryInterface failed")
        super().__init__(library, "library")

    def create_environment(self, code):
        """Creates an environment from its code (base64 text, str or bytes)."""
        if isinstance(code, str):
            code = code.encode("ascii", "strict")
        library = self._live()
        text, _keep = _text_in(code)
        environment = _Interface()
        _check(_call(library, "createEnvironment", text, ctypes.byref(environment)), library)
        return Environment(environment)


class Environment(_Counted):
    """A horizontal grid environment. Environments never change and outlive their Library.

    Vectors are (x, y, z) sequences of numbers; in the environment's frame y points up.
    """

    def __init__(self, interface):
        super().__init__(interface, "environment")

    @property
    def markers(self):
        """3D marker positions, three per bar; the index of a marker is its marker number."""
        environment = self._live()
        markers = _Collector(_Vector3)
        _check(_call(environment, "getMarkers", markers.marshaler()), environment)
        return [_tuple3(marker) for marker in markers.elements()]

    @property
    def is_mutable(self):
        environment = self._live()
        result = _LongBool()
        _check(_call(environment, "isMutable", ctypes.byref(result)), environment)
        return result.value != 0

    def filter_ray(self, ray, reference):
        """Whether `ray` can show a marker, judged by its direction against `reference`."""
        environment = self._live()
        result = _LongBool()
        _check(_call(environment, "filterRay", _vector3(ray), _vector3(reference),
                     ctypes.byref(result)), environment)
        return result.value != 0

    def match(self, rays):
        """Identifies the rays of one frame (unit directions in the tracker's frame).

        Returns MatchResult(ok, pose, indices). When ok, indices holds one marker number (or
        MARKER_NOT_FOUND / MARKER_UNIDENTIFIED) per ray and the pose is the tracker's. When not,
        either may be left as it started (no indices, identity pose at the origin).
        """
        environment = self._live()
        rays_in, _keep = _array_in(_Vector3, [_vector3(ray) for ray in rays])
        indices = _Collector(ctypes.c_uint32)
        pose = _Pose(rotation=_Quaternion(w=1.0))
        matched = _LongBool()
        _check(_call(environment, "match", rays_in, indices.marshaler(), ctypes.byref(pose),
                     ctypes.byref(matched)), environment)
        rotation = pose.rotation
        return MatchResult(matched.value != 0,
                           Pose(_tuple3(pose.position), (rotation.x, rotation.y, rotation.z, rotation.w)),
                           indices.elements())

    def match_by_position(self, rays, position):
        """Identifies the rays when the tracker's position is known; one marker index per ray."""
        environment = self._live()
        rays_in, _keep = _array_in(_Vector3, [_vector3(ray) for ray in rays])
        indices = _Collector(ctypes.c_uint32)
        _check(_call(environment, "matchByPosition", rays_in, _vector3(position),
                     indices.marshaler()), environment)
        return indices.elements()
