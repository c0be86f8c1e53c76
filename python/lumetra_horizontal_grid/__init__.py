"""Python access to libLumetraVeskEnvironmentHorizontalGrid.so, the horizontal grid environment.

    from lumetra_horizontal_grid import Library

    with Library() as library, library.create_environment(code) as environment:
        markers = environment.markers              # (n, 3) float32
        result = environment.match(rays)           # rays: (k, 3) unit directions, tracker frame
        if result.ok:
            print(result.pose.position, result.indices)
        indices, pose, report = environment.identify(rays)   # tolerates noise and stray rays
        indices, pose, report = environment.track(rays, pose)  # from the pose expected now

    tracker = Tracker(environment)                 # the inertial tracker: samples, frames, state at any time
    tracker.add_inertial(samples)                  # (n, 7): time, angular rate (3), specific force (3)
    result = tracker.add_frame(time, rays)         # result.fused, result.indices, result.report
    state = tracker.state(time + 0.02)             # TrackerState: status, pose, velocity, covariance

The library is found at $LUMETRA_LIBRARY, then beside the installed package, then through
pkg-config; failures (also a library that cannot be found) raise LumetraError. Library and
Environment hold one reference each to their library object; close() (or leaving the with block,
or garbage collection) releases it.

Axes: y points up in the environment; the grid lies in the x-z plane, centred on the origin. A
tracker looks along its own -y axis at a floor, along +y at a ceiling. `filter_ray`'s reference
is the environment's up direction expressed in the ray's frame. Frames for trying the library
come from `simulation.Simulator`, the tool's own frame generator (random poses and walks); many
frames go through the library in one call with match_frames, identify_frames and track_walk.
Angles are degrees, radians only where a name ends in _rad.

Modules beside: `camera` (pinhole and fisheye models: pixels to rays), `recording` (what a tracker
saw, JSON Lines), `replay` (a recording through the library) and `plots` (matplotlib pictures of a
replay; matplotlib is imported only there).
"""

from ._abi import CODE_NAMES
from ._environment import (MARKER_NOT_FOUND, MARKER_UNIDENTIFIED, BatchResult, Environment, Library,
                           MatchResult, Pose, PoseBatch, TrackingResult)
from ._errors import LumetraError
from ._report import PoseMethod, PoseReport
from ._tracker import FrameResult, Tracker, TrackerState, TrackerStatus
from ._loader import LIBRARY_ENVIRONMENT_VARIABLE, SIMULATION_ENVIRONMENT_VARIABLE
from .simulation import Frames, Simulator, TrackerPoses

__version__ = "0.1.0"

__all__ = [
    "Library", "Environment", "LumetraError", "MatchResult", "BatchResult", "PoseBatch", "Pose", "TrackingResult",
    "PoseReport", "PoseMethod", "Simulator", "Tracker", "TrackerState", "TrackerStatus", "FrameResult",
    "TrackerPoses", "Frames", "MARKER_NOT_FOUND", "MARKER_UNIDENTIFIED", "LIBRARY_ENVIRONMENT_VARIABLE",
    "SIMULATION_ENVIRONMENT_VARIABLE", "CODE_NAMES", "__version__",
]
