"""The real program used as a person would, on either face: Start clicked, the screen
watched while the strobe runs, keys pressed, the desktop checked, system keys that must
not end a session, Alt+F4, the frequency set with the mouse, the screen's refresh rate
rule, then the window closed and the exit status checked.

The Linux face on X (under with-xvfb.sh, and with-openbox.sh for a window manager) or
on Wayland (with-weston.sh under with-xvfb.sh); the Windows face under Wine on X with
openbox (--wine), worked with the same X input, what X cannot see read by face_probe.exe.
Run under with-pulse.sh.
Usage: end_to_end.py [--window-manager | --wayland | --wayland-closes N] PATH_TO_ZARVELIN
       end_to_end.py --wine WINE-RUN PROBE.exe [--parts P,...] PATH_TO_ZARVELIN.exe
         parts: flicker, frequency, unshown, session, visual (all by default)"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "windows_face"))
import xsession as xs  # noqa: E402
import pulse_recording as pr  # noqa: E402
from report import check, fail, passed, skip  # noqa: E402
from linux_driver import LinuxFace  # noqa: E402

FREQUENCY = 780            # the default the program starts with
TICK = 0.002
FRAME = 1 / 60             # one display frame: the most a painted grey can lag its tick
SLACK = 0.040              # the paint, the server's copy, and a busy machine's delays
REFRESH_HZ = 60            # the test screen's
DISPLAY_FIELD = (160, 5, 40, 15)


class Run:
    """The program started on the test's display, and what a check needs of it."""

    def __init__(self, face):
        self.face = face
        self.d = xs.Display()
        self.width, self.height = map(int, xs.xdotool("getdisplaygeometry").split())
        self.control = face.start()

    def click(self, point):
        xs.click_in(self.control, *point)

    def full_screen(self):
        return self.d.full_screen_windows(self.width, self.height)

    def start_session(self):
        self.click(xs.START_BUTTON)
        return xs.wait_for(self.full_screen, "the stimulation window")[0]

    def running(self):
        return self.face.proc.poll() is None

    def messages(self):
        """The program's message boxes: windows titled like the control window, but for it."""
        return [w for w in xs.titled_zarvelin() if w != self.control]

    def desktop(self, session):
        """Where a session leaves the desktop, and where its end leaves it: the focus, and
        on Windows the control window's enabled state and the cursor."""
        if not hasattr(self.face, "state"):
            return
        want = {"enabled": 0, "cursor": 0, "focus": "stimulation"} if session else \
            {"enabled": 1, "cursor": 1, "focus": "control"}
        try:
            xs.wait_for(lambda: all(self.face.state()[k] == v for k, v in want.items()),
                        "the desktop of a session" if session else "the desktop given back", step=0.05)
        except AssertionError:
            fail("%s: %r, wanted %r" % ("in a session" if session else "after it", self.face.state(), want))

    def expect_running(self, stim):
        """The stimulation window covers the screen, in front, with the keyboard."""
        xs.wait_for(lambda: self.face.in_front(stim, "stimulation"), "the stimulation window to take the focus")
        r, g, b = self.d.pixel(self.width // 2, self.height // 2)
        check(r == g == b, "something lies over the stimulation window: the centre is %r" % ((r, g, b),))
        check(self.d.window_name(stim) == "", "the stimulation window has the title %r"
              % self.d.window_name(stim))
        self.desktop(session=True)

    def still_running(self, stim, what):
        time.sleep(0.3)
        check(self.running(), "the program ended after " + what)
        check(self.d.viewable(stim), what + " ended the session")
        self.desktop(session=True)

    def expect_idle(self, stim, what):
        xs.wait_for(lambda: not self.d.viewable(stim), "the stimulation window to go after " + what)
        # A window manager takes the frame away a moment later; a click lands on it till then.
        xs.wait_for(lambda: not self.d.covered(self.width, self.height), "the screen uncovered after " + what)
        check(self.running(), what + " ended the program")
        check(self.d.viewable(self.control), "the control window is not shown after " + what)
        xs.wait_for(lambda: self.face.in_front(self.control, "control"),
                    "the control window to take the focus after " + what)
        self.desktop(session=False)

    def system_keys(self, stim):
        """Keys Windows keeps as system keys leave the session running."""
        for key in ["alt", "alt+x", "F10"]:
            xs.xdotool("key", key)
            self.still_running(stim, key)

    def greys(self, frequency, count, fewest=3, clicked_at=None):
        """The screen pulses on the strobe's curve at `frequency`. On Linux the greys are
        read from the X server with their times and must fit the curve from a tick 0
        after the click; on Windows, read through the window's own drawing context, every
        tick shows, so the grey most cycles show at their middle must be among them (the
        one the 32-bit build's x87 unit gets wrong)."""
        allowed = xs.curve_levels(frequency)
        if self.face.shows_every_tick:
            levels = self.face.greys(count)
            seen = set(levels)
        else:
            samples = sample_strobe(self.d, self.width, self.height, count)
            seen = {s[2] for s in samples}
        check(seen <= allowed, "greys off the curve at %d: %r" % (frequency, sorted(seen - allowed)))
        check(len(seen) >= fewest, "the grey hardly changes at %d: %r" % (frequency, sorted(seen)))
        if self.face.shows_every_tick and count >= 800:
            # The middle lasts one tick in ten at 50 Hz, one in 64 at 7,80: 800 samples
            # miss it with a chance of about one in a quarter of a million.
            middle = xs.usual_middle_level(frequency)
            check(middle in seen, "the mid-cycle grey %d never showed at %d: seen %r"
                  % (middle, frequency, sorted(seen)))
        if clicked_at is not None and not self.face.shows_every_tick:
            # The strobe's tick 0 lies between the click and the first sample.
            origins = [clicked_at + k * 0.00025
                       for k in range(int((samples[0][0] - clicked_at) / 0.00025) + 1)]
            check(any(curve_fits(samples, o, frequency) for o in origins),
                  "the greys do not follow the strobe's curve at %d: %r"
                  % (frequency, [(round(t0 - clicked_at, 3), lv) for t0, _, lv in samples]))

    def black(self, count):
        if self.face.shows_every_tick:
            levels = set(self.face.greys(count))
            check(levels == {0}, "the screen is not black: %r" % sorted(levels))
            return
        until = time.monotonic() + 1.5
        while time.monotonic() < until:
            screen = self.d.grab(0, 0, self.width, self.height)
            check(all(screen[k:k + 3] == b"\0\0\0" for k in range(0, len(screen), 4 * 997)),
                  "the screen is not black")
            time.sleep(0.05)

    def steps(self, table):
        """The frequency controls worked by the mouse: each step clicks the arrows' upper
        (+1) or lower (-1) half or the slider's channel near its right (+1) or left (-1)
        end until the display shows the text, or `repeats` clicks were made; then the
        display, the slider and the arrows must agree."""
        for what, target, where, repeats, shows in table:
            point = (xs.ARROW if target == "arrows" else xs.SLIDER_END)[where]
            for _ in range(repeats):
                before = self.face.frequency()["display"]
                self.click(point)
                # A click that moves nothing changes no text: wait for a change or a while.
                try:
                    xs.wait_for(lambda: self.face.frequency()["display"] != before, "", timeout=1.5)
                except AssertionError:
                    pass
                if self.face.frequency()["display"] == shows:
                    break
            now = self.face.frequency()
            position = int(shows.replace(",", ""))
            check((now["display"], now["slider"][2], now["arrows"][2]) == (shows, position, position),
                  "%s: display %r, slider at %d, arrows at %d; wanted %s"
                  % (what, now["display"], now["slider"][2], now["arrows"][2], shows))

    def shown_flicker(self, frequency, count, fewest):
        """A flicker the screen shows: the greys follow the curve and no message comes."""
        clicked_at = time.monotonic()
        stim = self.start_session()
        self.expect_running(stim)
        self.greys(frequency, count, fewest, clicked_at)
        check(not self.messages(), "a message at %s, which a %d Hz screen shows"
              % (xs.frequency_text(frequency), REFRESH_HZ))
        xs.xdotool("key", "space")
        self.expect_idle(stim, "a key at " + xs.frequency_text(frequency))

    def unshown_flicker(self, frequency, black_samples):
        """A flicker the screen cannot show: the user is told before the screen goes
        black, with the screen's rate, the setting and the fastest the screen shows; the
        session runs black."""
        self.click(xs.START_BUTTON)
        box = xs.wait_for(self.messages, "the message about the screen's rate")[0]
        time.sleep(0.3)
        check(not self.full_screen(), "the screen went black before the message was read")
        if hasattr(self.face, "message"):
            text = self.face.message()
            for part in ["%d Гц" % REFRESH_HZ, xs.frequency_text(frequency) + " Гц",
                         xs.frequency_text(xs.highest_shown_frequency(REFRESH_HZ)) + " Гц"]:
                check(text is not None and part in text, "the message lacks %r: %r" % (part, text))
        xs.xdotool("windowfocus", "--sync", str(box), "key", "Return")
        stim = xs.wait_for(self.full_screen, "the stimulation window")[0]
        self.expect_running(stim)
        self.black(black_samples)
        xs.xdotool("key", "space")
        self.expect_idle(stim, "a key at " + xs.frequency_text(frequency))

    def close(self):
        """Closing the control window ends the program with code 0."""
        self.d.close_window(self.control)
        try:
            code = self.face.proc.wait(timeout=15)
        except Exception:
            fail("the program did not end within 15 s of its window closing")
        check(code == 0, "exit code %d after closing the control window" % code)


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
        time.sleep(0.013 + 0.007 * (i % 5))  # spread the samples over the cycle
    return samples


# ---------------------------------------------------------------------------------------
# The Linux face

class SelectedFrequency:
    """The Linux face's frequency display read as a person would: its text selected with
    the mouse and read back from the selection it fills."""

    def __init__(self, run):
        self.run = run

    def __call__(self):
        d, control = self.run.d, self.run.control
        x, y, w, h = DISPLAY_FIELD
        d.clear_selection()
        xs.xdotool("mousemove", "--window", str(control), str(x + 1), str(y + h // 2), "mousedown", "1",
                   "mousemove", "--window", str(control), str(x + w - 1), str(y + h // 2), "mouseup", "1")
        return xs.wait_for(lambda: d.selection_text(timeout=1.0), "the display's text in the selection")


def refresh_rate_rule_linux(run, program, shown):
    """27,81 flickers at 500 / 17 = 29.41 Hz, the fastest a 60 Hz screen shows: a frame
    every 17 ms is half of its 34 ms cycle, so the screen may well alternate between two
    greys. 50,00 it cannot show; its sound is the 50,00 sound bit for bit."""
    # The channel click left the slider with the keyboard; Page Down raises the value,
    # as on the Windows trackbar.
    xs.xdotool("key", "Next")
    check(shown() == "27,81", "Page Down shows %r, not 27,81" % shown())
    run.shown_flicker(2781, 14, fewest=2)
    run.click(xs.SLIDER_END[+1])
    xs.xdotool("key", "End")
    check(shown() == "50,00", "End shows %r, not 50,00" % shown())
    recorder = pr.Recorder()
    try:
        recorder.wait_for_data()
        run.unshown_flicker(5000, 0)
        time.sleep(0.5)
    finally:
        recorder.stop()
    rec = recorder.frames()
    played = (pr.last_sound(rec) or 0) - (pr.first_sound(rec) or 0) + 1
    render = os.path.join(os.path.dirname(program), "zarvelin-render")
    expected = pr.render_frames(render, "binaural", 5000, played + pr.BLOCK_FRAMES * 2)
    ok, lines, _ = pr.check(pr.RATE, rec, [expected])
    check(ok, "the sound at 50,00 is not the renderer's:\n" + "\n".join(lines))


def run_linux(program, window_manager):
    face = LinuxFace(program)
    run = Run(face)
    d, control, width, height = run.d, run.control, run.width, run.height
    try:
        x, y, w, h = xs.window_geometry(control)
        check((w, h) == (494, 141), "control window client %dx%d" % (w, h))
        if window_manager:
            # The frame goes where the program asks; the client sits inside it.
            check(width // 2 - 250 <= x <= width // 2 - 240 and 50 <= y <= 100,
                  "control window client at %d,%d" % (x, y))
        else:
            check((x, y) == (width // 2 - 250, 50), "control window at %d,%d" % (x, y))
        xs.wait_for(lambda: d.pixel(x + 2, y + 2) != (0, 0, 0), "the control window painted")

        for key in ["space", "Escape"]:
            clicked_at = time.monotonic()
            stim = run.start_session()
            run.greys(FREQUENCY, 14, clicked_at=clicked_at)
            run.expect_running(stim)
            # Clicks do nothing.
            xs.click_in(stim, width // 3, height // 3)
            time.sleep(0.1)
            check(d.viewable(stim), "a click ended the session")
            xs.xdotool("key", key)
            run.expect_idle(stim, key)

        stim = run.start_session()
        run.system_keys(stim)
        xs.xdotool("key", "a")
        run.expect_idle(stim, "the key a")

        # Alt+F4 ends the session, through the window manager's close where there is
        # one, and leaves the program running.
        stim = run.start_session()
        xs.xdotool("key", "alt+F4")
        run.expect_idle(stim, "Alt+F4")
        time.sleep(0.3)
        check(run.running(), "Alt+F4 ended the program")

        # A key held down ends the session once; its auto-repeat starts nothing.
        stim = run.start_session()
        xs.xdotool("keydown", "space")
        time.sleep(1.5)
        xs.xdotool("keyup", "space")
        run.expect_idle(stim, "a held Space")
        time.sleep(0.5)
        check(not run.full_screen(), "the held key started another session")

        # A key typed right after the click, before the stimulation window can have the
        # keyboard, still ends the session: it is not lost at the control window.
        for key in ["x", "space", "Return"]:
            xs.xdotool("mousemove", "--window", str(control), *map(str, xs.START_BUTTON),
                       "click", "1", "key", key)
            time.sleep(0.5)
            check(not run.full_screen(), "%s typed right after Start was lost: the session runs on" % key)
            check(run.running(), "%s typed right after Start ended the program" % key)
            xs.wait_for(lambda: d.viewable(control), "the control window after %s" % key)

        # A session ended by the window manager's close instead of a key.
        stim = run.start_session()
        d.close_window(stim)
        xs.wait_for(lambda: not d.viewable(stim), "the closed stimulation window to go")
        check(run.running(), "closing the stimulation window ended the program")

        # The arrows take the default to 7,85; one click in the slider's channel right of
        # the thumb moves one page, a fifth of the range: 17,83, as under Windows.
        shown = SelectedFrequency(run)
        for _ in range(5):
            run.click(xs.ARROW[+1])
        check(shown() == "7,85", "the arrows show %r, not 7,85" % shown())
        run.click((242 + 150, 5 + 7))
        check(shown() == "17,83", "a click in the channel shows %r, not 17,83" % shown())
        refresh_rate_rule_linux(run, program, shown)
        run.close()
    finally:
        text = face.output()
        if text.strip():
            print("program output:\n" + text)


# ---------------------------------------------------------------------------------------
# The Windows face

# From the default 7,80, two pages right and two arrows up: 27,78, 17 ticks a cycle, a
# flicker of 29,41 Hz, the fastest a 60 Hz screen shows; and back.
TO_SHOWN = [("a page right", "slider", +1, 1, "17,78"), ("another page right", "slider", +1, 1, "27,76"),
            ("up arrow", "arrows", +1, 1, "27,77"), ("up arrow again", "arrows", +1, 1, "27,78")]
BACK_FROM_SHOWN = [("down arrow", "arrows", -1, 1, "27,77"), ("down arrow again", "arrows", -1, 1, "27,76"),
                   ("a page left", "slider", -1, 1, "17,78"), ("another page left", "slider", -1, 1, "7,80")]
# Both ends and both directions of both controls; a click in the channel beside the
# thumb moves one page, a fifth of the range.
FREQUENCY_STEPS = [
    ("up arrow from the default", "arrows", +1, 1, "7,81"),
    ("down arrow back", "arrows", -1, 1, "7,80"),
    ("slider channel at its left end", "slider", -1, 3, "0,10"),
    ("up arrow at the bottom", "arrows", +1, 1, "0,11"),
    ("down arrow to the bottom", "arrows", -1, 1, "0,10"),
    ("down arrow below the bottom", "arrows", -1, 1, "0,10"),
    ("slider channel at its right end", "slider", +1, 12, "50,00"),
    ("down arrow from the top", "arrows", -1, 1, "49,99"),
    ("up arrow to the top", "arrows", +1, 2, "50,00"),
    ("slider channel left of the thumb: one page", "slider", -1, 1, "40,02"),
    ("slider channel right of the thumb: one page", "slider", +1, 1, "50,00"),
]
TO_TOP = [("slider channel at its right end", "slider", +1, 12, "50,00")]
# Three pages down from the top, to 20,06, for the sessions that follow.
DOWN_FROM_TOP = [("a page left", "slider", -1, 1, "40,02"), ("another page left", "slider", -1, 1, "30,04"),
                 ("a third page left", "slider", -1, 1, "20,06")]


class Workers:
    """A session's worker threads end by themselves once it stops. Threads the system
    keeps for the process (the multimedia timer's, the sound driver's) stay, so the
    workers are known to have ended when no thread is left that was not there before
    the session started or after an earlier one had ended. The sound system's own
    devices thread, started inside winmm, ends only when a later call finds no device
    open: it is none of the program's workers."""

    def __init__(self, face):
        self.face = face
        self.quiet = set(face.threads())

    def settle(self):
        """Waits until the thread count holds still, then takes every thread as quiet."""
        last = [len(self.face.threads())]

        def still():
            time.sleep(0.7)
            now = len(self.face.threads())
            same, last[0] = now == last[0], now
            return same
        xs.wait_for(still, "the program's threads to settle", timeout=30)
        self.quiet |= set(self.face.threads())

    def left(self):
        return {i: start for i, start in self.face.threads().items()
                if i not in self.quiet and not start.lower().startswith("winmm.dll+")}


def choose_visual(run, key, index):
    """The visual list dropped down by a click, moved by a key, closed by Return."""
    run.click(xs.VISUAL_LIST)
    time.sleep(0.3)
    xs.xdotool("key", key, "Return")
    try:
        xs.wait_for(lambda: run.face.lists()[1]["selected"] == index, "")
    except AssertionError:
        fail("the visual list is at %d after %s, not %d" % (run.face.lists()[1]["selected"], key, index))


def run_windows(face, parts):
    run = Run(face)
    try:
        if "flicker" in parts:
            run.steps(TO_SHOWN)
            run.shown_flicker(2778, 400, fewest=3)
            run.steps(BACK_FROM_SHOWN)
        if "frequency" in parts:
            run.steps(FREQUENCY_STEPS)
        if "unshown" in parts:
            run.steps(TO_TOP)
            run.unshown_flicker(5000, 200)
            run.steps(DOWN_FROM_TOP)
        if "session" in parts:
            frequency = run.face.frequency()["arrows"][2]
            workers = Workers(face)
            stim = run.start_session()
            run.expect_running(stim)
            run.greys(frequency, 800)
            run.system_keys(stim)
            xs.xdotool("key", "space")
            run.expect_idle(stim, "a key")
            workers.settle()
        if "visual" in parts:
            workers = Workers(face)
            # Without the stroboscope the screen stays black; Alt+F4 (the window
            # manager's close) ends the session and leaves the window for the next.
            choose_visual(run, "Up", 0)
            stim = run.start_session()
            run.expect_running(stim)
            run.black(100)
            xs.xdotool("key", "alt+F4")
            run.expect_idle(stim, "Alt+F4")
            workers.settle()
            choose_visual(run, "Down", 1)
            # Start again: a fresh session pulses, and its workers end after the key.
            stim = run.start_session()
            run.expect_running(stim)
            run.greys(run.face.frequency()["arrows"][2], 200)
            xs.xdotool("key", "a")
            run.expect_idle(stim, "the key a")
            try:
                xs.wait_for(lambda: not workers.left(), "", timeout=30, step=0.2)
            except AssertionError:
                fail("a worker never ended: %r" % workers.left())
        run.close()
    finally:
        face.output()


def main():
    args = sys.argv[1:]
    mode = "x"
    if args and args[0] in ("--window-manager", "--wayland", "--wayland-closes", "--wine"):
        mode = args.pop(0)
    usage = __doc__.strip().split("Usage: ")[1]
    try:
        if mode == "--wine":
            wine_run, probe = args.pop(0), args.pop(0)
            parts = "flicker,frequency,unshown,session,visual"
            if args[0] == "--parts":
                args.pop(0)
                parts = args.pop(0)
            count = 0
        elif mode == "--wayland-closes":
            count = int(args.pop(0))
    except (IndexError, ValueError):
        print("usage: " + usage)
        sys.exit(2)
    if len(args) != 1:
        print("usage: " + usage)
        sys.exit(2)
    program = args[0]
    if mode == "--wine":
        from wine_driver import WineFace
        if not WineFace.can_run(wine_run):
            skip("Wine cannot run this build here")
        run_windows(WineFace(wine_run, program, probe), parts.split(","))
    elif mode == "--wayland":
        import wayland_session
        wayland_session.run(program, sessions=3, closes=1)
    elif mode == "--wayland-closes":
        import wayland_session
        wayland_session.run(program, sessions=0, closes=count)
    else:
        run_linux(program, window_manager=(mode == "--window-manager"))
    passed("end to end")


if __name__ == "__main__":
    main()
