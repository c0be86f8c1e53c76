"""The package's own promises: its function-slot table matches the C++ header, the library
search reports what it tried, and simulated frames match in batches as one by one."""

import os
import re
import tempfile
import unittest
from unittest import mock

import numpy as np

import lumetra_horizontal_grid as grid
from lumetra_horizontal_grid import _abi, _loader

# 20 x 12 grid, 37 bars under a ceiling at 2.5.
ROOM_CODE = ("Agxsb25nIGNlaWxpbmcUDDMzoz/NzMw+NfqOPQAAAAAAAAAAAQAAIECamRk/ACUSBQAOBQEGCgEABgEAAgAOCgENAgMSCAIJCgAJ"
             "AQESAgMIBAEHBwMEBQEDAAMLBgIBCQERCwMSBwINCgEPCgMTBgADBQEFBAEEAgAFAQIIAAMKAQMMAQMLAQEQAAATAQEJCwAHCwEF"
             "CwECCwMACgM=")

SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
HEADER = os.environ.get("LUMETRA_HEADER",
                        os.path.join(SOURCE_DIR, "include", "LumetraVeskEnvironmentHorizontalGrid.h"))


def header_interfaces(text):
    """{interface: (base, [(function, parameter count)])} from the header's struct declarations."""
    interfaces = {}
    for match in re.finditer(r"^struct (I\w+)(?: : (\w+))? \{(.*?)^\};", text, re.S | re.M):
        functions = []
        for name, parameters in re.findall(r"virtual [\w:<>, ]+?\b(\w+)\(([^)]*)\)", match.group(3)):
            depth, count = 0, 1 if parameters.strip() else 0
            for character in parameters:
                depth += {"<": 1, ">": -1}.get(character, 0)
                count += character == "," and depth == 0
            functions.append((name, count))
        interfaces[match.group(1)] = (match.group(2), functions)
    return interfaces


class BindingTest(unittest.TestCase):
    @unittest.skipUnless(os.path.exists(HEADER), "header not found")
    def test_slot_table_matches_the_header(self):
        with open(HEADER, encoding="utf-8") as header:
            declared = header_interfaces(header.read())
        self.assertIn("IEnvironment", declared)
        for interface, (base, functions) in _abi.INTERFACES.items():
            expected = (base, [(name, len(_abi.PROTOTYPES[name]) - 1) for name in functions])
            self.assertEqual(declared.get(interface), expected, interface)

    def test_version_is_the_project_version(self):
        path = os.path.join(SOURCE_DIR, "CMakeLists.txt")
        if not os.path.exists(path):
            self.skipTest("not in the source tree")
        with open(path, encoding="utf-8") as cmake:
            self.assertIn("VERSION %s " % grid.__version__, cmake.read())

    def test_a_missing_library_names_every_place_tried(self):
        with tempfile.TemporaryDirectory() as empty, \
                mock.patch.dict(os.environ, {"LUMETRA_LIBRARY": "/nonexistent/lib.so", "PKG_CONFIG_PATH": "",
                                             "PKG_CONFIG_LIBDIR": empty}), \
                mock.patch.object(_loader, "_PACKAGE_DIR", empty):
            with self.assertRaises(grid.LumetraError) as raised:
                grid.Library()
        message = str(raised.exception)
        self.assertIsNone(raised.exception.code)
        for part in ("$LUMETRA_LIBRARY /nonexistent/lib.so", "beside the package " + empty, "pkg-config"):
            self.assertIn(part, message)


