"""The real program on a real X server, used as a person would: Start clicked, the
screen watched while the strobe runs, a key pressed, the desktop checked, a second
session, then the window closed. Run under with-xvfb.sh and with-pulse.sh.
Usage: end_to_end.py PATH_TO_ZARVELIN"""
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xsession as xs  # noqa: E402

FREQUENCY = 780            # the default the program starts with
TICK = 0.002
FRAME = 1 / 60             # one display frame: the most a painted grey can lag its tick
SLACK = 0.040              # the paint, the server's copy, and a busy machine's delays
START_BUTTON = (215 + 35, 95 + 15)


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def curve_fits(samples, origin):
    """True if every sample's grey is one the curve takes at some tick that could have
    been on screen while the sample was read, for a strobe that started at `origin`."""
    for t0, t1, level in samples:
        first = max(0, int((t0 - FRAME - SLACK - origin) / TICK))
        last = int((t1 - origin) / TICK) + 1
        if last < 0 or all(xs.strobe_level(k, FREQUENCY) != level for k in range(first, last + 1)):
            return False
    return True


def sample_strobe(d, width, height, count):
    """Greys read at the centre with tight timestamps, each followed by a whole-screen
    read that must be one flat grey."""
    samples = []
    for i in range(count):
        t0 = time.monotonic()
        r, g, b = d.pixel(width // 2, height // 2)
        t1 = time.monotonic()
        check(r == g == b, "the centre is not grey: %r" % ((r, g, b),))
        check(0 <= r <= 254, "grey %d above 254" % r)
        samples.append((t0, t1, r))
        screen = d.grab(0, 0, width, height)
        flat = screen[:4] * (width * height)
        check(screen == flat, "sample %d: the screen is not one flat grey" % i)
        bb, gg, rr = screen[0], screen[1], screen[2]
        check(rr == gg == bb and rr <= 254, "screen grey %r" % ((rr, gg, bb),))
        time.sleep(0.013 + 0.007 * (i % 5))  # spread the samples over the cycle
    return samples


def run_session(d, control, width, height, clicked_at, samples_wanted):
    stim = xs.wait_for(lambda: d.full_screen_windows(width, height), "the stimulation window")[0]
    samples = sample_strobe(d, width, height, samples_wanted)
    levels = {s[2] for s in samples}
    check(len(levels) >= 3, "the grey hardly changes: %r" % sorted(levels))
    # The strobe's tick 0 lies between the click and the first sample.
    origins = [clicked_at + k * 0.00025 for k in range(int((samples[0][0] - clicked_at) / 0.00025) + 1)]
    check(any(curve_fits(samples, o) for o in origins),
          "the greys do not follow the strobe's curve at 7,80: %r"
          % [(round(t0 - clicked_at, 3), lv) for t0, _, lv in samples])
    return stim


def main():
    program = sys.argv[1]
    log = os.path.join(tempfile.mkdtemp(prefix="zarvelin-e2e-"), "program.log")
    d = xs.Display()
    width, height = map(int, xs.xdotool("getdisplaygeometry").split())
    proc = xs.start_program(program, log)
    try:
        control = xs.control_window()
        x, y, w, h = xs.window_geometry(control)
        check((w, h) == (494, 141), "control window client %dx%d" % (w, h))
        check((x, y) == (width // 2 - 250, 50), "control window at %d,%d" % (x, y))
        xs.wait_for(lambda: d.pixel(x + 2, y + 2) != (0, 0, 0), "the control window painted")

        for session in range(2):
            clicked_at = time.monotonic()
            xs.click_in(control, *START_BUTTON)
            stim = run_session(d, control, width, height, clicked_at, 14)
            check(int(xs.xdotool("getwindowfocus")) == stim, "the stimulation window has no focus")
            # Clicks do nothing.
            xs.click_in(stim, width // 3, height // 3)
            time.sleep(0.1)
            check(d.viewable(stim), "a click ended the session")
            xs.xdotool("key", ["space", "Escape"][session])
            xs.wait_for(lambda: not d.viewable(stim), "the stimulation window to go")
            check(d.viewable(control), "the control window is not shown")
            xs.wait_for(lambda: int(xs.xdotool("getwindowfocus")) == control,
                        "the control window to take the focus")
            check(proc.poll() is None, "the program ended with the session")

        # A third session ended by the window manager's close instead of a key.
        xs.click_in(control, *START_BUTTON)
        stim = xs.wait_for(lambda: d.full_screen_windows(width, height), "the stimulation window")[0]
        d.close_window(stim)
        xs.wait_for(lambda: not d.viewable(stim), "the closed stimulation window to go")
        check(proc.poll() is None, "closing the stimulation window ended the program")

        # Closing the control window ends the program with code 0.
        d.close_window(control)
        try:
            code = proc.wait(timeout=15)
        except Exception:
            fail("the program did not end after its window was closed")
        check(code == 0, "exit code %d" % code)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        with open(log) as f:
            text = f.read()
        if text.strip():
            print("program output:\n" + text)
    print("end to end: OK")


if __name__ == "__main__":
    main()
