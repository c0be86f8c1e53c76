"""The inertial tracker through the package: a resting tracker locks, numbers its rays and reports
its state; bad input raises with the library's code; a tracker outlives its Environment object."""

import unittest

import numpy as np

import lumetra_horizontal_grid as grid

from .test_package import ROOM_CODE

GRAVITY = 9.80665


def resting_samples(start, end):
    times = np.arange(start, end, 0.001)
    samples = np.zeros((len(times), 7))
    samples[:, 0] = times
    samples[:, 5] = GRAVITY  # at rest and level the accelerometer reads gravity straight up
    return samples


class TrackerTest(unittest.TestCase):
    def test_a_resting_tracker_locks_and_reports_its_state(self):
        with grid.Library() as library, library.create_environment(ROOM_CODE) as environment:
            simulator = grid.Simulator(environment)
            pose = grid.TrackerPoses.of([[0.3, 1.2, -0.2]], yaw_degrees=np.degrees([30.0]))  # as it was: 30 rad
            frames = simulator.frames(pose, noise_degrees=0.05, seed=3)
            rays, numbers = frames.frame(0)
            tracker = grid.Tracker(environment)
        # The environment object is closed: the tracker keeps the library's environment alive.
        with tracker:
            self.assertEqual(tracker.state(0.0).status, grid.TrackerStatus.LOST)
            tracker.add_inertial(resting_samples(0.001, 0.2))
            methods = []
            for k in range(6):
                time = 0.1 + k / 60
                tracker.add_inertial(resting_samples(0.2 + (k - 1) / 60 + 0.001, 0.2 + k / 60)
                                     if k else np.zeros((0, 7)))
                result = tracker.add_frame(time, rays)
                self.assertTrue(result.fused)
                np.testing.assert_array_equal(result.indices, numbers)
                methods.append(result.report.method)
            self.assertEqual(methods[0], grid.PoseMethod.TRACKER_IDENTIFIED)
            self.assertEqual(methods[-1], grid.PoseMethod.TRACKER_PREDICTED)
            state = tracker.state(time + 0.02)
            self.assertEqual(state.status, grid.TrackerStatus.TRACKING)
            np.testing.assert_allclose(state.position, [0.3, 1.2, -0.2], atol=0.01)
            np.testing.assert_allclose(state.velocity, 0, atol=0.05)
            np.testing.assert_array_equal(state.covariance, state.covariance.T)
            self.assertTrue(np.all(np.diag(state.covariance) > 0))

            for bad in (lambda: tracker.add_inertial(resting_samples(0.0, 0.01)),   # earlier than before
                        lambda: tracker.add_frame(time - 0.01, rays),              # earlier than the last frame
                        lambda: tracker.add_frame(time, rays, camera=1),           # no such camera
                        lambda: tracker.state(time + 1.0)):                        # too far ahead
                with self.assertRaises(grid.LumetraError) as raised:
                    bad()
                self.assertEqual(raised.exception.code, 0x80070057)
            with self.assertRaises(ValueError):
                tracker.add_inertial(np.zeros((2, 6)))
            tracker.reset()
            self.assertEqual(tracker.state(0.0).status, grid.TrackerStatus.LOST)
        with self.assertRaises(ValueError):
            tracker.state(0.0)


if __name__ == "__main__":
    unittest.main()
