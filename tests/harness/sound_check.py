#!/usr/bin/python3
"""Sound at the server, for either face: the audio probe plays sessions through the real
worker and the face's wave output into a private sink (tests/scripts/with-pulse.sh or
with-pipewire.sh), whose monitor's recording is held against zarvelin-render's frames.

    sound_check.py FACE --sound MODE --frequency HUNDREDTHS --seconds S [--sessions N]
                   [--open-first] [--min-frames N] [--max-tail-frames N] [--freeze-at S --freeze-for S]
    FACE: --probe PATH --render PATH [--emulator RUNNER] [--probe-clock monotonic|raw]
          [--start-may-be-lost]

A RUNNER (scripts/wine-run.sh) that answers --can-run with a failure skips the check (77).
ZARVELIN_TIME_SCALE (the emulated 32-bit machine) stretches every session by its factor.
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
    ap.add_argument("--render", required=True)
    ap.add_argument("--emulator")
    ap.add_argument("--probe-clock", choices=("monotonic", "raw"), default="monotonic")
    ap.add_argument("--start-may-be-lost", action="store_true")
    ap.add_argument("--sound", choices=("none", "binaural", "beeps", "noise"))
    for name, kind, default in (("frequency", int, None), ("seconds", float, None), ("sessions", int, 1),
                                ("min-frames", int, pr.RATE), ("max-tail-frames", int, 3 * pr.RATE),
                                ("freeze-at", float, 0), ("freeze-for", float, 0)):
        ap.add_argument("--" + name, type=kind, default=default)
    ap.add_argument("--open-first", action="store_true")
    args = ap.parse_args()
    if None in (args.sound, args.frequency, args.seconds):
        ap.error("a session takes --sound, --frequency and --seconds")
    if args.sound == "noise" and args.sessions > 1:
        # Each session starts its sound at frame 0, but the noise generator runs on.
        ap.error("several sessions take binaural, beeps or none: noise runs on across sessions")
    args.run = [args.emulator] if args.emulator else []
    args.scale = float(os.environ.get("ZARVELIN_TIME_SCALE", "1"))
    return args


def run_probe(args, seconds, count):
    """Runs the probe, frozen for a while when asked; its key=value lines as one dict per
    session (the k-th session's keys carry sK_)."""
    # Standard error into a file: the Wine server a prefix's first program starts inherits
    # it and would hold a pipe open long after the probe ended.
    err = tempfile.TemporaryFile("w+")
    proc = subprocess.Popen([*args.run, args.probe, "--sound", args.sound, "--frequency", str(args.frequency),
                             "--seconds", "%g" % seconds, "--sessions", str(count)]
                            + ["--open-first"] * args.open_first,
                            stdout=subprocess.PIPE, stderr=err, text=True)
    if args.freeze_for > 0:
        time.sleep(args.freeze_at * args.scale)
        proc.send_signal(signal.SIGSTOP)
        time.sleep(args.freeze_for * args.scale)
        proc.send_signal(signal.SIGCONT)
    try:
        # Only a hang guard: the probe ends a worker that outlasts its session by 20 s.
        stdout = proc.communicate(timeout=seconds * count + 60)[0].replace("\r", "")
    except subprocess.TimeoutExpired:
        proc.kill()
        report.stop("the probe was still running 60 s after its sessions should have ended")
    print(stdout, end="")
    err.seek(0)
    if proc.returncode != 0:
        report.stop("the probe ended with %d: %s" % (proc.returncode, err.read()))
    sessions = [{} for _ in range(count)]
    for key, value in (line.split("=", 1) for line in stdout.split()):
        number, name = re.fullmatch(r"(?:s(\d+)_)?(\w+)", key).groups()
        sessions[int(number or 1) - 1][name] = int(value)
    return sessions


def play(args):
    seconds, count = args.seconds * args.scale, args.sessions
    recorder = pr.Recorder()
    try:
        recorder.wait_for_data(10)  # the recording runs before the first sample plays
        sessions = run_probe(args, seconds, count)
        time.sleep(1)  # what is still in the server's buffers reaches the monitor
    finally:
        rec = recorder.stop()

    # The worker kept its device for the whole session. --open-first has the probe open the
    # device once, with no bound, before the sessions: a slow machine's sound system (Wine's
    # on the emulated one) may take longer to start than the worker waits for an open.
    if args.open_first:
        report.check(sessions[0].get("first_open_ok") == 1, "the device could not be opened before the sessions")
    for s, facts in enumerate(sessions, 1):
        queued = facts.get("queued_frames", 0)
        if facts.get("ended_early", 1) or queued < 3 * pr.BLOCK_FRAMES:
            report.stop("session %d queued %d frames and ended %s its session: a live device takes 3 "
                        "blocks in %g s" % (s, queued, "before" if facts.get("ended_early") else "with", seconds))
    lengths = [facts["queued_frames"] for facts in sessions]
    frames = pr.render_frames(args.render, args.sound, args.frequency, max(lengths), args.run)
    expected = [frames[:n * pr.FRAME] for n in lengths]
    # Each session's frames exactly, from its frame 0, in order; at least --min-frames heard.
    # Silence is rendered as zeros, so any sound on the monitor fails a silent session here.
    ok, lines, runs = pr.check(0 if args.sound == "none" else args.min_frames, rec, expected)
    print("\n".join(lines))
    report.check(ok, "the recording is not the sessions' rendered sound")

    if ok and args.sound != "none":
        # Each session heard from its first sounding frame, unless the face's streams may
        # lose their start (Wine drops a stretch at the start of each stream).
        for s in range(count):
            start = next((e for t, _, e, _ in runs if t == s), None)
            report.check(args.start_may_be_lost or start is not None and start <= pr.first_sound(expected[s]),
                         "the start of session %d never reached the server: it is heard from its frame %s, "
                         "its sound begins at frame %d" % (s + 1, start, pr.first_sound(expected[s])))
        if args.freeze_for > 0:  # late refills: the stream goes on after the gap
            report.check(len(runs) >= 2, "the late refill left no gap: the freeze did not work as meant")
        # Silent --max-tail-frames after the last flag dropped: a bound that only catches a
        # stream never stopped (bench/linux_sound/stop_to_silence.py measures the figure).
        # The probe's times on the recorder's clock (Wine's steady clock is the raw one).
        offset = 0 if args.probe_clock == "monotonic" else \
            time.monotonic_ns() - time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW)
        tail = pr.last_sound(rec) + 1 - recorder.frames_by(sessions[-1]["drop_ns"] + offset)
        report.check(tail <= args.max_tail_frames, "the monitor kept sounding for %d frames after the flag "
                     "dropped (at most %d)" % (tail, args.max_tail_frames))
    if report.failures:
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
        play(args)
    except pr.HarnessError as e:
        report.fail(str(e))
    return report.done()


if __name__ == "__main__":
    sys.exit(main())
