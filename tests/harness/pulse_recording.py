#!/usr/bin/python3
"""What a PulseAudio sink played, and whether it is the sound a session should make.

One module for every sound test and benchmark of the project:

  Recorder               parec on a sink's monitor (null.monitor by default), each chunk
                         stamped with the steady clock (time.monotonic_ns) on arrival
  render_frames          the frames a session must play, written by zarvelin-render
  split_runs / check     a recording read as silence plus runs, each run equal frame for
                         frame to a stretch of one session's frames, the runs in playing
                         order: a loaded server may drop a stretch mid-stream
                         and fills silence around what it receives
  read_wav_frames, write_wav, first_sound, last_sound

As a command (run inside tests/scripts/with-pulse.sh):
  pulse_recording.py record OUT.wav --seconds S [--source NAME]
  pulse_recording.py record OUT.wav [--source NAME] -- COMMAND...
      records S seconds of the monitor, or for as long as COMMAND runs (then exits
      with COMMAND's status), into a 44.1 kHz stereo 16-bit WAV file
  pulse_recording.py heard --render PATH [--emulator CMD] MIN_FRAMES SOUND:FREQ... -- COMMAND...
      records while COMMAND runs, then checks the recording against one session per
      SOUND:FREQ (such as binaural:780), in playing order, rendered by PATH (run
      through CMD, such as a Wine launcher); fails if COMMAND does
  pulse_recording.py check MIN_FRAMES RECORDING EXPECTED...
      RECORDING and each EXPECTED are raw 16-bit stereo or WAV files, one EXPECTED per
      session in playing order; passes when every sounding recorded frame lies in a run
      and each session's runs hold at least MIN_FRAMES frames together
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

RATE = 44100
FRAME = 4            # bytes of one stereo 16-bit frame
BLOCK_FRAMES = 12288  # one block of the audio worker, 278.6 ms
WINDOW = 64          # frames that pin down where in the expected sound a run starts
SILENT = b"\0" * FRAME


class HarnessError(Exception):
    pass


# ---------------------------------------------------------------------------------------
# Recording

class Recorder:
    """parec on a monitor source, every chunk kept with the time it arrived."""

    def __init__(self, source="null.monitor", latency_ms=None):
        # A short latency stamps arrivals finely. The environment may ask for a longer
        # one: PipeWire runs its whole graph at the shortest latency any stream asks for.
        if latency_ms is None:
            latency_ms = int(os.environ.get("ZARVELIN_RECORD_LATENCY_MS", "5"))
        self.proc = subprocess.Popen(
            ["parec", "-d", source, "--format=s16le", "--rate=%d" % RATE, "--channels=2",
             "--latency-msec=%d" % latency_ms, "--raw"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._data = bytearray()
        self._stamps = []   # time.monotonic_ns() on arrival
        self._totals = []   # bytes received by then
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        fd = self.proc.stdout.fileno()
        while True:
            chunk = os.read(fd, 1764)
            if not chunk:
                return
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
            usable = len(self._data) - len(self._data) % FRAME
            return bytes(self._data[:usable])

    def frames_by(self, ns):
        """Frames the monitor had delivered at steady-clock time `ns`."""
        with self._lock:
            k = bisect.bisect_right(self._stamps, ns)
            return (self._totals[k - 1] if k else 0) // FRAME

    def frame_time_ns(self, index):
        """When frame `index` reached the recorder: its chunk's arrival, less the frames
        after it in that chunk."""
        with self._lock:
            k = bisect.bisect_right(self._totals, index * FRAME)
            if k >= len(self._totals):
                return None
            after = self._totals[k] // FRAME - 1 - index
            return self._stamps[k] - int(after * 1e9 / RATE)

    def stop(self):
        """Ends parec and returns everything recorded as whole frames."""
        if self.proc.poll() is None:
            self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self._thread.join(timeout=10)
        return self.frames()


# ---------------------------------------------------------------------------------------
# Files

def read_wav_frames(path):
    """The data of a 44.1 kHz stereo 16-bit PCM WAV file as raw bytes."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise HarnessError(path + " is not a RIFF WAVE file")
    pos = 12
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if tag == b"fmt ":
            fmt, channels, rate, _, _, bits = struct.unpack("<HHIIHH", data[pos + 8:pos + 24])
            if (fmt, channels, rate, bits) != (1, 2, RATE, 16):
                raise HarnessError(path + " is not 44100 Hz stereo 16-bit PCM")
        elif tag == b"data":
            return data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    raise HarnessError(path + " has no data chunk")


