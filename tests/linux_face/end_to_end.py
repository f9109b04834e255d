"""The real program used as a person would: Start clicked, the screen watched while the
strobe runs, a key pressed, the desktop checked, system keys that must not end a
session, Alt+F4, a held key, a click in the slider's channel, then the window closed.
On X (under with-xvfb.sh, and with-openbox.sh for a window manager) or on Wayland
(with-weston.sh under with-xvfb.sh: weston's output is an X window, so xdotool still
types and clicks and its pixels are read from the X server). Run under with-pulse.sh.
Usage: end_to_end.py [--window-manager | --wayland | --wayland-closes N] PATH_TO_ZARVELIN"""
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
import xsession as xs  # noqa: E402
import pulse_recording as pr  # noqa: E402

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


def curve_fits(samples, origin, frequency, lag=FRAME + SLACK):
    """True if every sample's grey is one the curve takes at some tick that could have
    been on screen while the sample was read, for a strobe that started at `origin`."""
    for t0, t1, level in samples:
        first = max(0, int((t0 - lag - origin) / TICK))
        last = int((t1 - origin) / TICK) + 1
        if last < 0 or all(xs.strobe_level(k, frequency) != level for k in range(first, last + 1)):
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
        if screen != flat:
            odd = [k // 4 for k in range(0, len(screen), 4) if screen[k:k + 4] != screen[:4]]
            fail("sample %d: the screen is not one flat grey: %d pixels differ, first at %r, %r vs %r"
                 % (i, len(odd), (odd[0] % width, odd[0] // width), screen[odd[0] * 4:odd[0] * 4 + 4],
                    screen[:4]))
        bb, gg, rr = screen[0], screen[1], screen[2]
        check(rr == gg == bb and rr <= 254, "screen grey %r" % ((rr, gg, bb),))
        time.sleep(0.013 + 0.007 * (i % 5))  # spread the samples over the cycle
    return samples


def run_session(d, control, width, height, clicked_at, samples_wanted, frequency=FREQUENCY,
                fewest_greys=3):
    stim = xs.wait_for(lambda: d.full_screen_windows(width, height), "the stimulation window")[0]
    samples = sample_strobe(d, width, height, samples_wanted)
    levels = {s[2] for s in samples}
    check(len(levels) >= fewest_greys, "the grey hardly changes at %d: %r" % (frequency, sorted(levels)))
    # The strobe's tick 0 lies between the click and the first sample.
    origins = [clicked_at + k * 0.00025 for k in range(int((samples[0][0] - clicked_at) / 0.00025) + 1)]
    check(any(curve_fits(samples, o, frequency) for o in origins),
          "the greys do not follow the strobe's curve at %d: %r"
          % (frequency, [(round(t0 - clicked_at, 3), lv) for t0, _, lv in samples]))
    check(d.window_name(stim) == "", "the stimulation window has the title %r" % d.window_name(stim))
    return stim


UP_ARROW = (222 + 5, 5 + 3)
SLIDER_CHANNEL = (242 + 150, 5 + 7)   # right of the thumb for any value below about 3000
DISPLAY_FIELD = (160, 5, 40, 15)


def start_session(d, control, width, height):
    xs.click_in(control, *START_BUTTON)
    return xs.wait_for(lambda: d.full_screen_windows(width, height), "the stimulation window")[0]


def still_running(d, stim, proc, what):
    time.sleep(0.3)
    check(proc.poll() is None, "the program ended after " + what)
    check(d.viewable(stim), what + " ended the session")


def session_ended(d, stim, control, proc, what):
    xs.wait_for(lambda: not d.viewable(stim), "the stimulation window to go after " + what)
    check(proc.poll() is None, what + " ended the program")
    check(d.viewable(control), "the control window is not shown after " + what)
    xs.wait_for(lambda: xs.focused_window() == control,
                "the control window to take the focus after " + what)


def frequency_shown(d, control):
    """The frequency display's text, selected with the mouse as a person would and read
    back from the selection it fills."""
    x, y, w, h = DISPLAY_FIELD
    d.clear_selection()
    xs.xdotool("mousemove", "--window", str(control), str(x + 1), str(y + h // 2), "mousedown", "1",
               "mousemove", "--window", str(control), str(x + w - 1), str(y + h // 2), "mouseup", "1")
    return xs.wait_for(lambda: d.selection_text(timeout=1.0), "the display's text in the selection")


def messages(d, control):
    """The program's viewable windows titled like the control window, but for it: its
    message boxes."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Zarvelin$"],
                           capture_output=True, text=True).stdout.split()
    return [int(w) for w in found if int(w) != control]


def refresh_rate_rule(d, program, control, proc, width, height):
    """The test screen refreshes 60 times a second. 27,81 flickers at 500 / 17 = 29.41 Hz,
    the fastest it shows: the greys follow the curve, with no message. 50,00 it cannot
    show: the user is told before the screen goes black, the screen stays black, and the
    sound is the 50,00 sound bit for bit."""
    # The channel click left the slider with the keyboard; Page Down raises the value,
    # as on the Windows trackbar.
    xs.xdotool("key", "Next")
    shown = frequency_shown(d, control)
    check(shown == "27,81", "Page Down shows %r, not 27,81" % shown)
    clicked_at = time.monotonic()
    xs.click_in(control, *START_BUTTON)
    # A frame every 17 ms is half of its 34 ms cycle: the screen may well alternate
    # between two greys, the fastest flicker it can show.
    stim = run_session(d, control, width, height, clicked_at, 14, frequency=2781, fewest_greys=2)
    check(not messages(d, control), "a message at 27,81, which a 60 Hz screen shows")
    xs.xdotool("key", "space")
    session_ended(d, stim, control, proc, "a key at 27,81")

    xs.click_in(control, *SLIDER_CHANNEL)
    xs.xdotool("key", "End")
    shown = frequency_shown(d, control)
    check(shown == "50,00", "End shows %r, not 50,00" % shown)
    recorder = pr.Recorder()
    try:
        recorder.wait_for_data()
        xs.click_in(control, *START_BUTTON)
        box = xs.wait_for(lambda: messages(d, control), "the message about the screen's rate")[0]
        time.sleep(0.3)
        check(not d.full_screen_windows(width, height), "the screen went black before the message was read")
        xs.xdotool("windowfocus", "--sync", str(box), "key", "Return")
        stim = xs.wait_for(lambda: d.full_screen_windows(width, height), "the stimulation window")[0]
        black = b"\0\0\0"
        until = time.monotonic() + 1.5
        while time.monotonic() < until:
            screen = d.grab(0, 0, width, height)
            check(all(screen[k:k + 3] == black for k in range(0, len(screen), 4 * 997)),
                  "the screen is not black at 50,00 on a 60 Hz screen")
            time.sleep(0.05)
        xs.xdotool("key", "space")
        session_ended(d, stim, control, proc, "a key at 50,00")
        time.sleep(0.5)
    finally:
        recorder.stop()
    rec = recorder.frames()
    played = (pr.last_sound(rec) or 0) - (pr.first_sound(rec) or 0) + 1
    render = os.path.join(os.path.dirname(program), "zarvelin-render")
    expected = pr.render_frames(render, "binaural", 5000, played + pr.BLOCK_FRAMES * 2)
    ok, lines, _ = pr.check(pr.RATE, rec, [expected])
    if not ok:
        fail("the sound at 50,00 is not the renderer's:\n" + "\n".join(lines))


def run_on_x(program, window_manager):
    log = os.path.join(tempfile.mkdtemp(prefix="zarvelin-e2e-"), "program.log")
    d = xs.Display()
    width, height = map(int, xs.xdotool("getdisplaygeometry").split())
    proc = xs.start_program(program, log)
    try:
        control = xs.control_window()
        x, y, w, h = xs.window_geometry(control)
        check((w, h) == (494, 141), "control window client %dx%d" % (w, h))
        if window_manager:
            # The frame goes where the program asks; the client sits inside it.
            check(width // 2 - 250 <= x <= width // 2 - 240 and 50 <= y <= 100,
                  "control window client at %d,%d" % (x, y))
        else:
            check((x, y) == (width // 2 - 250, 50), "control window at %d,%d" % (x, y))
        xs.wait_for(lambda: d.pixel(x + 2, y + 2) != (0, 0, 0), "the control window painted")

        for session in range(2):
            clicked_at = time.monotonic()
            xs.click_in(control, *START_BUTTON)
            stim = run_session(d, control, width, height, clicked_at, 14)
            xs.wait_for(lambda: xs.focused_window() == stim, "the stimulation window to take the focus")
            # Clicks do nothing.
            xs.click_in(stim, width // 3, height // 3)
            time.sleep(0.1)
            check(d.viewable(stim), "a click ended the session")
            xs.xdotool("key", ["space", "Escape"][session])
            session_ended(d, stim, control, proc, "a key")

        # Keys Windows keeps as system keys leave the session running; a plain one ends it.
        stim = start_session(d, control, width, height)
        for key in ["alt", "alt+x", "F10"]:
            xs.xdotool("key", key)
            still_running(d, stim, proc, key)
        xs.xdotool("key", "a")
        session_ended(d, stim, control, proc, "the key a")

        # Alt+F4 ends the session, through the window manager's close where there is
        # one, and leaves the program running.
        stim = start_session(d, control, width, height)
        xs.xdotool("key", "alt+F4")
        session_ended(d, stim, control, proc, "Alt+F4")
        time.sleep(0.3)
        check(proc.poll() is None, "Alt+F4 ended the program")

        # A key held down ends the session once; its auto-repeat starts nothing.
        stim = start_session(d, control, width, height)
        xs.xdotool("keydown", "space")
        time.sleep(1.5)
        xs.xdotool("keyup", "space")
        session_ended(d, stim, control, proc, "a held Space")
        time.sleep(0.5)
        check(not d.full_screen_windows(width, height), "the held key started another session")

        # A key typed right after the click, before the stimulation window can have the
        # keyboard, still ends the session: it is not lost at the control window.
        for key in ["x", "space", "Return"]:
            xs.xdotool("mousemove", "--window", str(control), str(START_BUTTON[0]), str(START_BUTTON[1]),
                       "click", "1", "key", key)
            time.sleep(0.5)
            check(not d.full_screen_windows(width, height),
                  "%s typed right after Start was lost: the session runs on" % key)
            check(proc.poll() is None, "%s typed right after Start ended the program" % key)
            xs.wait_for(lambda: d.viewable(control), "the control window after %s" % key)

        # A session ended by the window manager's close instead of a key.
        stim = start_session(d, control, width, height)
        d.close_window(stim)
        xs.wait_for(lambda: not d.viewable(stim), "the closed stimulation window to go")
        check(proc.poll() is None, "closing the stimulation window ended the program")

        # The arrows take the default to 7,85; one click in the slider's channel right of
        # the thumb moves one page, a fifth of the range: 17,83, as under Windows.
        for _ in range(5):
            xs.click_in(control, *UP_ARROW)
        shown = frequency_shown(d, control)
        check(shown == "7,85", "the arrows show %r, not 7,85" % shown)
        xs.click_in(control, *SLIDER_CHANNEL)
        shown = frequency_shown(d, control)
        check(shown == "17,83", "a click in the channel shows %r, not 17,83" % shown)
        refresh_rate_rule(d, program, control, proc, width, height)

        # Closing the control window ends the program with code 0.
        d.close_window(control)
        try:
            code = proc.wait(timeout=15)
        except Exception:
            fail("the program did not end after its window was closed")
        check(code == 0, "exit code %d" % code)
    finally:
        text = xs.end_program(proc, log)
        if text.strip():
            print("program output:\n" + text)


def main():
    args = sys.argv[1:]
    mode = "x"
    if args and args[0] in ("--window-manager", "--wayland", "--wayland-closes"):
        mode = args.pop(0)
    if mode == "--wayland-closes":
        count = int(args.pop(0))
    if len(args) != 1:
        print(__doc__.strip().splitlines()[-1])
        sys.exit(2)
    program = args[0]
    if mode == "--wayland":
        import wayland_session
        wayland_session.run(program, sessions=3, closes=1)
    elif mode == "--wayland-closes":
        import wayland_session
        wayland_session.run(program, sessions=0, closes=count)
    else:
        run_on_x(program, window_manager=(mode == "--window-manager"))
    print("end to end: OK")


if __name__ == "__main__":
    main()
