"""Tests of the Python package against the built shared library ($LUMETRA_LIBRARY)."""

import math
import threading
import unittest

import lumetra_horizontal_grid as grid
from lumetra_horizontal_grid._abi import call
from lumetra_horizontal_grid._environment import thread_message

# 3 x 2 grid, two bars, under a ceiling at 2.5.
SMALL_CODE = "AgV0cnVzcwMCMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8AAgEAAgIBAA=="
# 10 x 8 grid, seven well separated bars of the same geometry.
LAYOUT_CODE = "AgV0cnVzcwoIMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8ABwYEAQgAAgUHAwIFAwkGAgkDAwUBAg=="

FAILED = 0x80004005


def rotate(q, v):
    """Vector v turned by unit quaternion q = (x, y, z, w)."""
    x, y, z, w = q
    # v + 2 w (u x v) + 2 u x (u x v), with u the vector part of q
    cx, cy, cz = y * v[2] - z * v[1], z * v[0] - x * v[2], x * v[1] - y * v[0]
    return (v[0] + 2 * (w * cx + y * cz - z * cy),
            v[1] + 2 * (w * cy + z * cx - x * cz),
            v[2] + 2 * (w * cz + x * cy - y * cx))


def yaw(angle):
    return (0.0, math.sin(angle / 2), 0.0, math.cos(angle / 2))


def synthetic_frame(markers, position, rotation, half_angle=1.0):
    """Unit rays in the tracker's frame towards the markers within half_angle of straight up,
    last marker first, with the marker number each ray shows."""
    conjugate = (-rotation[0], -rotation[1], -rotation[2], rotation[3])
    rays, numbers = [], []
    for number in reversed(range(len(markers))):
        d = [m - p for m, p in zip(markers[number], position)]
        length = math.sqrt(sum(c * c for c in d))
        d = [c / length for c in d]
        if d[1] > math.cos(half_angle):
            rays.append(rotate(conjugate, d))
            numbers.append(number)
    return rays, numbers


class EnvironmentTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.library = grid.Library()

    @classmethod
    def tearDownClass(cls):
        cls.library.close()

    def failure(self, code):
        with self.assertRaises(grid.LumetraError) as raised:
            self.library.create_environment(code)
        return raised.exception

    def test_unreadable_codes_raise_with_code_and_thread_message(self):
        error = self.failure("")
        self.assertEqual(error.code, FAILED)
        self.assertEqual(error.message, "LumetraSerialization error buf != nullptr")
        self.assertIn("0x80004005", str(error))
        for code in ("!!!!", SMALL_CODE[:20], b"\x00\xff"):
            error = self.failure(code)
            self.assertNotEqual(error.code, 0)
            self.assertTrue(error.message)

    def test_message_is_per_thread(self):
        self.failure("")
        seen = []
        thread = threading.Thread(target=lambda: seen.append(thread_message(self.library._live())))
        thread.start()
        thread.join()
        self.assertEqual(seen, [""])
        self.assertEqual(thread_message(self.library._live()), "LumetraSerialization error buf != nullptr")

    def test_markers_of_the_small_code(self):
        with self.library.create_environment(SMALL_CODE) as environment:
            markers = environment.markers
            self.assertFalse(environment.is_mutable)
        self.assertEqual(len(markers), 6)
        self.assertEqual(markers.shape, (6, 3))
        self.assertTrue(all(m[1] == 2.5 for m in markers))
        expected_first_bar = [(0.635947, -0.25553), (0.127189, -0.291106), (-0.635947, -0.34447)]
        for (x, _y, z), (ex, ez) in zip(markers, expected_first_bar):
            self.assertAlmostEqual(x, ex, places=5)
            self.assertAlmostEqual(z, ez, places=5)

    def test_filter_ray_under_a_ceiling_keeps_rays_along_the_reference(self):
        with self.library.create_environment(SMALL_CODE) as environment:
            self.assertTrue(environment.filter_ray((0, 0, 1), (0, 0, 1)))
            self.assertFalse(environment.filter_ray((0, 0, 1), (0, 0, -1)))
            self.assertTrue(environment.filter_ray((0.2, 0.9, 0), (0, 1, 0)))
            self.assertFalse(environment.filter_ray((0.2, -0.9, 0.1), (0, 1, 0)))

    def test_match_finds_pose_and_markers_of_a_synthetic_frame(self):
        position, rotation = (0.3, 1.3, -0.2), yaw(0.5)
        with self.library.create_environment(LAYOUT_CODE) as environment:
            rays, numbers = synthetic_frame(environment.markers, position, rotation)
            self.assertGreaterEqual(len(rays), 6)
            ok, pose, indices = environment.match(rays)
        self.assertTrue(ok)
        self.assertEqual(indices.tolist(), numbers)
        for found, true in zip(pose.position, position):
            self.assertAlmostEqual(found, true, places=3)
        dot = abs(sum(a * b for a, b in zip(pose.rotation, rotation)))
        self.assertAlmostEqual(dot, 1.0, places=4)

    def test_match_without_rays_fails_cleanly(self):
        with self.library.create_environment(LAYOUT_CODE) as environment:
            result = environment.match([])
        self.assertFalse(result.ok)
        self.assertEqual(result.indices.shape, (0,))

    def test_malformed_vectors_are_rejected_before_the_call(self):
        with self.library.create_environment(SMALL_CODE) as environment:
            with self.assertRaises(ValueError):
                environment.match([(0.0, 1.0)])
            with self.assertRaises(TypeError):
                environment.filter_ray((0, None, 0), (0, 1, 0))

    def test_match_by_position_identifies_rays_from_the_true_position(self):
        position = (0.0, 1.3, 0.0)
        with self.library.create_environment(LAYOUT_CODE) as environment:
            rays, numbers = synthetic_frame(environment.markers, position, (0.0, 0.0, 0.0, 1.0))
            self.assertEqual(environment.match_by_position(rays, position).tolist(), numbers)
            away = environment.match_by_position([(0.0, 1.0, 0.0)], (100.0, 1.3, 100.0))
        self.assertEqual(away.tolist(), [grid.MARKER_NOT_FOUND])


class LifetimeTest(unittest.TestCase):
    def test_environment_outlives_its_library(self):
        library = grid.Library()
        environment = library.create_environment(SMALL_CODE)
        library.close()
        self.assertEqual(len(environment.markers), 6)
        environment.close()

    def test_closed_objects_refuse_use_and_close_once(self):
        with grid.Library() as library:
            environment = library.create_environment(SMALL_CODE)
        self.assertTrue(library.closed)
        with self.assertRaises(ValueError):
            library.create_environment(SMALL_CODE)
        environment.close()
        environment.close()
        with self.assertRaises(ValueError):
            environment.markers

    def test_each_object_holds_exactly_one_reference(self):
        with grid.Library() as library, library.create_environment(SMALL_CODE) as environment:
            for counted in (library, environment):
                interface = counted._live()
                self.assertEqual(call(interface, "IInterface", "AddRef"), 2)
                self.assertEqual(call(interface, "IInterface", "Release"), 1)


if __name__ == "__main__":
    unittest.main()