def read_frames(path):
    """A WAV file's data, or a raw file's bytes, cut to whole frames."""
    with open(path, "rb") as f:
        head = f.read(4)
    data = read_wav_frames(path) if head == b"RIFF" else open(path, "rb").read()
    return data[:len(data) // FRAME * FRAME]


def write_wav(path, frames):
    """Writes raw stereo 16-bit frames as a WAV file, beside and then renamed over."""
    import wave
    part = path + ".part"
    with wave.open(part, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(frames[:len(frames) // FRAME * FRAME])
    os.replace(part, path)


def render_frames(render, sound, frequency, frames, emulator=()):
    """The first `frames` frames of a session, from zarvelin-render (run through
    `emulator`, e.g. ["wine"], when given). `frequency` in hundredths of a hertz."""
    hz = "%d.%02d" % (frequency // 100, frequency % 100)
    # The renderer writes round(seconds * 44100) frames; six decimals pin the count down.
    seconds = "%.6f" % (frames / RATE)
    with tempfile.TemporaryDirectory(prefix="zarvelin-render-") as work:
        wav = os.path.join(work, "render.wav")
        # Standard error into a file: the Wine server and services a prefix's first
        # program starts inherit it and would hold a pipe open long after.
        with open(os.path.join(work, "stderr"), "w+") as err:
            r = subprocess.run([*emulator, render, "--frequency", hz, "--sound", sound,
                                "--seconds", seconds, "--output", wav],
                               stdout=subprocess.DEVNULL, stderr=err, timeout=120)
            err.seek(0)
            if r.returncode != 0:
                raise HarnessError("the renderer failed: " + err.read())
        data = read_wav_frames(wav)
    if len(data) != frames * FRAME:
        raise HarnessError("the renderer wrote %d frames, not %d" % (len(data) // FRAME, frames))
    return data


# ---------------------------------------------------------------------------------------
# Reading a recording

def first_sound(rec):
    """Index of the first non-silent frame, or None."""
    rest = rec.lstrip(b"\0")
    return None if not rest else (len(rec) - len(rest)) // FRAME


def last_sound(rec):
    """Index of the last non-silent frame, or None."""
    kept = rec.rstrip(b"\0")
    return None if not kept else (len(kept) - 1) // FRAME


def sounding_frames(rec):
    return sum(1 for i in range(0, len(rec), FRAME) if rec[i:i + FRAME] != SILENT)


def _common_prefix(a, a0, b, b0):
    """Length in bytes of the common prefix of a[a0:] and b[b0:]."""
    n = min(len(a) - a0, len(b) - b0)
    done = 0
    step = 1 << 16
    while done < n:
        k = min(step, n - done)
        if a[a0 + done:a0 + done + k] == b[b0 + done:b0 + done + k]:
            done += k
        elif k <= 64:
            while done < n and a[a0 + done] == b[b0 + done]:
                done += 1
            return done
        else:
            step = max(k // 8, 64)
    return done


def _find_aligned(haystack, needle, start):
    """First frame-aligned offset >= start where needle occurs, or -1."""
    pos = haystack.find(needle, start)
    while pos >= 0 and pos % FRAME:
        pos = haystack.find(needle, pos + 1)
    return pos


def _first_silent(data):
    """Byte offset of the first silent frame in data, or None."""
    for f in range(0, len(data) - FRAME + 1, FRAME):
        if data[f:f + FRAME] == SILENT:
            return f
    return None


def _locate(sessions, s, needle, next_exp):
    """(session, byte offset) where needle continues session s at or after next_exp, or
    else starts session s + 1 anywhere; the offset is -1 when it does neither."""
    q = _find_aligned(sessions[s], needle, next_exp)
    if q < 0 and s + 1 < len(sessions):
        q = _find_aligned(sessions[s + 1], needle, 0)
        if q >= 0:
            return s + 1, q
    return s, q


def split_runs(rec, sessions):
    """Reads `rec` as silence plus runs. Returns (runs, stray): runs as (session, recorded
    frame, expected frame, length), and the recorded frame index of the first sounding
    frame no run explains, or None. A run continues its session at or after where the
    last one ended, or starts the next session anywhere."""
    rec = rec[:len(rec) // FRAME * FRAME]
    runs = []
    i = 0
    s = 0
    next_exp = 0
    while i < len(rec):
        if rec[i:i + FRAME] == SILENT:
            # Skip the whole stretch of silence at once.
            rest = rec[i:].lstrip(b"\0")
            i = len(rec) - len(rest)
            i -= i % FRAME
            if rest and rec[i:i + FRAME] == SILENT:
                i += FRAME
            continue
        window = rec[i:i + WINDOW * FRAME]
        t, q = _locate(sessions, s, window, next_exp)
        if q < 0:
            # A stretch shorter than the window: the server ran dry (or the session
            # ended) moments after it resumed and filled silence after it. What sounded
            # before that silence must be found by itself.
            cut = _first_silent(window)
            if cut is not None:
                t, q = _locate(sessions, s, window[:cut], next_exp)
        if q < 0:
            return runs, i // FRAME
        s = t
        n = _common_prefix(rec, i, sessions[s], q) // FRAME * FRAME
        runs.append((s, i // FRAME, q // FRAME, n // FRAME))
        i += n
        next_exp = q + n
    return runs, None


def sample_pair(data, index):
    f = index * FRAME
    return (int.from_bytes(data[f:f + 2], "little", signed=True),
            int.from_bytes(data[f + 2:f + 4], "little", signed=True))


def check(min_frames, rec, sessions):
    """Returns (passed, report lines, runs) for a recording and the sessions' frames.
    `min_frames`: the frames each session must be heard for, one figure for all or a
    list with one per session."""
    minima = list(min_frames) if isinstance(min_frames, (list, tuple)) else [min_frames] * len(sessions)
    rec = rec[:len(rec) // FRAME * FRAME]
    runs, stray = split_runs(rec, sessions)
    lines = ["recorded %d frames in %d runs" % (len(rec) // FRAME, len(runs))]
    for s, r, e, n in runs[:40]:
        lines.append("  session %d: recorded %d.. = expected %d..%d" % (s + 1, r, e, e + n))
    ok = True
    if stray is not None:
        lines.append("FAIL: recorded frame %d %s is in no stretch of the expected sound"
                     % (stray, sample_pair(rec, stray)))
        ok = False
    for s in range(len(sessions)):
        matched = sum(n for t, _, _, n in runs if t == s)
        lines.append("session %d: %d of %d frames heard" % (s + 1, matched, len(sessions[s]) // FRAME))
        if matched < minima[s]:
            lines.append("FAIL: session %d matched %d frames, expected at least %d"
                         % (s + 1, matched, minima[s]))
            ok = False
    return ok, lines, runs


# ---------------------------------------------------------------------------------------
# Command line

def _record(args):
    rec = Recorder(args.source)
    status = 0
    try:
        rec.wait_for_data()
        if args.run:
            status = subprocess.run(args.run).returncode
            time.sleep(0.5)  # the last block still on its way through the server
        else:
            time.sleep(args.seconds)
    finally:
        data = rec.stop()
    write_wav(args.output, data)
    print("recorded %d frames (%.2f s) into %s" % (len(data) // FRAME, len(data) / FRAME / RATE,
                                                   args.output))
    return status


def _check(args):
    ok, lines, _ = check(args.min_frames, read_frames(args.recording),
                         [read_frames(p) for p in args.expected])
    print("\n".join(lines))
    print("OK" if ok else "FAILED")
    return 0 if ok else 1


def _heard(args):
    rec = Recorder()
    try:
        rec.wait_for_data()
        status = subprocess.run(args.run).returncode
        time.sleep(0.5)  # the last block still on its way through the server
    finally:
        data = rec.stop()
    if status != 0:
        print("pulse_recording: the command failed with status %d" % status)
        return status
    emulator = [args.emulator] if args.emulator else []
    sessions = []
    for session in args.sessions:
        sound, _, frequency = session.partition(":")
        # Longer than any session the command plays.
        sessions.append(render_frames(args.render, sound, int(frequency), 60 * RATE, emulator))
    ok, lines, _ = check(args.min_frames, data, sessions)
    print("\n".join(lines))
    if not ok:
        failed = os.path.join(tempfile.gettempdir(), "pulse_recording-heard.wav")
        write_wav(failed, data)
        print("the recording is kept in " + failed)
    return 0 if ok else 1


def main(argv=None):
    ap = argparse.ArgumentParser(prog="pulse_recording.py",
                                 description="Record a PulseAudio monitor; check a recording.")
    sub = ap.add_subparsers(dest="command", required=True)
    r = sub.add_parser("record", help="record the monitor into a WAV file")
    r.add_argument("output")
    r.add_argument("--seconds", type=float)
    r.add_argument("--source", default="null.monitor")
    c = sub.add_parser("check", help="check a recording against the sessions' frames")
    c.add_argument("min_frames", type=int)
    c.add_argument("recording")
    c.add_argument("expected", nargs="+")
    h = sub.add_parser("heard", help="record while a command runs; check its sessions")
    h.add_argument("--render", required=True)
    h.add_argument("--emulator")
    h.add_argument("min_frames", type=int)
    h.add_argument("sessions", nargs="+", metavar="SOUND:FREQ")
    # What follows "--" is the command to record around.
    argv = list(sys.argv[1:] if argv is None else argv)
    run = argv[argv.index("--") + 1:] if "--" in argv else []
    args = ap.parse_args(argv[:len(argv) - len(run) - (1 if "--" in argv else 0)])
    args.run = run
    if args.command == "heard" and not args.run:
        ap.error("heard takes the command to record around after --")
    if args.command == "record":
        if bool(args.run) == (args.seconds is not None):
            ap.error("record takes either --seconds S or -- COMMAND...")
        if args.seconds is not None and not (0 < args.seconds <= 3600):
            ap.error("--seconds takes a time above 0 and up to 3600")
    try:
        return {"record": _record, "heard": _heard, "check": _check}[args.command](args)
    except (HarnessError, OSError) as e:
        print("pulse_recording: " + str(e), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
