#!/usr/bin/python3
"""compare_runs.py MIN_FRAMES RECORDING EXPECTED...

Checks a recording of what a sound device played against the frames it was given, all
raw 16-bit stereo PCM; one EXPECTED file per session, in playing order. A stream may lose
a stretch (a start-up drop under load) and the server fills silence around and between
what it receives, so the recording is read as silence plus runs, each run equal frame
for frame to a stretch of one session's frames, the runs in playing order. Passes when
every non-silent recorded frame lies in such a run and each session's runs hold at least
MIN_FRAMES frames together. Prints what it found either way.
"""
import sys

FRAME = 4
WINDOW = 64  # frames that pin down where in the expected sound a run starts
SILENT = b"\0" * FRAME


def common_prefix(a, a0, b, b0):
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


def find_aligned(haystack, needle, start):
    """First frame-aligned offset >= start where needle occurs, or -1."""
    pos = haystack.find(needle, start)
    while pos >= 0 and pos % FRAME:
        pos = haystack.find(needle, pos + 1)
    return pos


def split_runs(rec, sessions):
    """Returns (runs, stray): runs as (session, recorded frame, expected frame, length),
    and the recorded frame index of the first non-silent frame no run explains, or None."""
    runs = []
    i = 0
    s = 0
    next_exp = 0
    while i < len(rec):
        if rec[i:i + FRAME] == SILENT:
            i += FRAME
            continue
        window = rec[i:i + WINDOW * FRAME]
        q = find_aligned(sessions[s], window, next_exp)
        if q < 0 and s + 1 < len(sessions):
            q = find_aligned(sessions[s + 1], window, 0)
            if q >= 0:
                s += 1
        if q < 0:
            return runs, i // FRAME
        n = common_prefix(rec, i, sessions[s], q) // FRAME * FRAME
        runs.append((s, i // FRAME, q // FRAME, n // FRAME))
        i += n
        next_exp = q + n
    return runs, None


def sample_pair(data, frame):
    f = frame * FRAME
    return (int.from_bytes(data[f:f + 2], "little", signed=True),
            int.from_bytes(data[f + 2:f + 4], "little", signed=True))


def check(min_frames, rec, sessions):
    """Returns (passed, report lines) for a recording and the sessions' frames."""
    rec = rec[:len(rec) // FRAME * FRAME]
    runs, stray = split_runs(rec, sessions)
    lines = [f"recorded {len(rec) // FRAME} frames in {len(runs)} runs"]
    for s, r, e, n in runs[:40]:
        lines.append(f"  session {s + 1}: recorded {r}.. = expected {e}..{e + n}")
    ok = True
    if stray is not None:
        lines.append(f"FAIL: recorded frame {stray} {sample_pair(rec, stray)} is in no stretch "
                     f"of the expected sound")
        ok = False
    for s in range(len(sessions)):
        matched = sum(n for t, _, _, n in runs if t == s)
        lines.append(f"session {s + 1}: {matched} of {len(sessions[s]) // FRAME} frames heard")
        if matched < min_frames:
            lines.append(f"FAIL: session {s + 1} matched {matched} frames, expected at least "
                         f"{min_frames}")
            ok = False
    return ok, lines


def main():
    if len(sys.argv) < 4:
        sys.exit("usage: compare_runs.py MIN_FRAMES RECORDING EXPECTED...")
    min_frames = int(sys.argv[1])
    with open(sys.argv[2], "rb") as f:
        rec = f.read()
    sessions = []
    for name in sys.argv[3:]:
        with open(name, "rb") as f:
            sessions.append(f.read())
    ok, lines = check(min_frames, rec, sessions)
    print("\n".join(lines))
    print("OK" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
