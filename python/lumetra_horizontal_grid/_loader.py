"""Finding and loading the shared libraries.

The environment library is looked for, in order, at $LUMETRA_LIBRARY, beside the installed
package (the location `cmake --install` recorded, or a copy in the package's folder), and at the
path pkg-config gives. The frame simulator's library is looked for at
$LUMETRA_SIMULATION_LIBRARY, in the package's folder, and beside the environment library.
"""

from __future__ import annotations

import ctypes
import os
import shutil
import subprocess
from typing import List, Optional, Tuple

from ._errors import LumetraError

LIBRARY_ENVIRONMENT_VARIABLE = "LUMETRA_LIBRARY"
SIMULATION_ENVIRONMENT_VARIABLE = "LUMETRA_SIMULATION_LIBRARY"
LIBRARY_FILE_NAME = "libLumetraVeskEnvironmentHorizontalGrid.so"
SIMULATION_FILE_NAME = "liblumetra_simulation_c.so"
PKG_CONFIG_PACKAGE = "LumetraVeskEnvironmentHorizontalGrid"

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


def _installed_location() -> Optional[str]:
    try:
        from ._installed import LIBRARY_RELATIVE_PATH  # written by cmake --install
    except ImportError:
        return None
    return os.path.normpath(os.path.join(_PACKAGE_DIR, LIBRARY_RELATIVE_PATH))


def _pkg_config_location(tried: List[str]) -> Optional[str]:
    if shutil.which("pkg-config") is None:
        tried.append("pkg-config: not installed")
        return None
    found = subprocess.run(["pkg-config", "--variable=library", PKG_CONFIG_PACKAGE],
                           capture_output=True, text=True, check=False)
    path = found.stdout.strip()
    if found.returncode != 0 or not path:
        tried.append("pkg-config: no package %s" % PKG_CONFIG_PACKAGE)
        return None
    return path


def _load(path: str, tried: List[str], source: str) -> Optional[ctypes.CDLL]:
    try:
        return ctypes.CDLL(path, mode=ctypes.RTLD_LOCAL)
    except OSError as error:
        tried.append("%s %s: %s" % (source, path, error))
        return None


def load_library(path: Optional[str] = None) -> Tuple[ctypes.CDLL, str]:
    """The environment library at `path`, or found as the module describes; raises LumetraError
    naming every place it tried."""
    tried: List[str] = []
    if path:
        candidates = [("given path", path)]
    else:
        candidates = []
        variable = os.environ.get(LIBRARY_ENVIRONMENT_VARIABLE)
        if variable:
            candidates.append(("$" + LIBRARY_ENVIRONMENT_VARIABLE, variable))
        else:
            tried.append("$%s: not set" % LIBRARY_ENVIRONMENT_VARIABLE)
        installed = _installed_location()
        beside = os.path.join(_PACKAGE_DIR, LIBRARY_FILE_NAME)
        for candidate in (installed, beside):
            if candidate and os.path.exists(candidate):
                candidates.append(("beside the package", candidate))
            elif candidate:
                tried.append("beside the package %s: no such file" % candidate)
    for source, candidate in candidates:
        library = _load(candidate, tried, source)
        if library is not None:
            return library, candidate
    if not path:
        candidate = _pkg_config_location(tried)
        if candidate:
            library = _load(candidate, tried, "pkg-config")
            if library is not None:
                return library, candidate
    raise LumetraError(None, "cannot load %s; tried: %s" % (LIBRARY_FILE_NAME, "; ".join(tried)))


def load_simulation_library(environment_library: str) -> ctypes.CDLL:
    """The frame simulator's library; raises LumetraError naming every place it tried."""
    tried: List[str] = []
    candidates = []
    variable = os.environ.get(SIMULATION_ENVIRONMENT_VARIABLE)
    if variable:
        candidates.append(("$" + SIMULATION_ENVIRONMENT_VARIABLE, variable))
    candidates.append(("in the package", os.path.join(_PACKAGE_DIR, SIMULATION_FILE_NAME)))
    candidates.append(("beside the environment library",
                       os.path.join(os.path.dirname(os.path.abspath(environment_library)), SIMULATION_FILE_NAME)))
    for source, candidate in candidates:
        library = _load(candidate, tried, source)
        if library is not None:
            return library
    raise LumetraError(None, "cannot load %s; tried: %s" % (SIMULATION_FILE_NAME, "; ".join(tried)))
