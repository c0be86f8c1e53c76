"""Time per frame from Python, for comparison with the tool's `simulate` (same frames: the demo
environment, field of view 115 deg, distance 1.2 to 2, tilt up to 15 deg, seed 1):

    python3 python/time_per_frame.py [frames]
    lumetra-horizontal-grid simulate <demo code> -n <frames>

Prints the wall time per frame of match_frames (one call for the batch, mean) and of match (one
call per frame: median and mean), and the time spent inside the library's match (median and
mean). Medians compare with the tool's p50 and resist a busy machine.
"""

import sys
import time

import numpy as np

import lumetra_horizontal_grid as grid

DEMO_CODE = ("Agxsb25nIGNlaWxpbmcUDDMzoz/NzMw+NfqOPQAAAAAAAAAAAQAAIECamRk/ACUSBQAOBQEGCgEABgEAAgAOCgENAgMSCAIJCgAJ"
             "AQESAgMIBAEHBwMEBQEDAAMLBgIBCQERCwMSBwINCgEPCgMTBgADBQEFBAEEAgAFAQIIAAMKAQMMAQMLAQEQAAATAQEJCwAHCwEF"
             "CwECCwMACgM=")


def main(count: int) -> None:
    with grid.Library() as library, library.create_environment(DEMO_CODE) as environment:
        simulator = grid.Simulator(environment)
        frames = simulator.frames(simulator.random_poses(count, seed=1), seed=1)
        start = time.perf_counter()
        batch = environment.match_frames(frames.rays, frames.offsets)
        batch_seconds = time.perf_counter() - start
        single = np.empty(len(frames))
        for f in range(len(frames)):
            rays = frames.frame(f)[0]
            start = time.perf_counter()
            environment.match(rays)
            single[f] = time.perf_counter() - start
    print("%d frames, %.1f%% matched" % (count, 100 * batch.ok.mean()))
    print("in the library  median %.1f us, mean %.1f us" % (1e6 * np.median(batch.seconds), 1e6 * np.mean(batch.seconds)))
    print("match_frames    mean %.1f us per frame" % (1e6 * batch_seconds / count))
    print("match           median %.1f us, mean %.1f us per frame" % (1e6 * np.median(single), 1e6 * np.mean(single)))


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 2000)
