"""Figures for sessions of the real program with binaural beats and the stroboscope at
7,80 Hz (its defaults) on the X server in DISPLAY (1920x1080 under with-xvfb.sh):
  - the program's CPU use over 10 s of the first session;
  - Start click to the full-screen window, and to the first sound at the sound server;
  - key press to the stimulation window hidden, and to silence at the sound server.
SESSIONS sessions (default 20) are held for 2 to 4.85 blocks in steps of 0.15 block
(a block is 12288 frames, 278.6 ms), so the key falls at every part of a block.
Run under tests/scripts/with-xvfb.sh and tests/scripts/with-pulse.sh.
Usage: session_bench.py PATH_TO_ZARVELIN [SESSIONS]"""
import os
import statistics
import sys
import tempfile
import time

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(root, "tests", "linux_face"))
sys.path.insert(0, os.path.join(root, "tests", "harness"))
import pulse_recording as pr  # noqa: E402
import xsession as xs  # noqa: E402

START_BUTTON = (215 + 35, 95 + 15)
BLOCK_S = pr.BLOCK_FRAMES / pr.RATE



def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def thread_cpu(pid):
    """Processor seconds so far of each of the program's threads, by thread id, with the
    thread's name."""
    out = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                head, rest = f.read().rsplit(")", 1)
        except (FileNotFoundError, ProcessLookupError):  # the thread ended before or during the read
            continue
        fields = rest.split()
        out[int(tid)] = (head.split("(", 1)[1],
                         (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK"))
    return out


def measure_cpu(pid, seconds):
    """The program's share of one core over the next `seconds`, in per cent, and each
    thread's that used any, busiest first, as (share, name, thread id)."""
    c0, t0, th0 = cpu_seconds(pid), time.monotonic(), thread_cpu(pid)
    time.sleep(seconds)
    span = time.monotonic() - t0
    cpu = 100.0 * (cpu_seconds(pid) - c0) / span
    threads = sorted(((100.0 * (sec - th0.get(tid, (name, 0.0))[1]) / span, name, tid)
                      for tid, (name, sec) in thread_cpu(pid).items()), reverse=True)
    return cpu, [t for t in threads if t[0] > 0]


def print_cpu(cpu, threads):
    print("CPU over 10 s: %.1f %% of one core" % cpu)
    for share, name, tid in threads:
        print("  thread %d (%s): %.2f %%" % (tid, name, share))


def summary(what, values):
    if not values:
        return "%-44s none measured" % what
    return ("%-44s p50 %6.1f ms   max %6.1f ms   (%d sessions)"
            % (what, statistics.median(values), max(values), len(values)))


def main():
    program = sys.argv[1]
    sessions = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    d = xs.Display()
    width, height = map(int, xs.xdotool("getdisplaygeometry").split())
    space = d.keycode("space")
    rec = pr.Recorder()
    rec.wait_for_data()
    log = os.path.join(tempfile.mkdtemp(prefix="zarvelin-bench-"), "program.log")
    proc = xs.start_program(program, log)
    shown_ms, hidden_ms, times = [], [], []
    try:
        control = xs.control_window()
        xs.xdotool("mousemove", "--window", str(control), *map(str, START_BUTTON))
        for s in range(sessions):
            clicked = time.monotonic_ns()
            d.fake_click()
            stim = xs.wait_for(lambda: d.full_screen_windows(width, height),
                               "the stimulation window", step=0.001)[0]
            shown_ms.append((time.monotonic_ns() - clicked) / 1e6)
            if s == 0:
                time.sleep(1.0)  # past the start-up
                cpu, threads = measure_cpu(proc.pid, 10.0)
            else:
                time.sleep(max(0.0, BLOCK_S * (2 + 0.15 * s) - (time.monotonic_ns() - clicked) / 1e9))
            d.fake_key(space, True)
            pressed = time.monotonic_ns()
            while d.viewable(stim):
                pass
            hidden_ms.append((time.monotonic_ns() - pressed) / 1e6)
            d.fake_key(space, False)
            time.sleep(0.8)  # the tail, then silence before the next session
            times.append((clicked, pressed, time.monotonic_ns()))
        d.close_window(control)
        proc.wait(timeout=15)
    finally:
        if proc.poll() is None:
            proc.kill()
        data = rec.stop()

    silence_ms, sound_ms = [], []
    for clicked, pressed, after in times:
        first = rec.frames_by(clicked)
        seg = data[first * pr.FRAME:rec.frames_by(after) * pr.FRAME]
        if pr.first_sound(seg) is None:
            continue
        sound_ms.append(pr.first_sound(seg) * 1000.0 / pr.RATE)
        silence_ms.append((first + pr.last_sound(seg) + 1 - rec.frames_by(pressed)) * 1000.0 / pr.RATE)

    print("session: binaural beats + stroboscope at 7,80 on %dx%d" % (width, height))
    print_cpu(cpu, threads)
    print(summary("Start click to full-screen window:", shown_ms))
    print(summary("Start click to first sound at the server:", sound_ms))
    print(summary("key press to stimulation window hidden:", hidden_ms))
    print(summary("key press to silence at the sound server:", silence_ms))


if __name__ == "__main__":
    main()
