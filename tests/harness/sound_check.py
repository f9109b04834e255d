#!/usr/bin/python3
"""Sound at the server, for either face: the audio probe plays sessions through the real
worker and the face's wave output while a private PulseAudio sink's monitor is recorded,
and the recording is held against zarvelin-render's frames.

    sound_check.py [FACE] --sound MODE --frequency HUNDREDTHS --seconds S [--sessions N]
                   [--warm-up] [--min-frames N] [--max-tail-frames N]
                   [--freeze-at S --freeze-for S]
    sound_check.py [FACE] --no-device
    FACE: --probe PATH --render PATH [--emulator RUNNER] [--probe-clock monotonic|raw]
          [--start-may-be-lost]

Run inside tests/scripts/with-pulse.sh (or with-pipewire.sh), or with-pulse.sh
--no-device for --no-device. The face plugs in how its programs start (a runner such as
scripts/wine-run.sh, which answers --can-run: where it cannot run them the check is
skipped, 77), the clock its probe prints times in, and whether its streams keep their
first frames. Per session the probe played, the recording must be that session's frames
exactly, read as runs (tests/harness/pulse_recording.py: a loaded server drops stretches
and fills silence), in order, each session from its frame 0:
  - the worker kept its device for the whole session and queued at least 3 blocks;
  - at least --min-frames of it were heard (a second by default); a --warm-up session,
    played first, need not be heard at all (a slow machine's first stream may start
    after the worker stopped waiting for the device);
  - its first run begins at its first sounding frame, unless the face's streams may
    lose their start (Wine drops a stretch at the start of each stream);
  - a session of sound none leaves the monitor silent;
  - the monitor is silent --max-tail-frames (3 s) after the last flag dropped: a bound
    that only catches a stream never stopped (bench/linux_sound/stop_to_silence.py
    measures the figure);
  - with --freeze-for the probe is stopped mid-session so its refills come late: the
    stream must go on after the gap.
--no-device: with no server every session's worker ends by itself having queued nothing.
ZARVELIN_TIME_SCALE (the emulated 32-bit machine) stretches every session by its factor.
The figures are printed as one line of key=value pairs; how much a loaded server filled
with silence is reported there, not failed. A failing recording is kept in the current
folder.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pulse_recording as pr  # noqa: E402
from report import Report  # noqa: E402

report = Report("sound_check")


def arguments():
    ap = argparse.ArgumentParser(prog="sound_check.py")
    ap.add_argument("--probe", required=True)
    ap.add_argument("--render")
    ap.add_argument("--emulator", help="the runner the face's programs start through")
    ap.add_argument("--probe-clock", choices=("monotonic", "raw"), default="monotonic",
                    help="the clock of the probe's times (Wine's steady clock is the raw one)")
    ap.add_argument("--start-may-be-lost", action="store_true")
    ap.add_argument("--no-device", action="store_true")
    ap.add_argument("--sound", choices=("none", "binaural", "beeps", "noise"))
    ap.add_argument("--frequency", type=int)
    ap.add_argument("--seconds", type=float)
    ap.add_argument("--sessions", type=int, default=1)
    ap.add_argument("--warm-up", action="store_true")
    ap.add_argument("--min-frames", type=int, default=pr.RATE)
    ap.add_argument("--max-tail-frames", type=int, default=3 * pr.RATE)
    ap.add_argument("--freeze-at", type=float, default=0)
    ap.add_argument("--freeze-for", type=float, default=0)
    args = ap.parse_args()
    if not args.no_device:
        if None in (args.render, args.sound, args.frequency, args.seconds):
            ap.error("a session takes --render, --sound, --frequency and --seconds")
        if args.sound == "noise" and args.sessions + args.warm_up > 1:
            # Each session starts its sound at frame 0, but the noise generator runs on.
            ap.error("several sessions take binaural, beeps or none: noise runs on across sessions")
    args.run = [args.emulator] if args.emulator else []
    args.scale = float(os.environ.get("ZARVELIN_TIME_SCALE", "1"))
    return args


def clock_offset_ns(args):
    """What to add to the probe's times to read them on the recorder's clock."""
    if args.probe_clock == "monotonic":
        return 0
    return time.monotonic_ns() - time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW)


def probe_sessions(stdout, count):
    """The probe's key=value lines as one dict per session (the k-th's keys carry sK_)."""
    sessions = [{} for _ in range(count)]
    for line in stdout.replace("\r", "").split():
        key, value = line.split("=", 1)
        number, name = re.fullmatch(r"(?:s(\d+)_)?(\w+)", key).groups()
        sessions[int(number or 1) - 1][name] = int(value)
    return sessions


def run_probe(args, probe_args, seconds):
    """Starts the probe, freezes it for a while when asked, and returns its sessions."""
    # Standard error into a file: the Wine server and services a prefix's first program
    # starts inherit it and would hold a pipe open long after the probe ended.
    err = tempfile.TemporaryFile("w+")
    proc = subprocess.Popen([*args.run, args.probe, *probe_args],
                            stdout=subprocess.PIPE, stderr=err, text=True)
    if args.freeze_for > 0:
        time.sleep(args.freeze_at * args.scale)
        proc.send_signal(signal.SIGSTOP)
        time.sleep(args.freeze_for * args.scale)
        proc.send_signal(signal.SIGCONT)
    try:
        # Only a hang guard: the probe ends a worker that outlasts its session by 20 s.
        stdout, _ = proc.communicate(timeout=seconds + 60)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        report.stop("the probe was still running 60 s after its sessions should have ended")
    print(stdout.replace("\r", ""), end="")
    err.seek(0)
    if proc.returncode != 0:
        report.stop("the probe ended with %d: %s" % (proc.returncode, err.read()))
    return stdout


def no_device(args):
    stdout = run_probe(args, ["--sound", "binaural", "--frequency", "780",
                                 "--seconds", "%g" % (1.5 * args.scale), "--sessions", "2"], 3)
    for s, facts in enumerate(probe_sessions(stdout, 2), 1):
        report.check(facts.get("ended_early") == 1,
                     "session %d's worker did not end by itself with no device" % s)
        report.check(facts.get("queued_frames") == 0,
                     "session %d queued %s frames with no device" % (s, facts.get("queued_frames")))


def play(args):
    seconds = args.seconds * args.scale
    count = args.sessions + args.warm_up
    recorder = pr.Recorder()
    try:
        # The recording runs before the first sample plays.
        recorder.wait_for_data(10)
        stdout = run_probe(args, ["--sound", args.sound, "--frequency", str(args.frequency),
                                     "--seconds", "%g" % seconds, "--sessions", str(count)],
                              seconds * count)
        time.sleep(1)  # what is still in the server's buffers reaches the monitor
    finally:
        rec = recorder.stop()
    offset = clock_offset_ns(args)
    sessions = probe_sessions(stdout, count)

    lengths = []
    for s, facts in enumerate(sessions, 1):
        queued = facts.get("queued_frames", 0)
        if s == 1 and args.warm_up:
            # It may have given up on a device still starting: whatever it queued.
            queued = max(queued, pr.BLOCK_FRAMES)
        elif facts.get("ended_early", 1) or queued < 3 * pr.BLOCK_FRAMES:
            report.stop("session %d queued %d frames and ended %s: a live device takes at "
                        "least 3 blocks in %g s" % (s, queued, "early" if facts.get("ended_early")
                                                    else "with its session", seconds))
        lengths.append(queued)
    frames = pr.render_frames(args.render, args.sound, args.frequency, max(lengths), args.run)
    expected = [frames[:n * pr.FRAME] for n in lengths]
    heard = 0 if args.sound == "none" else args.min_frames
    ok, lines, runs = pr.check([0] * args.warm_up + [heard] * args.sessions, rec, expected)
    print("\n".join(lines))
    report.check(ok, "the recording is not the sessions' rendered sound")

    first_heard = pr.first_sound(rec)
    tail = start = 0
    if args.sound == "none":
        report.check(first_heard is None, "a silent session put %d non-zero frames on the monitor"
                     % pr.sounding_frames(rec))
    elif ok:
        for s in range(args.warm_up, count):
            starts = [e for t, _, e, _ in runs if t == s]
            report.check(args.start_may_be_lost or (starts and starts[0] <= pr.first_sound(expected[s])),
                         "the start of session %d never reached the server: it is heard from its "
                         "frame %s, its sound begins at frame %d"
                         % (s + 1, starts[0] if starts else None, pr.first_sound(expected[s])))
        if args.freeze_for > 0:
            report.check(len(runs) >= 2, "the late refill left no gap: the freeze did not work as meant")
        tail = pr.last_sound(rec) + 1 - recorder.frames_by(sessions[-1]["drop_ns"] + offset)
        report.check(tail <= args.max_tail_frames,
                     "the monitor kept sounding for %d frames after the flag dropped (at most %d)"
                     % (tail, args.max_tail_frames))
        start = first_heard - recorder.frames_by(sessions[0]["open_ns"] + offset)

    # How long the sessions ran, against what they queued and what arrived: a loaded
    # server or machine fills gaps with silence, which is reported here, not failed.
    playing = sum(int((f["drop_ns"] - f["open_ns"]) * pr.RATE / 1e9) for f in sessions if f["drop_ns"])
    print("sound=%s frequency=%d sessions=%d runs=%d matched_frames=%d queued_frames=%d "
          "session_frames=%d tail_frames=%d tail_ms=%.1f stop_ms=%.1f start_ms=%.1f"
          % (args.sound, args.frequency, count, len(runs), sum(n for _, _, _, n in runs),
             sum(lengths), playing, tail, tail * 1000.0 / pr.RATE,
             (sessions[-1]["end_ns"] - sessions[-1]["drop_ns"]) / 1e6, start * 1000.0 / pr.RATE))
    if report.failures:
        # Kept for a look at what was heard; the sessions render again from the figures.
        kept = os.path.abspath("sound_check-%s-%d-recording.wav" % (args.sound, args.frequency))
        pr.write_wav(kept, rec)
        report.note("the recording is kept in " + kept)


def main():
    args = arguments()
    if args.emulator:
        can_run = subprocess.run([args.emulator, "--can-run"], capture_output=True, text=True)
        if can_run.returncode != 0:
            report.skip(can_run.stdout.strip())
    try:
        no_device(args) if args.no_device else play(args)
    except pr.HarnessError as e:
        report.fail(str(e))
    return report.done()


if __name__ == "__main__":
    sys.exit(main())
