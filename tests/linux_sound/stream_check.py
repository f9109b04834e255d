#!/usr/bin/python3
"""Plays a session through the audio probe while recording the sound server's monitor,
then checks what arrived there.

    stream_check.py --probe PATH --render PATH --sound MODE --frequency HUNDREDTHS
                    --seconds S [--max-tail-frames N] [--freeze-at S --freeze-for S]

The recording must equal the renderer's output for the same settings bit for bit, read
as runs (tests/harness/pulse_recording.py), because a loaded server may drop a stretch
mid-stream; the first run must begin at the session's first sound, and at least a
second of sound must arrive. After the probe drops its flag and wakes the worker, the
monitor must fall silent within --max-tail-frames frames: a bound that only catches a
stream that is not stopped at all, since on a loaded machine any figure tighter than
that measures the machine (bench/linux_sound/stop_to_silence.py measures the figure).
How much of the session a loaded server filled with silence is reported, not failed.
With --freeze-for the probe is stopped for a while mid-session, so its refills come late
and the device runs dry: the stream must go on after the gap. The measured figures are
printed as one line of key=value pairs.
"""
import argparse
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import pulse_recording as pr  # noqa: E402


def fail(message):
    print("stream_check: FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def probe_facts(stdout):
    return {k: int(v) for k, v in (line.split("=", 1) for line in stdout.split())}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    ap.add_argument("--render", required=True)
    ap.add_argument("--sound", required=True)
    ap.add_argument("--frequency", type=int, required=True)
    ap.add_argument("--seconds", type=float, required=True)
    ap.add_argument("--max-tail-frames", type=int, default=3 * pr.RATE)
    ap.add_argument("--freeze-at", type=float, default=0,
                    help="stop the probe this many seconds in, so its refills come late")
    ap.add_argument("--freeze-for", type=float, default=0)
    args = ap.parse_args()

    recorder = pr.Recorder()
    try:
        recorder.wait_for_data(10)
        proc = subprocess.Popen(
            [args.probe, "--frequency", str(args.frequency), "--sound", args.sound,
             "--seconds", str(args.seconds)],
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
            fail("the probe was still running 30 s after its session should have ended")
        # What was still on its way to the monitor when the probe ended.
        time.sleep(0.5)
    finally:
        rec = recorder.stop()
    if proc.returncode != 0:
        fail("the probe failed with %d: %s" % (proc.returncode, stderr))
    facts = probe_facts(stdout)
    if facts["ended_early"]:
        fail("the audio worker gave up on the device while the session ran: "
             + stdout.replace("\n", " ") + stderr)

    # Whole blocks, and a spare one beyond what was queued.
    queued = facts["queued_frames"]
    exp = pr.render_frames(args.render, args.sound, args.frequency, queued + pr.BLOCK_FRAMES)
    ok, lines, runs = pr.check(0, rec, [exp])
    if not ok:
        fail("the recording is not the rendered sound:\n" + "\n".join(lines))
    played = sum(n for _, _, _, n in runs)

    # How long the session ran, against what it queued and what arrived: a loaded server
    # or machine fills gaps with silence, which is reported here, not failed.
    playing = int((facts["drop_ns"] - facts["open_ns"]) * pr.RATE / 1e9)

    if args.sound == "none":
        if pr.first_sound(rec) is not None:
            fail("a silent session put %d non-zero frames on the monitor" % pr.sounding_frames(rec))
        tail = start = 0
    else:
        if played < pr.RATE:
            fail("only %d frames of a session of about %d arrived; runs: %s"
                 % (played, playing, runs[:10]))
        # Nothing may be lost at the start: the first run begins at the first sounding
        # frame of the session (frames before it are silent and read as silence).
        if not runs or runs[0][2] > pr.first_sound(exp):
            fail("the start of the session never reached the server: the recording begins "
                 "at frame %d of the session, its sound at frame %d"
                 % (runs[0][2] if runs else -1, pr.first_sound(exp)))
        if args.freeze_for > 0 and len(runs) < 2:
            fail("the late refill left no gap: the freeze did not work as meant")
        tail = pr.last_sound(rec) + 1 - recorder.frames_by(facts["drop_ns"])
        start = pr.first_sound(rec) - recorder.frames_by(facts["open_ns"])
        if tail > args.max_tail_frames:
            fail("the monitor kept sounding for %d frames after the flag dropped (at most %d)"
                 % (tail, args.max_tail_frames))

    print("sound=%s frequency=%d runs=%d matched_frames=%d queued_frames=%d session_frames=%d "
          "tail_frames=%d tail_ms=%.1f stop_ms=%.1f start_ms=%.1f"
          % (args.sound, args.frequency, len(runs), played, queued, playing, tail,
             tail * 1000.0 / pr.RATE, (facts["end_ns"] - facts["drop_ns"]) / 1e6,
             start * 1000.0 / pr.RATE))


if __name__ == "__main__":
    main()
