"""The camera models against OpenCV's undistortPoints and fisheye.undistortPoints over the whole
image, projection and unprojection as inverses, and the mounts towards a floor or a ceiling."""

import unittest

import numpy as np

from lumetra_horizontal_grid.camera import LOOKING_DOWN, LOOKING_UP, Camera

try:
    import cv2
except ImportError:  # python3-opencv: a test-only dependency
    cv2 = None

# Every 8th pixel of a 640 x 480 image and its last row and column: edges and corners included.
_U, _V = np.meshgrid(np.r_[0:640:8, 639], np.r_[0:480:8, 479])
WHOLE_IMAGE = np.stack((_U.ravel(), _V.ravel()), axis=1).astype(np.float64)

# A wide pinhole lens with strong barrel and some tangential distortion, and a fisheye whose corners
# lie just beyond 90 degrees from the axis: as wide as OpenCV's fisheye goes (it clips theta_d at pi/2).
PINHOLE = Camera.pinhole((420, 425, 319.3, 241.2), (-0.30, 0.11, 0.0012, -0.0007, -0.018))
FISHEYE = Camera.fisheye((256.0, 255.6, 320.4, 239.6), (-0.004, 0.0006, -0.0001, 0.00001))


def angles(a, b):
    return 2 * np.arcsin(np.minimum(1, np.linalg.norm(a - b, axis=1) / 2))


def opencv_rays(camera, pixels):
    """OpenCV's unprojection as unit rays; a fisheye ray beyond 90 degrees comes back mirrored
    (tan theta < 0) and is turned back towards its pixel."""
    fx, fy, cx, cy = camera.intrinsics
    matrix = np.array([[fx, 0, cx], [0, fy, cy], [0, 0, 1.0]])
    tight = (cv2.TERM_CRITERIA_COUNT + cv2.TERM_CRITERIA_EPS, 1000, 1e-14)
    points = pixels.reshape(-1, 1, 2)
    if camera.model == "pinhole":
        normalised = cv2.undistortPointsIter(points, matrix, np.array(camera.distortion), None, None, tight)
    else:
        normalised = cv2.fisheye.undistortPoints(points, matrix, np.array(camera.distortion), criteria=tight)
    normalised = normalised.reshape(-1, 2)
    rays = np.concatenate((normalised, np.ones((len(normalised), 1))), axis=1)
    rays /= np.linalg.norm(rays, axis=1)[:, None]
    rays[(normalised * (pixels - (cx, cy))).sum(axis=1) < 0] *= -1
    return rays


class CameraTest(unittest.TestCase):
    @unittest.skipIf(cv2 is None, "python3-opencv is not installed")
    def test_agrees_with_opencv_over_the_whole_image(self):
        for camera in (PINHOLE, FISHEYE):
            rays = camera.camera_rays(WHOLE_IMAGE)
            self.assertLess(angles(rays, opencv_rays(camera, WHOLE_IMAGE)).max(), 1e-6, camera.model)
            self.assertLess(angles(camera.rays(WHOLE_IMAGE).astype(np.float64), rays).max(), 1e-6)
        self.assertGreater(np.degrees(np.arccos(FISHEYE.camera_rays([[0, 0]])[0, 2])), 90)

    def test_projection_inverts_unprojection_also_beyond_180_degrees(self):
        wide = Camera.fisheye((205, 205, 320, 240), (0.01, -0.002, 0.0004, -0.00003))  # 220 degrees
        for camera in (PINHOLE, FISHEYE, wide):
            pixels, seen = camera.project(camera.rays(WHOLE_IMAGE).astype(np.float64) * 3)
            self.assertTrue(seen.all())
            np.testing.assert_allclose(pixels, WHOLE_IMAGE, atol=1e-3)  # float32 rays
            back, _ = camera.project(camera.camera_rays(WHOLE_IMAGE))
            np.testing.assert_allclose(back, WHOLE_IMAGE, atol=1e-6)
        self.assertLess(wide.camera_rays([[0, 0]])[0, 2], -0.3)
        # Barrel distortion folds back: beyond the fold a pixel belongs to no ray; and a pinhole
        # camera does not see behind itself.
        folding = Camera.pinhole((100, 100, 0, 0), (-0.5, 0, 0, 0, 0))
        self.assertTrue(np.isnan(folding.rays([[90, 0]])).all())
        self.assertFalse(folding.project([[0, 0, -1]])[1][0])

    def test_mounts_turn_the_optical_axis_towards_the_floor_or_the_ceiling(self):
        down = Camera.pinhole((300, 300, 320, 240), rotation=LOOKING_DOWN, position=(0.05, 0, 0))
        np.testing.assert_allclose(down.rays([[320, 240], [620, 240], [320, 540]]),
                                   [[0, -1, 0], [0.5 ** 0.5, -0.5 ** 0.5, 0], [0, -0.5 ** 0.5, 0.5 ** 0.5]], atol=1e-6)
        up = Camera.fisheye((300, 300, 320, 240), rotation=LOOKING_UP)
        np.testing.assert_allclose(up.rays([[320, 240]]), [[0, 1, 0]], atol=1e-6)
        self.assertEqual(Camera.from_dict(up.to_dict()), up)
        with self.assertRaises(ValueError):
            Camera.pinhole((300, 300, 320, 240), (0.1,))
        with self.assertRaises(ValueError):
            Camera.fisheye((300, 300, 320, 240), rotation=(0, 0, 0, 2))


if __name__ == "__main__":
    unittest.main()
