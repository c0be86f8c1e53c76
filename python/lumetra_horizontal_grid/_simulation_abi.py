"""Argument and result types of the frame simulator's C functions (simulation/capi/SimulationCApi.h)."""

from __future__ import annotations

import ctypes

_u32, _u64, _f64, _ptr = ctypes.c_uint32, ctypes.c_uint64, ctypes.c_double, ctypes.c_void_p
_POSE_FRAMES = (_u32, _ptr, _ptr, _u64, _ptr, _u64, _ptr, _ptr, _ptr, _ptr, _ptr)


class FrameOptions(ctypes.Structure):
    _fields_ = [("ceiling", _u32), ("field_of_view_half_angle", _f64), ("angular_noise", _f64),
                ("drop_probability", _f64), ("spurious_rays", _u64), ("seed", _u64)]


_SIGNATURES = {
    "lumetra_simulation_last_error": (ctypes.c_char_p,),
    "lumetra_simulation_random_poses": (ctypes.c_int, _u64, _f64, _f64, _f64, _f64, _f64, _f64, _u32, _u64, _ptr),
    "lumetra_simulation_rotations": (ctypes.c_int, _u64, _ptr, _ptr),
    "lumetra_simulation_generate": (_ptr, _ptr, _u64, _ptr, _u64, ctypes.POINTER(FrameOptions)),
    "lumetra_simulation_ray_count": (_u64, _ptr),
    "lumetra_simulation_copy": (None, _ptr, _ptr, _ptr, _ptr, _ptr),
    "lumetra_simulation_free": (None, _ptr),
    "lumetra_simulation_match": (_u32, _ptr, _ptr, _u64, _ptr, _u64, _ptr, _ptr, _ptr, _ptr),
    "lumetra_simulation_walk": (ctypes.c_int, _f64, _f64, _f64, _f64, _f64, _u64, _u64, _ptr, _ptr),
    "lumetra_simulation_identify": _POSE_FRAMES,
    "lumetra_simulation_track": _POSE_FRAMES,
}


def declare(library: ctypes.CDLL) -> ctypes.CDLL:
    for name, (result, *arguments) in _SIGNATURES.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library
