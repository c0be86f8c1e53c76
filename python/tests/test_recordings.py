"""Walks, the batch calls, recordings written and read back, replays judged against the truth,
and the pictures of a replay."""

import io
import os
import tempfile
import unittest

import numpy as np

import lumetra_horizontal_grid as grid
from lumetra_horizontal_grid.camera import LOOKING_UP, Camera, rotation_matrix
from lumetra_horizontal_grid.recording import RecordingWriter, read_recording
from lumetra_horizontal_grid.replay import replay

from .test_package import ROOM_CODE

try:
    import matplotlib
    matplotlib.use("Agg")
except ImportError:
    matplotlib = None


class BatchTest(unittest.TestCase):
    def test_a_walk_is_identified_and_tracked_in_one_call_as_frame_by_frame(self):
        with grid.Library() as library, library.create_environment(ROOM_CODE) as environment:
            simulator = grid.Simulator(environment)
            walk = simulator.walk(1.0, rate=60, seed=4)
            self.assertEqual(len(walk), 60)
            self.assertLess(np.abs(np.diff(walk.yaw_degrees)).max(), 4)  # at most 180 deg/s at 60 Hz
            frames = simulator.frames(walk, noise_degrees=0.05, drop=0.05, spurious=1, seed=4)
            tracked = environment.track_walk(frames.rays, frames.offsets)
            identified = environment.identify_frames(frames.rays, frames.offsets)
            self.assertGreaterEqual(tracked.found.mean(), 0.95)
            self.assertEqual(tracked.methods[0], grid.PoseMethod.IDENTIFY)
            self.assertIn(grid.PoseMethod.TRACK, set(tracked.methods.tolist()))
            error = np.linalg.norm(tracked.positions[tracked.found] - walk.positions[tracked.found], axis=1)
            self.assertLess(np.median(error), 0.01)
            for f in (0, 30):  # the batch gives what single calls give
                indices, pose, report = environment.identify(frames.frame(f)[0])
                span = slice(int(frames.offsets[f]), int(frames.offsets[f + 1]))
                self.assertEqual(identified.found[f], pose is not None)
                if pose is not None:
                    np.testing.assert_array_equal(identified.indices[span], indices)
                    np.testing.assert_allclose(identified.covariances[f], report.covariance, rtol=1e-6)
            with self.assertRaises(ValueError):
                environment.track_walk(frames.rays, [0, 5, 3])
            with self.assertRaises(ValueError):
                simulator.walk(0)

    def test_failures_say_why(self):
        with grid.Library() as library, library.create_environment(ROOM_CODE) as environment:
            rays = [[0, 1, 0], [0.1, 1, 0]]
            _, pose, report = environment.identify(rays)
            self.assertIsNone(pose)
            self.assertIn("only 2 usable rays", report.reason)
            pose, report = environment.refine_pose(rays, [0, 1], ((0, 1, 0), (0, 0, 0, 1)))
            self.assertIsNone(pose)
            self.assertIn("a pose needs three", report.reason)


class RecordingTest(unittest.TestCase):
    def test_written_recordings_read_back_and_replay_against_their_truth(self):
        with grid.Library() as library, library.create_environment(ROOM_CODE) as environment:
            simulator = grid.Simulator(environment)
            walk = simulator.walk(0.5, rate=60, seed=5)
            frames = simulator.frames(walk, noise_degrees=0.05, spurious=1, seed=5)
            rotations = simulator.rotations(walk)
            camera = Camera.fisheye((200, 200, 320, 240), (0.01, 0, 0, 0), rotation=LOOKING_UP)
            text = io.StringIO()
            writer = RecordingWriter(text, ROOM_CODE, cameras=[camera])
            for f in range(len(frames)):
                rays, numbers = frames.frame(f)
                # Every other frame as the camera's pixels, the rest as rays in its own frame.
                camera_rays = rays.astype(np.float64) @ rotation_matrix(LOOKING_UP)  # tracker -> camera
                truth = dict(truth_position=walk.positions[f], truth_rotation=rotations[f], truth_markers=numbers)
                if f % 2:
                    writer.frame(f / 60, pixels=camera.project(rays)[0], **truth)
                else:
                    writer.frame(f / 60, rays=camera_rays, **truth)
                writer.inertial(f / 60 + 0.001, (0, 0.1, 0), (0, 9.8, 0))
            writer.close()
            recording = read_recording(io.StringIO(text.getvalue()))
            self.assertEqual(len(recording.frames), len(frames))
            self.assertEqual(recording.inertial.shape, (len(frames), 7))
            self.assertEqual(recording.frames[3].inertial_before, 3)
            rays, offsets = recording.tracker_rays()
            np.testing.assert_array_equal(offsets, frames.offsets)
            np.testing.assert_allclose(rays, frames.rays, atol=1e-5)

            for method in ("match", "identify", "track", "tracker"):
                replayed = replay(environment, recording, method)
                self.assertGreaterEqual(replayed.found.mean(), 0.5 if method == "match" else 0.9, method)
                self.assertEqual(replayed.wrong[replayed.found].max(), 0)
                self.assertLess(np.nanmedian(replayed.position_errors), 0.01)
            if matplotlib is not None:
                from lumetra_horizontal_grid import plots
                with tempfile.TemporaryDirectory() as folder:
                    for name, axes in (("timeline", plots.timeline(replayed)), ("frame", plots.frame(replayed, 10))):
                        path = os.path.join(folder, name + ".png")
                        axes.figure.savefig(path)
                        self.assertGreater(os.path.getsize(path), 10000)

        for bad, message in (('{"type": "frame"}\n', "header"),
                             ('{"type":"header","format":"lumetra-recording","version":1,"environment":"x"}\n'
                              '{"type":"frame","time":0,"pixels":[[1,2]]}\n', "line 2: pixels of a camera without")):
            with self.assertRaises(ValueError) as raised:
                read_recording(io.StringIO(bad))
            self.assertIn(message, str(raised.exception))


if __name__ == "__main__":
    unittest.main()
