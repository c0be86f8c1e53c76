"""The library's binary interface as ctypes sees it: the structs that cross the boundary, the
interfaces with their functions in slot order, and calls through an object's function table.

To bind a new interface, add it to INTERFACES (its base and its own functions in declaration
order) and each new function's prototype to PROTOTYPES; a test compares INTERFACES with the
C++ header's declarations.
"""

from __future__ import annotations

import ctypes
from typing import Any, Callable, Dict, List, Optional, Tuple

Interface = ctypes.c_void_p
LongBool = ctypes.c_uint32
ExceptionCode = ctypes.c_uint32

OK = 0x00000000
CODE_NAMES: Dict[int, str] = {
    0x00000000: "Ok",
    0x80004002: "NoInterface",
    0x80004003: "InvalidPointer",
    0x80004005: "Failed",
    0x8007000E: "OutOfMemory",
    0x80070057: "InvalidArgument",
}


class InterfaceID(ctypes.Structure):
    _fields_ = [("data1", ctypes.c_uint32), ("data2", ctypes.c_uint16), ("data3", ctypes.c_uint16),
                ("data4", ctypes.c_uint8 * 8)]

    @classmethod
    def of(cls, data1: int, data2: int, data3: int, *data4: int) -> "InterfaceID":
        return cls(data1, data2, data3, (ctypes.c_uint8 * 8)(*data4))


IEXCEPTION_DATA = InterfaceID.of(0x97122FF5, 0xCEAA, 0x4C40, 0x96, 0x27, 0x12, 0xAA, 0xB7, 0x4A, 0x5D, 0xAF)


class Vector3(ctypes.Structure):
    # Three float fields, not an array: passed by value, they travel in SSE registers.
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float), ("z", ctypes.c_float)]


class Quaternion(ctypes.Structure):
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float), ("z", ctypes.c_float), ("w", ctypes.c_float)]


class PoseStruct(ctypes.Structure):
    _fields_ = [("position", Vector3), ("rotation", Quaternion)]


class PoseReportStruct(ctypes.Structure):
    # Covariance: the upper triangle of a 6 x 6 matrix, row by row (21 floats).
    _fields_ = [("structSize", ctypes.c_uint32), ("numberedRays", ctypes.c_uint32),
                ("supportingRays", ctypes.c_uint32), ("method", ctypes.c_uint32), ("rmsAngle", ctypes.c_float),
                ("maxAngle", ctypes.c_float), ("covariance", ctypes.c_float * 21)]


ITRACKING_ENVIRONMENT = InterfaceID.of(0x1CA28C7F, 0x784D, 0x445C, 0xBC, 0xD9, 0xD2, 0xF7, 0xAD, 0xF1, 0xF3, 0x08)


ITRACKER_FACTORY = InterfaceID.of(0x5E0B7A31, 0x2C4D, 0x4F8E, 0x9A, 0x61, 0x3B, 0xD2, 0x47, 0xC8, 0x10, 0xE5)


class InertialSampleStruct(ctypes.Structure):
    _fields_ = [("time", ctypes.c_double), ("angularRate", ctypes.c_float * 3), ("specificForce", ctypes.c_float * 3)]


class TrackerSettingsStruct(ctypes.Structure):
    _fields_ = [("structSize", ctypes.c_uint32), ("cameraCount", ctypes.c_uint32), ("cameras", PoseStruct * 8),
                ("rayNoise", ctypes.c_float), ("gyroNoise", ctypes.c_float), ("gyroBiasWalk", ctypes.c_float),
                ("accelNoise", ctypes.c_float), ("accelBiasWalk", ctypes.c_float), ("gravity", ctypes.c_float)]


class TrackerStateStruct(ctypes.Structure):
    _fields_ = [("structSize", ctypes.c_uint32), ("status", ctypes.c_uint32), ("time", ctypes.c_double),
                ("pose", PoseStruct), ("velocity", ctypes.c_float * 3), ("angularRate", ctypes.c_float * 3),
                ("covariance", ctypes.c_float * 21)]


class ArrayIn(ctypes.Structure):
    _fields_ = [("data", ctypes.c_void_p), ("size", ctypes.c_uint32)]


Allocate = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32)


class ArrayOut(ctypes.Structure):
    _fields_ = [("context", ctypes.c_void_p), ("allocate", Allocate)]


