"""Pictures of a replay with matplotlib (Debian's python3-matplotlib; imported only here), the
same as the tool's `replay --svg` (timeline) and `replay --frame N --svg` (one frame):

    from lumetra_horizontal_grid import plots
    plots.timeline(replayed).figure.savefig("timeline.png")
    plots.frame(replayed, 10).figure.savefig("frame.png")
"""

from __future__ import annotations

from typing import Any, Optional

import numpy as np

from ._environment import MARKER_NOT_FOUND
from ._report import PoseMethod
from .camera import rotation_matrix
from .replay import Replayed

#: Outcome colours: pose with right numbers, identified afresh, wrong numbers, no pose.
RIGHT, AFRESH, WRONG, LOST = "#1b9e77", "#e6a117", "#d62728", "#9a9a9a"


def _pyplot() -> Any:
    try:
        import matplotlib.pyplot as pyplot
    except ImportError as error:
        raise ImportError("plots need matplotlib: apt-get install python3-matplotlib") from error
    return pyplot


def outcome_colours(replayed: Replayed) -> np.ndarray:
    colours = np.full(len(replayed.found), RIGHT, dtype=object)
    afresh = np.isin(replayed.methods, (PoseMethod.TRACK_FELL_BACK, PoseMethod.TRACKER_IDENTIFIED))
    colours[afresh] = AFRESH
    colours[replayed.wrong > 0] = WRONG
    colours[~replayed.found] = LOST
    return colours


def timeline(replayed: Replayed, axes: Optional[Any] = None, title: str = "") -> Any:
    """Position error (mm) over time above a strip of each frame's outcome; returns the axes."""
    pyplot = _pyplot()
    if axes is None:
        _, axes = pyplot.subplots(figsize=(9, 3.2), layout="tight")
    t = replayed.times - (replayed.times[0] if len(replayed.times) else 0)
    axes.plot(t, replayed.position_errors * 1000, color="#1f5fa8", linewidth=1.0)
    axes.set_ylabel("position error, mm")
    axes.set_xlabel("seconds")
    top = np.nanmax(replayed.position_errors * 1000, initial=1.0)
    strip = -0.12 * top
    axes.bar(t, -strip, bottom=strip, width=np.median(np.diff(t)) if len(t) > 1 else 0.01,
             color=outcome_colours(replayed), align="center")
    axes.set_ylim(1.3 * strip, top * 1.05)
    for colour, label in ((RIGHT, "pose, numbers right"), (AFRESH, "identified afresh"), (WRONG, "wrong numbers"),
                          (LOST, "no pose")):
        axes.bar([np.nan], [0], color=colour, label=label)
    axes.legend(loc="upper right", ncol=4, fontsize="small", frameon=False)
    axes.set_title(title or "replay by %s: %d frames, %.1f %% with a pose" % (
        replayed.method, len(replayed.found), 100 * replayed.found.mean() if len(replayed.found) else 0))
    return axes


def frame(replayed: Replayed, index: int, axes: Optional[Any] = None, title: str = "") -> Any:
    """Frame `index` seen from above: the rays cast from the found pose onto the marker plane,
    each numbered ray joined to its marker (red where the number is wrong), misses crossed."""
    pyplot = _pyplot()
    if axes is None:
        _, axes = pyplot.subplots(figsize=(7, 6), layout="tight")
    markers = replayed.markers
    axes.scatter(markers[:, 0], markers[:, 2], s=8, color="#888888", zorder=1)
    for number, marker in enumerate(markers):
        axes.annotate(str(number), (marker[0], marker[2]), fontsize=6, color="#888888", xytext=(2, 2),
                      textcoords="offset points")
    span = replayed.frame_slice(index)
    rays, numbers, truth = replayed.rays[span], replayed.indices[span], replayed.true_markers[span]
    if replayed.found[index]:
        position = replayed.positions[index].astype(np.float64)
        world = rays.astype(np.float64) @ rotation_matrix(replayed.rotations[index]).T
        with np.errstate(divide="ignore", invalid="ignore"):
            distance = (float(markers[0, 1]) - position[1]) / world[:, 1]
        hits = position + world * distance[:, None]
        axes.scatter([position[0]], [position[2]], s=80, facecolors="none", edgecolors="#1f5fa8", linewidths=2)
        for ray, hit in enumerate(hits):
            if not distance[ray] > 0:
                continue
            if numbers[ray] >= MARKER_NOT_FOUND or numbers[ray] >= len(markers):
                axes.scatter([hit[0]], [hit[2]], marker="x", color=AFRESH, s=40, zorder=3)
                continue
            colour = WRONG if truth[ray] >= 0 and truth[ray] != numbers[ray] else RIGHT
            target = markers[numbers[ray]]
            axes.plot([hit[0], target[0]], [hit[2], target[2]], color=colour, linewidth=1)
            axes.scatter([hit[0]], [hit[2]], s=30, facecolors="none", edgecolors=colour, zorder=3)
            axes.annotate(str(int(numbers[ray])), (hit[0], hit[2]), fontsize=8, color=colour, fontweight="bold",
                          xytext=(3, -10), textcoords="offset points")
    axes.set_aspect("equal")
    axes.set_xlabel("x")
    axes.set_ylabel("z")
    numbered = int(np.sum(numbers < MARKER_NOT_FOUND))
    axes.set_title(title or "frame %d at %.3f s: %d rays, %d numbered%s" % (
        index, replayed.times[index], len(rays), numbered, "" if replayed.found[index] else ", no pose"))
    return axes
