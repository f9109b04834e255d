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
        cpu, threads = sb.measure_cpu(proc.pid, 10.0)
        changes, _ = ws.greys_per_second(out, 1.0)
        xs.xdotool("key", "space")
        xs.wait_for(lambda: out.flat_grey() is None, "the stimulation window to go")
    finally:
        if proc.poll() is None:
            proc.kill()
    print("session on Wayland: binaural beats + stroboscope at 7,80 on %dx%d"
          % (out.width, out.height))
    print("%.0f grey changes a second reach the output" % changes)
    sb.print_cpu(cpu, threads)


if __name__ == "__main__":
    main()
