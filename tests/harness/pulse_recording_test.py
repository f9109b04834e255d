#!/usr/bin/python3
"""The shared recording check must pass what a lossy but faithful stream delivers and
reject every way a device could alter, repeat or reorder the samples."""
import os
import random
import struct
import sys
import tempfile
import unittest
from array import array

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pulse_recording as pr  # noqa: E402

FRAMES = 20000


def sound(frames, seed):
    """Non-repeating stereo frames with no silent frame (for the seeds used), as bytes."""
    return random.Random(seed).randbytes(4 * frames)


def silence(n):
    return b"\0" * (4 * n)


A, B = sound(FRAMES, 7), sound(FRAMES, 11)
S = array("h", A)
NUDGED, SWAPPED = S[:], S[:]
NUDGED[2 * 12345] += 1
SWAPPED[0::2], SWAPPED[1::2] = S[1::2], S[0::2]
HALVED = array("h", (v // 2 for v in S))


def a(first, last):
    return A[first * 4:last * 4]


class Check(unittest.TestCase):
    def test_recordings(self):
        cases = [
            # name, recording, sessions, frames each session must have, passes
            ("whole stream in silence", silence(500) + A + silence(500), [A], FRAMES, True),
            ("stretch lost at start-up", a(0, 1103) + a(9000, FRAMES), [A], 10000, True),
            ("silence the server filled in", a(0, 7000) + silence(100) + a(7000, FRAMES), [A], FRAMES, True),
            ("cut off by the reset", a(0, 12000) + silence(3000), [A], 12000, True),
            ("second session from its own start", A + silence(800) + B[:20000], [A, B], 5000, True),
            ("a stretch shorter than the window between fills",
             a(0, 7000) + silence(50) + a(7000, 7030) + silence(50) + a(7030, FRAMES), [A], FRAMES, True),
            ("a short stretch just before the reset", a(0, 12000) + silence(500) + a(12000, 12020)
             + silence(3000), [A], 12020, True),
            ("a short stretch from further back", a(0, 7000) + silence(50) + a(100, 130) + silence(50)
             + a(7000, FRAMES), [A], 0, False),
            ("too little heard", a(0, 3000), [A], 10000, False),
            ("a sample off by one", NUDGED.tobytes(), [A], 0, False),
            ("volume at half", HALVED.tobytes(), [A], 0, False),
            ("channels swapped", SWAPPED.tobytes(), [A], 0, False),
            ("a stretch played twice", a(0, 8000) + a(4000, 8000) + a(8000, FRAMES), [A], 0, False),
            ("blocks out of order", a(10000, FRAMES) + a(0, 10000), [A], 0, False),
            ("sessions out of order", B + A, [A, B], 0, False),
            ("second session never heard", A, [A, B], 1000, False),
            ("sound from elsewhere", sound(3000, 99), [A], 0, False),
            ("a lone frame of sound in the silence", silence(700) + struct.pack("<hh", 3, -3) + silence(9),
             [A], 0, False),
            ("silence inside a frame boundary", a(0, 5000) + b"\0\0" + a(5000, FRAMES)[2:], [A], 0, False),
        ]
        for name, recording, sessions, need, passes in cases:
            with self.subTest(name):
                ok, lines, _ = pr.check(need, recording, sessions)
                self.assertEqual(ok, passes, "\n".join(lines))

    def test_sound_edges_and_wav(self):
        rec = silence(10) + a(0, 5) + silence(3) + a(5, 7) + silence(20)
        self.assertEqual((pr.first_sound(rec), pr.last_sound(rec)), (10, 19))
        self.assertEqual((pr.first_sound(silence(50)), pr.last_sound(silence(50))), (None, None))
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "a.wav")
            pr.write_wav(path, a(0, 999))
            self.assertEqual(pr.read_wav_frames(path), a(0, 999))
            with open(path, "r+b") as f:  # a WAV at 48 kHz is refused
                f.seek(24)
                f.write(struct.pack("<I", 48000))
            self.assertRaises(pr.HarnessError, pr.read_wav_frames, path)


if __name__ == "__main__":
    unittest.main()
