#!/usr/bin/python3
"""Plays a session through the stream probe while recording the sound server's monitor,
then checks what arrived there.

    stream_check.py --probe PATH --sound MODE --frequency HUNDREDTHS --seconds S
                    [--render PATH] [--max-tail-frames N] [--freeze-at S --freeze-for S]

The recording must equal the session's sound bit for bit: it is compared as runs, each
equal to a stretch of the expected frames in order, because a loaded server may drop a
stretch (mostly at start-up). After the probe drops its flag, the monitor must fall silent
within --max-tail-frames frames. With --freeze-for the probe is stopped for a while mid-
session, so its refills come late and the device runs dry: the stream must go on after
the gap. The measured figures are printed as one line of key=value pairs.
"""
import argparse
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

RATE = 44100
FRAME = 4          # bytes of one stereo 16-bit frame
WINDOW = 64        # frames that must match to lock onto a stretch of the expected sound
SILENT = b"\0" * FRAME


def fail(message):
    print("stream_check: FAIL: " + message, file=sys.stderr)
    sys.exit(1)


class Recorder:
    """parec on the null sink's monitor, each chunk stamped with the steady clock."""

    def __init__(self):
        self.proc = subprocess.Popen(
            ["parec", "-d", "null.monitor", "--format=s16le", "--rate=44100",
             "--channels=2", "--latency-msec=10", "--raw"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.data = bytearray()
        self.stamps = []   # (time.monotonic_ns() on arrival, bytes received by then)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        fd = self.proc.stdout.fileno()
        while True:
            chunk = os.read(fd, 1764)
            if not chunk:
                return
            self.data += chunk
            self.stamps.append((time.monotonic_ns(), len(self.data)))

    def wait_for_data(self, timeout):
        deadline = time.monotonic() + timeout
        while not self.stamps:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                fail("parec delivered nothing from null.monitor: "
                     + self.proc.stderr.read().decode(errors="replace"))
            time.sleep(0.01)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.thread.join(timeout=10)
        usable = len(self.data) - len(self.data) % FRAME
        return bytes(self.data[:usable])

    def frames_by(self, ns):
        """Frames the monitor had delivered at steady-clock time `ns`."""
        received = 0
        for stamp, total in self.stamps:
            if stamp > ns:
                break
            received = total
        return received // FRAME


def read_wav_frames(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        fail(path + " is not a RIFF WAVE file")
    pos = 12
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if tag == b"fmt ":
            fmt, channels, rate, _, _, bits = struct.unpack("<HHIIHH", data[pos + 8:pos + 24])
            if (fmt, channels, rate, bits) != (1, 2, RATE, 16):
                fail(path + " is not 44100 Hz stereo 16-bit PCM")
        elif tag == b"data":
            return data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    fail(path + " has no data chunk")


def frame(buf, i):
    return buf[i * FRAME:(i + 1) * FRAME]


def match_runs(rec, exp):
    """Splits the recording's sound into runs that each equal a stretch of `exp`, in
    order. Returns [(record_frame, expected_frame, length)]; fails on a frame of sound
    that belongs to no such stretch."""
    n = len(rec) // FRAME
    runs = []
    i = 0
    j = 0   # the next run must start at or after this expected frame
    while i < n:
        if frame(rec, i) == SILENT:
            i += 1
            continue
        window = rec[i * FRAME:(i + WINDOW) * FRAME]
        if len(window) < WINDOW * FRAME:
            # Too short to place reliably: the last few frames before the recording ends.
            if exp.find(window, j * FRAME) < 0:
                fail("the last %d recorded frames match nothing expected" % (n - i))
            break
        at = -1
        start = j * FRAME
        while True:
            at = exp.find(window, start)
            if at < 0 or at % FRAME == 0:
                break
            start = at + 1
        if at < 0:
            fail("recorded frame %d (%.3f s) starts a stretch found nowhere in the expected "
                 "sound after expected frame %d" % (i, i / RATE, j))
        k0 = at // FRAME
        k = WINDOW
        while i + k < n and k0 + k < len(exp) // FRAME and frame(rec, i + k) == frame(exp, k0 + k):
            k += 1
        runs.append((i, k0, k))
        i += k
        j = k0 + k
    return runs


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    ap.add_argument("--render")
    ap.add_argument("--sound", required=True)
    ap.add_argument("--frequency", type=int, required=True)
    ap.add_argument("--seconds", type=float, required=True)
    ap.add_argument("--max-tail-frames", type=int, default=12288 + 4410)
    ap.add_argument("--freeze-at", type=float, default=0,
                    help="stop the probe this many seconds in, so its refills come late")
    ap.add_argument("--freeze-for", type=float, default=0)
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="zarvelin-stream-")
    try:
        check(args, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def check(args, work):
    expected_path = os.path.join(work, "expected.raw")

    recorder = Recorder()
    try:
        recorder.wait_for_data(10)
        proc = subprocess.Popen(
            [args.probe, "--frequency", str(args.frequency), "--sound", args.sound,
             "--seconds", str(args.seconds), "--expected", expected_path],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if args.freeze_for > 0:
            time.sleep(args.freeze_at)
            proc.send_signal(signal.SIGSTOP)
            time.sleep(args.freeze_for)
            proc.send_signal(signal.SIGCONT)
        try:
            stdout, stderr = proc.communicate(timeout=args.seconds + 30)
        except subprocess.TimeoutExpired:
            proc.kill()
            fail("the probe was still running %d s after its session should have ended"
                 % 30)
        probe = subprocess.CompletedProcess(proc.args, proc.returncode, stdout, stderr)
        # What was still on its way to the monitor when the probe ended.
        time.sleep(0.5)
    finally:
        rec = recorder.stop()
    if probe.returncode != 0:
        fail("the probe failed: " + probe.stderr)
    facts = dict(line.split("=", 1) for line in probe.stdout.split())
    facts = {k: int(v) for k, v in facts.items()}
    if facts["ended_early"]:
        fail("the audio worker gave up on the device while the session ran: "
             + probe.stdout.replace("\n", " ") + probe.stderr)

    if args.render:
        wav = os.path.join(work, "render.wav")
        hz = "%d.%02d" % (args.frequency // 100, args.frequency % 100)
        seconds = int(args.seconds) + 3
        r = subprocess.run([args.render, "--frequency", hz, "--sound", args.sound,
                            "--seconds", str(seconds), "--output", wav],
                           capture_output=True, text=True, timeout=60)
        if r.returncode != 0:
            fail("the renderer failed: " + r.stderr)
        exp = read_wav_frames(wav)
    else:
        with open(expected_path, "rb") as f:
            exp = f.read()
    os.remove(expected_path)

    runs = match_runs(rec, exp)
    played = sum(length for _, _, length in runs)
    sounding = sum(1 for i in range(len(rec) // FRAME) if frame(rec, i) != SILENT)
    queued = facts["queued_frames"]

    # The session must have streamed for about as long as it ran.
    playing = int((facts["drop_ns"] - facts["open_ns"]) * RATE / 1e9)
    silent_gap = int(args.freeze_for * RATE)
    if queued < playing - silent_gap:
        fail("only %d frames were queued in a session of %d frames" % (queued, playing))

    if args.sound == "none":
        if sounding:
            fail("a silent session put %d non-zero frames on the monitor" % sounding)
        tail = 0
        start = 0
    else:
        # Silence in the expected sound (zero crossings, gated beeps) is recorded as such,
        # so the runs cover nearly every frame from the first sound to the last.
        if played < playing - silent_gap - 2 * 12288:
            fail("only %d of about %d played frames arrived intact; runs: %s"
                 % (played, playing, runs[:10]))
        if args.freeze_for > 0 and len(runs) < 2:
            fail("the late refill left no gap: the freeze did not work as meant")
        last_sound = max(i for i in range(len(rec) // FRAME) if frame(rec, i) != SILENT)
        drop_frame = recorder.frames_by(facts["drop_ns"])
        tail = last_sound + 1 - drop_frame
        first_sound = min(i for i in range(len(rec) // FRAME) if frame(rec, i) != SILENT)
        start = first_sound - recorder.frames_by(facts["open_ns"])
        if tail > args.max_tail_frames:
            fail("the monitor kept sounding for %d frames after the flag dropped (at most %d)"
                 % (tail, args.max_tail_frames))

    summary = ("sound=%s frequency=%d runs=%d matched_frames=%d queued_frames=%d "
               "tail_frames=%d tail_ms=%.1f stop_ms=%.1f start_ms=%.1f"
               % (args.sound, args.frequency, len(runs), played, queued, tail,
                  tail * 1000.0 / RATE, (facts["end_ns"] - facts["drop_ns"]) / 1e6,
                  start * 1000.0 / RATE))
    print(summary)


if __name__ == "__main__":
    main()
