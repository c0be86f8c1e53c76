"""Time per frame from Python, for comparison with the tool's `simulate` (same frames: the demo
environment, field of view 115 deg, distance 1.2 to 2, tilt up to 15 deg, seed 1):

    python3 python/time_per_frame.py [frames]
    lumetra-horizontal-grid simulate <demo code> -n <frames>

Prints the mean wall time per frame of match_frames (one call for the batch) and of match (one
call per frame), and the mean time spent inside the library's match.
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
        start = time.perf_counter()
        for f in range(len(frames)):
            environment.match(frames.frame(f)[0])
        single_seconds = time.perf_counter() - start
    print("%d frames, %.1f%% matched" % (count, 100 * batch.ok.mean()))
    print("match_frames  %.1f us per frame (in the library %.1f us)" % (1e6 * batch_seconds / count,
                                                                          1e6 * np.mean(batch.seconds)))
    print("match         %.1f us per frame" % (1e6 * single_seconds / count))


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 2000)
