#!/usr/bin/python3
"""The Windows face's sound under Wine, recorded at a private PulseAudio null sink.

    sound_test.py EMULATOR PROBE RENDER play MODE FREQUENCY SECONDS SESSIONS MIN_FRAMES [warm-up]
    sound_test.py EMULATOR PROBE RENDER no-device

Run inside tests/scripts/with-pulse.sh (play) or with-pulse.sh --no-device (no-device).
play: records the monitor while the audio probe plays SESSIONS sessions through winmm,
  then reads the recording as runs (tests/harness/pulse_recording.py) of the frames
  zarvelin-render writes for the same settings, one rendering per session as long as
  the probe says that session queued: every sound heard must be exactly those samples,
  in order, and each session must be heard for at least MIN_FRAMES frames.
  With warm-up, a first session of the same length plays before them, for a machine on
  which Wine takes longer to start its sound system than the worker waits for a device:
  it may be heard or not (what is heard must still be its sound), and the sessions
  after it are checked as above.
no-device: with no sound server the worker of every session ends by itself, having
  queued nothing, and the probe exits normally.
Exits 77 (skipped) where Wine cannot run this build's programs.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import pulse_recording as pr  # noqa: E402

SKIPPED = 77


def fail(message):
    print("sound_test: FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def wine_can_run(emulator):
    """Whether Wine can run this build's programs here; says why not."""
    r = subprocess.run([emulator, "--can-run"], capture_output=True, text=True, timeout=30)
    if r.returncode != 0:
        print("sound_test: " + r.stdout.strip())
    return r.returncode == 0


def run_probe(emulator, probe, *args, timeout=180):
    r = subprocess.run([emulator, probe, *args], capture_output=True, text=True, timeout=timeout)
    print(r.stdout, end="")
    if r.returncode != 0:
        fail("the probe ended with %d: %s" % (r.returncode, r.stderr))
    lines = r.stdout.replace("\r", "").split()
    return {k: int(v) for k, v in (line.split("=", 1) for line in lines)}


def key(session, name):
    return name if session == 1 else "s%d_%s" % (session, name)


def play(emulator, probe, render, mode, frequency, seconds, sessions, min_frames, warm_up=False):
    # Where programs run slowly (the emulated 32-bit machine sets the factor), Wine's stream
    # takes seconds to start: the sessions last that much longer, the checks stay the same.
    seconds = "%g" % (float(seconds) * float(os.environ.get("ZARVELIN_TIME_SCALE", "1")))
    minima = [0] * warm_up + [min_frames] * sessions
    sessions += warm_up
    recorder = pr.Recorder()
    try:
        # The recording must be running before the first sample plays.
        recorder.wait_for_data(10)
        print("sound_test: playing %s s of %s through the probe" % (seconds, mode))
        facts = run_probe(emulator, probe, "--sound", mode, "--frequency", str(frequency),
                          "--seconds", str(seconds), "--sessions", str(sessions))
        time.sleep(1)  # what is still in the server's buffers reaches the monitor
    finally:
        rec = recorder.stop()
    expected = []
    for s in range(1, sessions + 1):
        queued = facts.get(key(s, "queued_frames"), 0)
        if s == 1 and warm_up:
            # It may have given up on a device still starting: whatever it queued.
            queued = max(queued, pr.BLOCK_FRAMES)
        elif facts.get(key(s, "ended_early"), 1) or queued < 3 * pr.BLOCK_FRAMES:
            fail("session %d queued %d frames; a live device takes at least 3 blocks in %s s"
                 % (s, queued, seconds))
        print("sound_test: rendering session %d's %d frames" % (s, queued))
        expected.append(pr.render_frames(render, mode, frequency, queued, emulator=[emulator]))
    ok, lines, _ = pr.check(minima, rec, expected)
    print("\n".join(lines))
    if not ok:
        # Kept beside the test for a look at what was heard (the sessions render again
        # from the renderer with the figures printed above).
        kept = os.path.abspath("sound_test-%s-%d-recording.wav" % (mode, frequency))
        pr.write_wav(kept, rec)
        print("the recording is in " + kept)
        fail("the recording is not the sessions' rendered sound")
    print("OK")


def no_device(emulator, probe):
    facts = run_probe(emulator, probe, "--sound", "binaural", "--frequency", "780",
                      "--seconds", "1.5", "--sessions", "2")
    for s in (1, 2):
        if facts.get(key(s, "queued_frames")) != 0:
            fail("session %d should have ended without queueing a block" % s)


def main():
    # Each line as it comes: a test stopped at its time limit still shows how far it got.
    sys.stdout.reconfigure(line_buffering=True)
    if len(sys.argv) < 5:
        sys.exit("usage: sound_test.py EMULATOR PROBE RENDER play MODE FREQUENCY SECONDS "
                 "SESSIONS MIN_FRAMES | no-device")
    emulator, probe, render, what = sys.argv[1:5]
    if not wine_can_run(emulator):
        return SKIPPED
    if what == "play" and len(sys.argv) in (10, 11) and sys.argv[10:] in ([], ["warm-up"]):
        mode, frequency, seconds, sessions, min_frames = sys.argv[5:10]
        play(emulator, probe, render, mode, int(frequency), seconds, int(sessions), int(min_frames),
             warm_up=len(sys.argv) == 11)
    elif what == "no-device" and len(sys.argv) == 5:
        no_device(emulator, probe)
    else:
        sys.exit("sound_test.py: unknown check or wrong arguments: use play MODE FREQUENCY "
                 "SECONDS SESSIONS MIN_FRAMES, or no-device")
    return 0


if __name__ == "__main__":
    sys.exit(main())
