"""The processor share of a session of the real program on Wayland: binaural beats and
the stroboscope at 7,80 Hz (the defaults), full screen on weston's output, measured over
10 s, with each thread's share. Run under tests/scripts/with-xvfb.sh,
tests/scripts/with-weston.sh (ZARVELIN_WESTON_SIZE=1920x1080 for a 1080p output) and
tests/scripts/with-pulse.sh.
Usage: wayland_cpu.py PATH_TO_ZARVELIN"""
import os
import sys
import tempfile
import time

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(root, "tests", "linux_face"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import session_bench as sb  # noqa: E402
import wayland_session as ws  # noqa: E402
import xsession as xs  # noqa: E402


def main():
    program = sys.argv[1]
    d = xs.Display()
    out = ws.Output(d)
    out.park_pointer()
    xs.wait_for(lambda: out.window_frame() is None, "weston's bare desktop")
    log = os.path.join(tempfile.mkdtemp(prefix="zarvelin-bench-"), "program.log")
    proc = xs.start_program(program, log, platform="wayland")
    try:
        client, _ = ws.control_window(out)
        out.click(client[0] + ws.START_BUTTON[0], client[1] + ws.START_BUTTON[1])
        xs.wait_for(out.flat_grey, "the stimulation window to cover the output")
        out.park_pointer()
        time.sleep(1.0)  # past the start-up
        c0, t0, th0 = sb.cpu_seconds(proc.pid), time.monotonic(), sb.thread_cpu(proc.pid)
        time.sleep(10.0)
        span = time.monotonic() - t0
        cpu = 100.0 * (sb.cpu_seconds(proc.pid) - c0) / span
        th1 = sb.thread_cpu(proc.pid)
        changes, _ = ws.greys_per_second(out, 1.0)
        xs.xdotool("key", "space")
        xs.wait_for(lambda: out.flat_grey() is None, "the stimulation window to go")
    finally:
        if proc.poll() is None:
            proc.kill()
    print("session on Wayland: binaural beats + stroboscope at 7,80 on %dx%d"
          % (out.width, out.height))
    print("CPU over 10 s: %.1f %% of one core (%.0f grey changes a second reach the output)"
          % (cpu, changes))
    for tid, (name, sec) in sorted(th1.items()):
        share = 100.0 * (sec - th0.get(tid, (name, 0.0))[1]) / span
        if share > 0:
            print("  thread %d (%s): %.2f %%" % (tid, name, share))


if __name__ == "__main__":
    main()
