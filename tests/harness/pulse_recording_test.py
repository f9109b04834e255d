#!/usr/bin/python3
"""The shared recording check must pass what a lossy but faithful stream delivers and
reject every way a device could alter, repeat or reorder the samples."""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pulse_recording as pr  # noqa: E402

FRAMES = 20000


def sound(frames, start):
    """Non-repeating stereo frames with no silent frame, as raw bytes."""
    out = bytearray()
    state = start
    for _ in range(frames):
        state = (state * 1103515245 + 12345) % 2**31
        left = (state >> 8) % 60000 - 30000 or 1
        right = (state >> 4) % 60000 - 30000 or 1
        out += struct.pack("<hh", left, right)
    return bytes(out)


def frames(data, first, last):
    return data[first * 4:last * 4]


def silence(n):
    return b"\0" * (4 * n)


def scaled(data, factor):
    values = struct.unpack(f"<{len(data) // 2}h", data)
    return struct.pack(f"<{len(values)}h", *(int(v * factor) for v in values))


def swapped(data):
    values = struct.unpack(f"<{len(data) // 2}h", data)
    pairs = [v for i in range(0, len(values), 2) for v in (values[i + 1], values[i])]
    return struct.pack(f"<{len(pairs)}h", *pairs)


def nudged(data, frame):
    left, right = struct.unpack_from("<hh", data, frame * 4)
    return data[:frame * 4] + struct.pack("<hh", left + 1, right) + data[frame * 4 + 4:]


A = sound(FRAMES, 7)
B = sound(FRAMES, 11)


class CompareRuns(unittest.TestCase):
    def test_recordings(self):
        cases = [
            # name, recording, sessions, frames each session must have, passes
            ("whole stream in silence", silence(500) + A + silence(500), [A], FRAMES, True),
            ("stretch lost at start-up", frames(A, 0, 1103) + frames(A, 9000, FRAMES), [A], 10000, True),
            ("silence the server filled in", frames(A, 0, 7000) + silence(100) + frames(A, 7000, FRAMES),
             [A], FRAMES, True),
            ("cut off by the reset", frames(A, 0, 12000) + silence(3000), [A], 12000, True),
            ("second session from its own start", A + silence(800) + frames(B, 0, 5000), [A, B], 5000, True),
            ("a stretch shorter than the window between fills",
             frames(A, 0, 7000) + silence(50) + frames(A, 7000, 7030) + silence(50) + frames(A, 7030, FRAMES),
             [A], FRAMES, True),
            ("a short stretch just before the reset", frames(A, 0, 12000) + silence(500) + frames(A, 12000, 12020)
             + silence(3000), [A], 12020, True),
            ("a short stretch from further back", frames(A, 0, 7000) + silence(50) + frames(A, 100, 130)
             + silence(50) + frames(A, 7000, FRAMES), [A], 0, False),
            ("too little heard", frames(A, 0, 3000), [A], 10000, False),
            ("a sample off by one", nudged(A, 12345), [A], 0, False),
            ("volume at half", scaled(A, 0.5), [A], 0, False),
            ("channels swapped", swapped(A), [A], 0, False),
            ("a stretch played twice", frames(A, 0, 8000) + frames(A, 4000, 8000) + frames(A, 8000, FRAMES),
             [A], 0, False),
            ("blocks out of order", frames(A, 10000, FRAMES) + frames(A, 0, 10000), [A], 0, False),
            ("sessions out of order", B + A, [A, B], 0, False),
            ("second session never heard", A, [A, B], 1000, False),
            ("sound from elsewhere", sound(3000, 99), [A], 0, False),
            ("a lone frame of sound in the silence", silence(700) + struct.pack("<hh", 3, -3) + silence(9),
             [A], 0, False),
            ("silence inside a frame boundary", frames(A, 0, 5000) + b"\0\0" + frames(A, 5000, FRAMES)[2:],
             [A], 0, False),
        ]
        for name, recording, sessions, need, passes in cases:
            with self.subTest(name):
                ok, lines, _ = pr.check(need, recording, sessions)
                self.assertEqual(ok, passes, "\n".join(lines))




class Reading(unittest.TestCase):
    def test_sound_edges(self):
        rec = silence(10) + frames(A, 0, 5) + silence(3) + frames(A, 5, 7) + silence(20)
        self.assertEqual((pr.first_sound(rec), pr.last_sound(rec)), (10, 19))
        self.assertEqual((pr.first_sound(silence(50)), pr.last_sound(silence(50))), (None, None))
        self.assertEqual(pr.sounding_frames(rec), 7)

    def test_wav_round_trip(self):
        import tempfile
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "a.wav")
            pr.write_wav(path, frames(A, 0, 999))
            self.assertEqual(pr.read_wav_frames(path), frames(A, 0, 999))
            self.assertEqual(pr.read_frames(path), frames(A, 0, 999))
            with open(path, "r+b") as f:
                f.seek(24)
                f.write(struct.pack("<I", 48000))
            with self.assertRaises(pr.HarnessError):
                pr.read_wav_frames(path)


if __name__ == "__main__":
    unittest.main()
