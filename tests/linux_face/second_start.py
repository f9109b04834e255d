"""A second start of the real program while it runs, on X under a window manager: the
second start ends with 0 and the first comes to the front, its control window restored
when idle, its running session (which a key still ends) when not. Then the first is
killed outright, leaving its lock file and socket behind, and a new start runs all the
same. Run under with-xvfb.sh, with-openbox.sh and with-pulse.sh.
Usage: second_start.py PATH_TO_ZARVELIN"""
import os
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xsession as xs  # noqa: E402

START_BUTTON = (215 + 35, 95 + 15)


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def control_windows():
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Zarvelin$"],
                         capture_output=True, text=True)
    return out.stdout.split()


def start_again(program):
    env = dict(os.environ, QT_QPA_PLATFORM="xcb")
    try:
        return subprocess.run([program], env=env, timeout=60, capture_output=True, text=True)
    except subprocess.TimeoutExpired:
        fail("the second start did not end: it runs beside the first")


def main(program):
    log = os.path.join(tempfile.mkdtemp(prefix="zarvelin-second-"), "program.log")
    d = xs.Display()
    width, height = map(int, xs.xdotool("getdisplaygeometry").split())
    first = xs.start_program(program, log)
    try:
        control = xs.control_window()
        # (case, minimised first, a session running)
        for case, minimised, session in [("idle, minimised", True, False),
                                         ("idle, in front", False, False),
                                         ("a session running", False, True)]:
            if minimised:
                xs.xdotool("windowminimize", str(control))
                xs.wait_for(lambda: not d.viewable(control), case + ": the window to minimise")
            stim = None
            if session:
                xs.click_in(control, *START_BUTTON)
                stim = xs.wait_for(lambda: d.full_screen_windows(width, height), "the session")[0]
            second = start_again(program)
            if second.returncode != 0:
                fail("%s: the second start ended with %d: %s" % (case, second.returncode, second.stdout))
            if len(control_windows()) != 1:
                fail("%s: %d control windows" % (case, len(control_windows())))
            if len(d.full_screen_windows(width, height)) != (1 if session else 0):
                fail(case + ": a second session on the screen")
            front = stim if session else control
            xs.wait_for(lambda: d.viewable(front) and xs.focused_window() == front,
                        case + ": the first instance to come to the front")
            if session:
                xs.xdotool("key", "space")
                xs.wait_for(lambda: not d.viewable(stim), case + ": a key to end the session")
            if first.poll() is not None:
                fail(case + ": the first instance ended")
        # Killed outright: the lock goes with the process, the socket file stays.
        first.send_signal(signal.SIGKILL)
        first.wait()
        xs.wait_for(lambda: not control_windows(), "the killed instance's window to go")
        first = xs.start_program(program, log)
        control = xs.control_window()
        d.close_window(control)
        if first.wait(timeout=30) != 0:
            fail("the start after a killed instance ended with %d" % first.returncode)
    finally:
        output = xs.end_program(first, log)
    print(output, end="")
    print("second starts handed over to the first; a killed instance blocked nothing")


if __name__ == "__main__":
    main(sys.argv[1])
