#!/usr/bin/python3
"""stop_to_silence.py [--emulator WINE_RUN] PROBE [SESSIONS]

How long the sound server keeps sounding after a session's flag drops and the worker is
woken, as Stop does: from the drop to the last sounding frame at the null sink's
monitor, counted in frames there. Also the worker's return after the drop, and the
flag's rise to the first sound. Run inside tests/scripts/with-pulse.sh; PROBE is the
built audio_probe. SESSIONS (default 20) sessions play binaural beats at 7,80 Hz, held
for 2 to 4.85 blocks in steps of 0.15 block, so the drop falls at every part of a block
(a block is 12288 frames, 278.6 ms). Prints each session, then p50 and max.
With --emulator (scripts/wine64-run.sh, say) PROBE is the Windows build's audio_probe.exe
and the figures are those of the Windows face's worker through Wine's winmm. Wine's
steady clock is CLOCK_MONOTONIC_RAW, which parts from the monotonic clock the recording
uses as the system slews its time (by 183 ms after a few hours here), so the probe's
times are moved onto the monotonic clock.
A measurement, not a test: the figures depend on the machine's load.
"""
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "harness"))
import pulse_recording as pr  # noqa: E402

BLOCK_S = pr.BLOCK_FRAMES / pr.RATE


def main():
    args = sys.argv[1:]
    emulator = []
    if args[:1] == ["--emulator"] and len(args) >= 2:
        emulator, args = [args[1]], args[2:]
    if len(args) not in (1, 2):
        sys.exit("usage: stop_to_silence.py [--emulator WINE_RUN] PROBE [SESSIONS]")
    probe = args[0]
    sessions = int(args[1]) if len(args) == 2 else 20
    rec = pr.Recorder()
    rows = []
    try:
        rec.wait_for_data()
        for i in range(sessions):
            hold = BLOCK_S * (2 + 0.15 * i)
            r = subprocess.run(emulator + [probe, "--sound", "binaural", "--frequency", "780",
                                "--seconds", "%.4f" % hold], capture_output=True, text=True,
                               timeout=60, check=True)
            shift = time.monotonic_ns() - time.clock_gettime_ns(time.CLOCK_MONOTONIC_RAW) \
                if emulator else 0
            facts = {k: int(v) + shift for k, v in (line.split("=", 1) for line in r.stdout.split())
                     if k in ("open_ns", "drop_ns", "end_ns")}
            time.sleep(0.6)  # the tail, then silence before the next session
            rows.append((hold, facts, time.monotonic_ns()))
    finally:
        data = rec.stop()
    tails, stops, starts = [], [], []
    for hold, facts, after_ns in rows:
        first = rec.frames_by(facts["open_ns"])
        seg = data[first * pr.FRAME:rec.frames_by(after_ns) * pr.FRAME]
        if pr.first_sound(seg) is None:
            print("hold %.3f s: no sound reached the monitor" % hold)
            continue
        tail = first + pr.last_sound(seg) + 1 - rec.frames_by(facts["drop_ns"])
        tails.append(tail * 1000.0 / pr.RATE)
        stops.append((facts["end_ns"] - facts["drop_ns"]) / 1e6)
        starts.append(pr.first_sound(seg) * 1000.0 / pr.RATE)
        print("hold %.3f s (%.2f blocks): drop to silence %6.1f ms, drop to worker return %5.1f ms, "
              "flag to first sound %6.1f ms" % (hold, hold / BLOCK_S, tails[-1], stops[-1], starts[-1]))
    for values, what in ((tails, "flag drop to silence at the server"),
                         (stops, "flag drop to the worker's return"),
                         (starts, "flag up to first sound at the server")):
        print("%-38s p50 %6.1f ms   max %6.1f ms   (%d sessions)"
              % (what, statistics.median(values), max(values), len(values)))


if __name__ == "__main__":
    main()
