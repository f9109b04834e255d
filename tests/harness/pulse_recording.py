#!/usr/bin/python3
"""What a PulseAudio sink played (Recorder), and whether it is the sound the sessions
should make (render_frames, check): a loaded server drops stretches and fills silence.
As a command (record and heard inside tests/scripts/with-pulse.sh, while COMMAND runs):
  record OUT.wav -- COMMAND...    into a WAV file; exits with COMMAND's status
  heard --render PATH [--emulator CMD] MIN_FRAMES SOUND:FREQ... -- COMMAND...
      checks the recording against one session per SOUND:FREQ (binaural:780), in playing
      order, rendered by PATH (through CMD, a Wine launcher); fails if COMMAND does
  check MIN_FRAMES RECORDING EXPECTED...    raw or WAV files, one EXPECTED per session
"""
import argparse
import bisect
import os
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave

RATE = 44100
FRAME = 4             # bytes of one stereo 16-bit frame
BLOCK_FRAMES = 12288  # one block of the audio worker, 278.6 ms
WINDOW = 64           # frames that pin down where in the expected sound a run starts
SILENT = b"\0" * FRAME


class HarnessError(Exception):
    pass


class Recorder:
    """parec on the null sink's monitor, every chunk kept with the time it arrived."""

    def __init__(self, latency_ms=None):
        # PipeWire runs its whole graph at the shortest latency any stream asks for, so
        # its wrapper asks for a longer one than the 5 ms that stamps arrivals finely.
        latency_ms = latency_ms or int(os.environ.get("ZARVELIN_RECORD_LATENCY_MS", "5"))
        self.proc = subprocess.Popen(
            ["parec", "-d", "null.monitor", "--format=s16le", "--rate=%d" % RATE, "--channels=2",
             "--latency-msec=%d" % latency_ms, "--raw"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._data, self._stamps, self._totals = bytearray(), [], []  # totals: bytes by each stamp
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        while chunk := os.read(self.proc.stdout.fileno(), 1764):
            now = time.monotonic_ns()
            with self._lock:
                self._data += chunk
                self._stamps.append(now)
                self._totals.append(len(self._data))

    def wait_for_data(self, timeout=10.0):
        """Returns once the monitor delivers; raises if it does not within `timeout`."""
        deadline = time.monotonic() + timeout
        while not self._stamps:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                self.proc.kill()
                raise HarnessError("parec delivered nothing from the monitor: "
                                   + self.proc.stderr.read().decode(errors="replace"))
            time.sleep(0.01)

    def frames(self):
        """The whole frames recorded so far."""
        with self._lock:
            return bytes(self._data[:len(self._data) // FRAME * FRAME])

    def frames_by(self, ns):
        """Frames the monitor had delivered at steady-clock time `ns`."""
        with self._lock:
            k = bisect.bisect_right(self._stamps, ns)
            return (self._totals[k - 1] if k else 0) // FRAME

    def frame_time_ns(self, index):
        """When frame `index` arrived: its chunk's arrival less the frames after it."""
        with self._lock:
            k = bisect.bisect_right(self._totals, index * FRAME)
            if k >= len(self._totals):
                return None
            return self._stamps[k] - int((self._totals[k] // FRAME - 1 - index) * 1e9 / RATE)

    def stop(self):
        """Ends parec and returns everything recorded as whole frames."""
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self._thread.join(timeout=10)
        return self.frames()


def read_wav_frames(path):
    """The data of a 44.1 kHz stereo 16-bit PCM WAV file as raw bytes."""
    try:
        with wave.open(path, "rb") as w:
            if (w.getnchannels(), w.getsampwidth(), w.getframerate()) != (2, 2, RATE):
                raise HarnessError(path + " is not 44100 Hz stereo 16-bit PCM")
            return w.readframes(w.getnframes())
    except (wave.Error, EOFError) as e:
        raise HarnessError("%s is no PCM WAV file: %s" % (path, e))


def read_frames(path):
    """A WAV file's data, or a raw file's bytes, cut to whole frames."""
    with open(path, "rb") as f:
        data = f.read()
    data = read_wav_frames(path) if data[:4] == b"RIFF" else data
    return data[:len(data) // FRAME * FRAME]


def write_wav(path, frames):
    """Writes raw stereo 16-bit frames as a WAV file, beside and then renamed over."""
    with wave.open(path + ".part", "wb") as w:
        w.setparams((2, 2, RATE, 0, "NONE", None))
        w.writeframes(frames[:len(frames) // FRAME * FRAME])
    os.replace(path + ".part", path)


def render_frames(render, sound, frequency, frames, emulator=()):
    """The first `frames` frames of a session (`frequency` in hundredths of a hertz) from
    zarvelin-render, run through `emulator` (["wine"]) when given."""
    with tempfile.TemporaryDirectory(prefix="zarvelin-render-") as work:
        wav = os.path.join(work, "render.wav")
        # Standard error into a file: the Wine server a prefix's first program starts
        # inherits it and would hold a pipe open long after. Six decimals of seconds pin
        # the renderer's round(seconds * 44100) frames down.
        with open(os.path.join(work, "stderr"), "w+") as err:
            r = subprocess.run([*emulator, render, "--frequency", "%d.%02d" % divmod(frequency, 100),
                                "--sound", sound, "--seconds", "%.6f" % (frames / RATE), "--output", wav],
                               stdout=subprocess.DEVNULL, stderr=err, timeout=120)
            err.seek(0)
            if r.returncode != 0:
                raise HarnessError("the renderer failed: " + err.read())
        data = read_wav_frames(wav)
    if len(data) != frames * FRAME:
        raise HarnessError("the renderer wrote %d frames, not %d" % (len(data) // FRAME, frames))
    return data


def first_sound(rec):
    """Index of the first non-silent frame, or None."""
    rest = rec.lstrip(b"\0")
    return (len(rec) - len(rest)) // FRAME if rest else None


def last_sound(rec):
    """Index of the last non-silent frame, or None."""
    kept = rec.rstrip(b"\0")
    return (len(kept) - 1) // FRAME if kept else None


def _common_prefix(a, a0, b, b0):
    """Length in bytes of the common prefix of a[a0:] and b[b0:], compared in halving steps."""
    n, done, step = min(len(a) - a0, len(b) - b0), 0, 1 << 16
    while step:
        while done + step <= n and a[a0 + done:a0 + done + step] == b[b0 + done:b0 + done + step]:
            done += step
        step //= 2
    return done


def _find_aligned(haystack, needle, start):
    """First frame-aligned offset >= start where needle occurs, or -1."""
    pos = haystack.find(needle, start)
    while pos >= 0 and pos % FRAME:
        pos = haystack.find(needle, pos + 1)
    return pos


def _locate(sessions, s, needle, next_exp):
    """(session, byte offset) where needle continues session s at or after next_exp, or
    else starts session s + 1 anywhere; the offset is -1 when it does neither."""
    q = _find_aligned(sessions[s], needle, next_exp)
    if q < 0 and s + 1 < len(sessions):
        q = _find_aligned(sessions[s + 1], needle, 0)
        if q >= 0:
            return s + 1, q
    return s, q


def check(min_frames, rec, sessions):
    """Reads `rec` as silence plus runs, each equal frame for frame to a stretch of a
    session: one continues its session where the last one ended or later, or starts the
    next session anywhere. Returns (passed, report lines, runs as (session, recorded frame,
    expected frame, length)): passed when every sounding frame lies in a run and each
    session's runs hold `min_frames` frames together."""
    rec = rec[:len(rec) // FRAME * FRAME]
    runs, lines, i, s, next_exp, ok = [], [], 0, 0, 0, True
    while i < len(rec):
        if rec[i:i + FRAME] == SILENT:  # on to the frame of the next non-zero byte
            i = len(rec) - len(rec[i:].lstrip(b"\0"))
            i -= i % FRAME
            continue
        window = rec[i:i + WINDOW * FRAME]
        t, q = _locate(sessions, s, window, next_exp)
        if q < 0 and (cut := _find_aligned(window, SILENT, 0)) > 0:
            # A stretch shorter than the window: the server ran dry (or the session ended)
            # moments after it resumed. What sounded before the silence is found by itself.
            t, q = _locate(sessions, s, window[:cut], next_exp)
        if q < 0:
            lines.append("FAIL: recorded frame %d %s is in no stretch of the expected sound"
                         % (i // FRAME, struct.unpack_from("<hh", rec, i)))
            ok = False
            break
        s = t
        n = _common_prefix(rec, i, sessions[s], q) // FRAME * FRAME
        runs.append((s, i // FRAME, q // FRAME, n // FRAME))
        i += n
        next_exp = q + n
    lines[:0] = ["recorded %d frames in %d runs" % (len(rec) // FRAME, len(runs))] + [
        "  session %d: recorded %d.. = expected %d..%d" % (s + 1, r, e, e + n) for s, r, e, n in runs[:40]]
    for s, expected in enumerate(sessions):
        matched = sum(n for t, _, _, n in runs if t == s)
        lines.append("session %d: %d of %d frames heard" % (s + 1, matched, len(expected) // FRAME))
        if matched < min_frames:
            lines.append("FAIL: session %d matched %d frames, at least %d expected" % (s + 1, matched, min_frames))
            ok = False
    return ok, lines, runs


def main(argv=None):
    argv = list(sys.argv[1:] if argv is None else argv)
    ap = argparse.ArgumentParser(prog="pulse_recording.py", description="Record a PulseAudio "
                                 "monitor while a command (after --) runs; check what it heard.")
    sub = ap.add_subparsers(dest="command", required=True)
    sub.add_parser("record").add_argument("output")
    h = sub.add_parser("heard")
    h.add_argument("--render", required=True)
    h.add_argument("--emulator")
    h.add_argument("min_frames", type=int)
    h.add_argument("sessions", nargs="+", metavar="SOUND:FREQ")
    c = sub.add_parser("check")
    c.add_argument("min_frames", type=int)
    c.add_argument("recording")
    c.add_argument("expected", nargs="+")
    cut = argv.index("--") if "--" in argv else len(argv)
    args = ap.parse_args(argv[:cut])
    if args.command != "check" and cut >= len(argv) - 1:
        ap.error("the command to record around goes after --")
    try:
        if args.command == "check":
            data, status, sessions = read_frames(args.recording), 0, [read_frames(p) for p in args.expected]
        else:  # the monitor recorded while the command runs
            rec = Recorder()
            try:
                rec.wait_for_data()
                status = subprocess.run(argv[cut + 1:]).returncode
                time.sleep(0.5)  # the last block still on its way through the server
            finally:
                data = rec.stop()
        if args.command == "record":
            write_wav(args.output, data)
            print("recorded %d frames into %s" % (len(data) // FRAME, args.output))
            return status
        if status != 0:
            print("pulse_recording: the command failed with status %d" % status)
            return status
        if args.command == "heard":  # each session rendered longer than any the command plays
            sessions = [render_frames(args.render, sound, int(frequency), 60 * RATE,
                                      [args.emulator] if args.emulator else [])
                        for sound, _, frequency in (s.partition(":") for s in args.sessions)]
        ok, lines, _ = check(args.min_frames, data, sessions)
        print("\n".join(lines))
        if not ok and args.command == "heard":
            write_wav(os.path.join(tempfile.gettempdir(), "pulse_recording-heard.wav"), data)
            print("the recording is kept in %s/pulse_recording-heard.wav" % tempfile.gettempdir())
        return 0 if ok else 1
    except (HarnessError, OSError) as e:
        print("pulse_recording: " + str(e), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