class SimulationTest(unittest.TestCase):
    def test_frames_follow_the_axes_and_match_in_batches_as_one_by_one(self):
        with grid.Library() as library, library.create_environment(ROOM_CODE) as environment:
            simulator = grid.Simulator(environment)
            self.assertTrue(simulator.ceiling)
            poses = simulator.random_poses(40, max_tilt_degrees=0, seed=3)
            frames = simulator.frames(poses, field_of_view_degrees=115, seed=3)
            self.assertEqual(len(frames), 40)
            # Untilted trackers under a ceiling look along +y: every ray within 57.5 deg of it.
            self.assertTrue(np.all(frames.rays[:, 1] >= np.cos(np.radians(57.5)) - 1e-6))
            # Each pose's rotation turns its tracker-frame rays into the world-frame ones.
            rotations = simulator.rotations(poses)
            for f in (0, 17):
                q = rotations[f]
                begin, end = frames.offsets[f], frames.offsets[f + 1]
                for ray, world in zip(frames.rays[begin:end], frames.world_rays[begin:end]):
                    u, w = q[:3], q[3]
                    turned = ray + 2 * w * np.cross(u, ray) + 2 * np.cross(u, np.cross(u, ray))
                    np.testing.assert_allclose(turned, world, atol=1e-5)

            batch = environment.match_frames(frames.rays, frames.offsets)
            self.assertGreater(batch.ok.sum(), 30)
            for f in np.flatnonzero(batch.ok):
                rays, numbers = frames.frame(f)
                begin, end = frames.offsets[f], frames.offsets[f + 1]
                np.testing.assert_array_equal(batch.indices[begin:end], numbers)
                np.testing.assert_allclose(batch.positions[f], poses.positions[f], atol=1e-3)
            single = environment.match(frames.frame(int(np.flatnonzero(batch.ok)[0]))[0])
            self.assertTrue(single.ok)

            # The same pose given by hand yields the same frame.
            given = grid.TrackerPoses.of(poses.positions[:1], yaw_degrees=poses.yaw_degrees[:1])
            np.testing.assert_array_equal(simulator.frames(given, field_of_view_degrees=115, seed=3).rays,
                                          frames.frame(0)[0])

            with self.assertRaises(grid.LumetraError) as raised:
                simulator.frames(poses, drop=2)
            self.assertIn("drop", raised.exception.message)
            for offsets in ([0, len(frames.rays) + 1], [1, 2], [0, 5, 3]):
                with self.assertRaises(ValueError):
                    environment.match_frames(frames.rays, offsets)


class TrackingTest(unittest.TestCase):
    def test_identify_track_and_refine_pose_on_simulated_frames(self):
        with grid.Library() as library, library.create_environment(ROOM_CODE) as environment:
            simulator = grid.Simulator(environment)
            poses = simulator.random_poses(12, seed=5)
            rotations = simulator.rotations(poses)
            frames = simulator.frames(poses, noise_degrees=0.05, drop=0.05, spurious=1, seed=5)
            found = 0
            for f in range(len(frames)):
                rays, numbers = frames.frame(f)
                indices, pose, report = environment.identify(rays)
                self.assertEqual(indices.shape, (len(rays),))
                if pose is None:
                    self.assertEqual(report.method, grid.PoseMethod.IDENTIFY)
                    continue
                found += 1
                numbered = indices != grid.MARKER_NOT_FOUND
                np.testing.assert_array_equal(indices[numbered], numbers[numbered])
                self.assertEqual(report.numbered_rays, numbered.sum())
                np.testing.assert_allclose(pose.position, poses.positions[f], atol=0.03)
                self.assertLess(report.rms_angle_rad, report.max_angle_rad + 1e-9)
                np.testing.assert_array_equal(report.covariance, report.covariance.T)
                self.assertTrue(np.all(np.diag(report.covariance) > 0))

                # From the true pose, a little off, track keeps to the prediction.
                predicted = (poses.positions[f] + 0.02, rotations[f])
                indices, pose, report = environment.track(rays, predicted)
                self.assertEqual(report.method, grid.PoseMethod.TRACK)
                numbered = indices != grid.MARKER_NOT_FOUND
                np.testing.assert_array_equal(indices[numbered], numbers[numbered])
            self.assertGreaterEqual(found, 10)

            # Exact rays with their true numbers (stray rays carry MARKER_UNIDENTIFIED, ignored).
            exact = simulator.frames(grid.TrackerPoses(poses.values[:1]), spurious=2, seed=5)
            rays, numbers = exact.frame(0)
            pose, report = environment.refine_pose(rays, numbers, (poses.positions[0] + 0.05, rotations[0]))
            self.assertEqual(report.method, grid.PoseMethod.REFINE)
            self.assertEqual(report.supporting_rays, (numbers != grid.MARKER_UNIDENTIFIED).sum())
            np.testing.assert_allclose(pose.position, poses.positions[0], atol=1e-3)
            none, report = environment.refine_pose(rays[:2], numbers[:2], pose)  # too few rays
            self.assertIsNone(none)
            self.assertEqual((report.supporting_rays, report.method), (0, grid.PoseMethod.REFINE))

            for bad in (lambda: environment.track(rays, (poses.positions[0], (0, 0, 0, 2))),
                        lambda: environment.refine_pose(rays, numbers[:-1], pose)):
                with self.assertRaises(grid.LumetraError) as raised:
                    bad()
                self.assertEqual(raised.exception.code, 0x80070057)


if __name__ == "__main__":
    unittest.main()
