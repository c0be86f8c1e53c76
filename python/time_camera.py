"""Cost of the camera models in numpy: 100,000 random pixel centroids of a 640 x 480 image to rays
in the tracker's frame, the same cameras as the C++ benchmark (bench/CameraBench.cpp):

    python3 python/time_camera.py [repeats]

Prints the process time per pixel (least and median of the repeats) for each model.
"""

import sys
import time

import numpy as np

from lumetra_horizontal_grid.camera import LOOKING_DOWN, LOOKING_UP, Camera

CAMERAS = {
    "pinhole": Camera.pinhole((420, 425, 319.3, 241.2), (-0.30, 0.11, 0.0012, -0.0007, -0.018), rotation=LOOKING_DOWN),
    "fisheye": Camera.fisheye((256.0, 255.6, 320.4, 239.6), (-0.004, 0.0006, -0.0001, 0.00001), rotation=LOOKING_UP),
}


def main(repeats: int) -> None:
    rng = np.random.default_rng(1)
    pixels = np.column_stack((rng.uniform(0, 639, 100_000), rng.uniform(0, 479, 100_000)))
    for name, camera in CAMERAS.items():
        camera.rays(pixels)
        times = []
        for _ in range(repeats):
            start = time.process_time()
            camera.rays(pixels)
            times.append((time.process_time() - start) / len(pixels) * 1e9)
        times.sort()
        print("%s: least %.0f ns, median %.0f ns a pixel" % (name, times[0], times[len(times) // 2]))


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 9)