#: Each interface: (base interface or None, its own functions in slot order). A function's slot
#: is its position after all functions of its bases.
INTERFACES: Dict[str, Tuple[Optional[str], List[str]]] = {
    "IUnsafe": (None, ["QueryInterface"]),
    "IInterface": ("IUnsafe", ["AddRef", "Release"]),
    "IExceptionData": ("IUnsafe", ["getMessage", "setMessage"]),
    "IEnvironment": ("IInterface", ["isMutable", "getMarkers", "filterRay", "match", "matchByPosition"]),
    "IEnvironmentConstructor": ("IInterface", ["createEnvironment"]),
    "ILibrary": ("IEnvironmentConstructor", []),
    "ITrackingEnvironment": ("IInterface", ["identify", "track", "refinePose"]),
    "ITrackerFactory": ("IInterface", ["createTracker"]),
    "ITracker": ("IInterface", ["addInertial", "addFrame", "getState", "reset"]),
}

#: Result type and argument types after the interface pointer, by function name.
PROTOTYPES: Dict[str, Tuple[Any, ...]] = {
    "QueryInterface": (ExceptionCode, ctypes.POINTER(InterfaceID), ctypes.POINTER(Interface)),
    "AddRef": (ctypes.c_uint32,),
    "Release": (ctypes.c_uint32,),
    "getMessage": (ExceptionCode, ArrayOut),
    "setMessage": (ExceptionCode, ArrayIn),
    "isMutable": (ExceptionCode, ctypes.POINTER(LongBool)),
    "getMarkers": (ExceptionCode, ArrayOut),
    "filterRay": (ExceptionCode, Vector3, Vector3, ctypes.POINTER(LongBool)),
    "match": (ExceptionCode, ArrayIn, ArrayOut, ctypes.POINTER(PoseStruct), ctypes.POINTER(LongBool)),
    "matchByPosition": (ExceptionCode, ArrayIn, Vector3, ArrayOut),
    "createEnvironment": (ExceptionCode, ArrayIn, ctypes.POINTER(Interface)),
    "identify": (ExceptionCode, ArrayIn, ArrayOut, ctypes.POINTER(PoseStruct), ctypes.POINTER(PoseReportStruct),
                 ctypes.POINTER(LongBool)),
    "track": (ExceptionCode, ArrayIn, ctypes.POINTER(PoseStruct), ArrayOut, ctypes.POINTER(PoseStruct),
              ctypes.POINTER(PoseReportStruct), ctypes.POINTER(LongBool)),
    "refinePose": (ExceptionCode, ArrayIn, ArrayIn, ctypes.POINTER(PoseStruct), ctypes.POINTER(PoseReportStruct),
                   ctypes.POINTER(LongBool)),
    "createTracker": (ExceptionCode, ctypes.POINTER(TrackerSettingsStruct), ctypes.POINTER(Interface)),
    "addInertial": (ExceptionCode, ArrayIn),
    "addFrame": (ExceptionCode, ctypes.c_double, ctypes.c_uint32, ArrayIn, ArrayOut, ctypes.POINTER(PoseReportStruct),
                 ctypes.POINTER(LongBool)),
    "getState": (ExceptionCode, ctypes.c_double, ctypes.POINTER(TrackerStateStruct)),
    "reset": (ExceptionCode,),
}


def slot_table(interface: str) -> List[str]:
    """Every function of `interface`, its bases' first, in slot order."""
    base, own = INTERFACES[interface]
    return (slot_table(base) if base else []) + own


def _function_types() -> Dict[Tuple[str, str], Tuple[int, Any]]:
    types: Dict[Tuple[str, str], Tuple[int, Any]] = {}
    for interface in INTERFACES:
        for slot, name in enumerate(slot_table(interface)):
            result, *arguments = PROTOTYPES[name]
            types[(interface, name)] = (slot, ctypes.CFUNCTYPE(result, Interface, *arguments))
    return types


_FUNCTION_TYPES = _function_types()


def function(interface_pointer: int, interface: str, name: str) -> Callable[..., Any]:
    """Function `name` of `interface`, read from the object's function table. Objects never change
    their tables, so the result may be kept for the object's lifetime."""
    slot, prototype = _FUNCTION_TYPES[(interface, name)]
    table = ctypes.cast(interface_pointer, ctypes.POINTER(ctypes.POINTER(ctypes.c_void_p)))[0]
    return prototype(table[slot])


def call(interface_pointer: int, interface: str, name: str, *arguments: Any) -> Any:
    """Calls function `name` of `interface` on the object at `interface_pointer`."""
    return function(interface_pointer, interface, name)(interface_pointer, *arguments)
