"""The real program used as a person would, on either face: sessions started, the strobe
watched, keys (system keys too) and Alt+F4, the frequency set with the mouse, the refresh
rate rule, then the window closed and the exit status checked. The Linux face on X
(with-xvfb.sh; with-openbox.sh for a window manager) or Wayland (with-weston.sh); the
Windows face under Wine (--wine) with the same X input, what X cannot see read by
face_probe.exe. Run under with-pulse.sh.
Usage: end_to_end.py [--window-manager | --wayland | --wayland-closes N] PATH_TO_ZARVELIN
       end_to_end.py --wine WINE-RUN PROBE.exe [--parts P,...] PATH_TO_ZARVELIN.exe
         parts: flicker, frequency, unshown, session, visual (all by default)"""
import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "harness"), os.path.join(HERE, "..", "windows_face")]
import xsession as xs  # noqa: E402
import pulse_recording as pr  # noqa: E402
from report import check, fail, passed  # noqa: E402
import linux_driver  # noqa: E402

FREQUENCY = 780            # the default the program starts with
REFRESH_HZ = 60            # the test screen's
# The fastest setting a 60 Hz screen shows: 17 ticks a cycle, a 29,41 Hz flicker, half the
# refresh rate; 29,42 has 16 (31,25 Hz).
HIGHEST_SHOWN = "29,41"
LAG = 1 / 60 + 0.040       # one display frame, the paint, the server's copy, a busy machine


class Run:
    """The program started on the test's display, and what a check needs of it."""

    def __init__(self, face):
        self.face, self.d = face, xs.Display()
        self.width, self.height = map(int, xs.xdotool("getdisplaygeometry").split())
        self.screen = xs.Screen(self.d, 0, 0, self.width, self.height)
        self.control = face.start()

    def click(self, point, *then):
        """A click at a point of the control window once the screen there is the window's
        (a person clicks what they see), and `then` at once after it."""
        xs.wait_for(lambda: self.d.shows(self.control, *point), "the control window to show its point %r" % (point,))
        xs.click_in(self.control, *point, *then)

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
        """On Windows: the control window disabled, the cursor hidden, the focus on the
        stimulation window during a session; all given back after it."""
        if hasattr(self.face, "state"):
            want = {"enabled": 0, "cursor": 0, "focus": "stimulation"} if session else \
                {"enabled": 1, "cursor": 1, "focus": "control"}
            xs.wait_for(lambda: all(self.face.state()[k] == v for k, v in want.items()),
                        lambda: "%r %s, wanted %r" % (self.face.state(), "in a session" if session
                                                      else "after it", want), step=0.05)

    def expect_running(self, stim):
        """The stimulation window covers the screen, in front, with the keyboard, untitled."""
        xs.wait_for(lambda: self.face.in_front(stim, "stimulation"), "the stimulation window to take the focus")
        r, g, b = self.d.pixel(self.width // 2, self.height // 2)
        check(r == g == b, "something lies over the stimulation window: the centre is %r" % ((r, g, b),))
        name = self.d.window_name(stim)
        check(name == "", "the stimulation window has the title %r" % name)
        self.desktop(session=True)

    def expect_idle(self, stim, what):
        """The session ended by `what`, the program running, the control window in front."""
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
            time.sleep(0.3)
            check(self.running(), "the program ended after " + key)
            check(self.d.viewable(stim), key + " ended the session")
            self.desktop(session=True)

    def greys(self, frequency, count, fewest=3, clicked_at=None):
        """The screen pulses on the strobe's curve: on Linux the greys read with their
        times fit it from a tick 0 after the click; on Windows, where every tick reaches
        the window's drawing context, the usual mid-cycle grey (the x87 unit's trap) shows."""
        if self.face.shows_every_tick:
            seen = set(self.face.greys(count))
        else:
            samples = xs.sample_greys(self.screen, count)
            seen = {s[2] for s in samples}
            check(xs.curve_fits(samples, clicked_at, frequency, LAG), "the greys do not follow the curve at %d: %r"
                  % (frequency, [(round(t0 - clicked_at, 3), lv) for t0, _, lv in samples]))
        allowed = xs.curve_levels(frequency)
        check(seen <= allowed, "greys off the curve at %d: %r" % (frequency, sorted(seen - allowed)))
        check(len(seen) >= fewest, "the grey hardly changes at %d: %r" % (frequency, sorted(seen)))
        if self.face.shows_every_tick and count >= 800:
            # The middle lasts one tick in ten at 50 Hz, one in 64 at 7,80: 800 samples
            # miss it with a chance of about one in a quarter of a million.
            middle = xs.usual_middle_level(frequency)
            check(middle in seen, "the mid-cycle grey %d never showed at %d: seen %r"
                  % (middle, frequency, sorted(seen)))

    def black(self, count):
        """The stimulation window stays black: `count` greys on Windows, 1.5 s on Linux."""
        if self.face.shows_every_tick:
            levels = set(self.face.greys(count))
        else:
            levels, until = set(), time.monotonic() + 1.5
            while time.monotonic() < until:
                levels.add(self.screen.flat_grey())
                time.sleep(0.05)
        check(levels == {0}, "the screen is not black: %r" % levels)

    def steps(self, table):
        """Each row clicks the arrows' upper (+1) or lower (-1) half or the slider's channel
        near its right (+1) or left (-1) end up to `repeats` times, till the display shows
        the text; then the display, the slider and the arrows must agree."""
        for target, where, repeats, shows in table:
            for _ in range(repeats):
                before = self.face.frequency()["display"]
                self.click((xs.ARROW if target == "arrows" else xs.SLIDER_END)[where])
                # A click that moves nothing changes no text: wait for a change or a while.
                xs.wait_for(lambda: self.face.frequency()["display"] != before, timeout=1.5)
                if self.face.frequency()["display"] == shows:
                    break
            now = self.face.frequency()
            position = int(shows.replace(",", ""))
            check((now["display"], now["slider"][2], now["arrows"][2]) == (shows, position, position),
                  "%s %+d: display %r, slider at %d, arrows at %d; wanted %s"
                  % (target, where, now["display"], now["slider"][2], now["arrows"][2], shows))

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
        """A flicker the screen cannot show: a message first (on Windows read: the screen's
        rate, the setting, the fastest shown), then a black session."""
        self.click(xs.START_BUTTON)
        box = xs.wait_for(self.messages, "the message about the screen's rate")[0]
        time.sleep(0.3)
        check(not self.full_screen(), "the screen went black before the message was read")
        if hasattr(self.face, "message"):
            text = self.face.message() or ""
            for part in ["%d Гц" % REFRESH_HZ, xs.frequency_text(frequency) + " Гц", HIGHEST_SHOWN + " Гц"]:
                check(part in text, "the message lacks %r: %r" % (part, text))
        xs.xdotool("windowfocus", "--sync", str(box), "key", "Return")
        stim = xs.wait_for(self.full_screen, "the stimulation window")[0]
        self.expect_running(stim)
        self.black(black_samples)
        xs.xdotool("key", "space")
        self.expect_idle(stim, "a key at " + xs.frequency_text(frequency))

    def close(self):
        """Closing the control window ends the program with code 0."""
        self.d.close_window(self.control)
        # Only a hang guard: Wine on the emulated 32-bit machine ends programs slowly.
        xs.wait_for(lambda: not self.running(), "the program to end after its window's close", timeout=60)
        code = self.face.proc.returncode
        check(code == 0, "exit code %d after closing the control window" % code)


# ---------------------------------------------------------------------------------------
# The Linux face

def check_display(run, want, after):
    """The frequency display's text, selected with the mouse and read from the selection."""
    x, y, w, h = 160, 5, 40, 15
    c = str(run.control)
    run.d.clear_selection()
    xs.xdotool("mousemove", "--window", c, str(x + 1), str(y + h // 2), "mousedown", "1",
               "mousemove", "--window", c, str(x + w - 1), str(y + h // 2), "mouseup", "1")
    got = xs.wait_for(lambda: run.d.selection_text(timeout=1.0), "the display's text in the selection")
    check(got == want, "%s shows %r, not %s" % (after, got, want))


def refresh_rate_rule_linux(run, program):
    """27,81 (17 ticks, 29,41 Hz) a 60 Hz screen shows, though a 17 ms frame is half its
    34 ms cycle and may alternate two greys; 50,00 it cannot, and sounds it bit for bit.
    The slider has the keyboard: Page Down raises the value, as on the Windows trackbar."""
    xs.xdotool("key", "Next")
    check_display(run, "27,81", "Page Down")
    run.shown_flicker(2781, 14, fewest=2)
    run.click(xs.SLIDER_END[+1])
    xs.xdotool("key", "End")
    check_display(run, "50,00", "End")
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


def run_linux(run, program, window_manager):
    d, control, width, height = run.d, run.control, run.width, run.height
    x, y, w, h = xs.window_geometry(control)
    check((w, h) == (494, 141), "control window client %dx%d" % (w, h))
    # Under a window manager the frame goes where the program asks; the client sits inside it.
    check(width // 2 - 250 <= x <= width // 2 - 240 and 50 <= y <= 100 if window_manager
          else (x, y) == (width // 2 - 250, 50), "control window at %d,%d" % (x, y))
    xs.wait_for(lambda: d.pixel(x + 2, y + 2) != (0, 0, 0), "the control window painted")

    # Each of these ends the session and only it, after clicks and system keys did not:
    # keys, Alt+F4 (the window manager's close where there is one), a key held down (its
    # auto-repeat starts nothing), the window manager's close sent to the window.
    for what, action in [("space", ["key", "space"]), ("Escape", ["key", "Escape"]), ("the key a", ["key", "a"]),
                         ("Alt+F4", ["key", "alt+F4"]),
                         ("a held Space", ["keydown", "space", "sleep", "1.5", "keyup", "space"]),
                         ("the window manager's close", None)]:
        clicked_at = time.monotonic()
        stim = run.start_session()
        run.greys(FREQUENCY, 14, clicked_at=clicked_at)
        run.expect_running(stim)
        xs.click_in(stim, width // 3, height // 3)
        time.sleep(0.1)
        check(d.viewable(stim), "a click ended the session")
        run.system_keys(stim)
        xs.xdotool(*action) if action else d.close_window(stim)
        run.expect_idle(stim, what)
        time.sleep(0.5)
        check(run.running() and not run.full_screen(), what + " ended the program or started a session")

    # A key typed right after the click, before the stimulation window can have the
    # keyboard, still ends the session: it is not lost at the control window.
    for key in ["x", "space", "Return"]:
        run.click(xs.START_BUTTON, "key", key)
        time.sleep(0.5)
        check(xs.wait_for(lambda: not run.full_screen(), timeout=5),
              "%s typed right after Start was lost: the session runs on" % key)
        check(run.running(), "%s typed right after Start ended the program" % key)
        xs.wait_for(lambda: d.viewable(control), "the control window after %s" % key)

    # The arrows take the default to 7,85; one click in the slider's channel right of the
    # thumb moves one page, a fifth of the range: 17,83, as under Windows.
    for _ in range(5):
        run.click(xs.ARROW[+1])
    check_display(run, "7,85", "five up arrows")
    run.click((242 + 150, 5 + 7))
    check_display(run, "17,83", "a click in the channel")
    refresh_rate_rule_linux(run, program)


# ---------------------------------------------------------------------------------------
# The Windows face: (control, +1 up/right or -1 down/left, most clicks, the display after)

# From the default 7,80, two pages right and two arrows up: 27,78, 17 ticks a cycle, a
# flicker of 29,41 Hz, the fastest a 60 Hz screen shows; and back.
TO_SHOWN = [("slider", +1, 1, "17,78"), ("slider", +1, 1, "27,76"), ("arrows", +1, 1, "27,77"),
            ("arrows", +1, 1, "27,78")]
BACK_FROM_SHOWN = [("arrows", -1, 1, "27,77"), ("arrows", -1, 1, "27,76"), ("slider", -1, 1, "17,78"),
                   ("slider", -1, 1, "7,80")]
# Both ends and both directions of both controls, beyond the ends too; a click in the
# channel beside the thumb moves one page, a fifth of the range.
FREQUENCY_STEPS = [
    ("arrows", +1, 1, "7,81"), ("arrows", -1, 1, "7,80"), ("slider", -1, 3, "0,10"),
    ("arrows", +1, 1, "0,11"), ("arrows", -1, 1, "0,10"), ("arrows", -1, 1, "0,10"),
    ("slider", +1, 12, "50,00"), ("arrows", -1, 1, "49,99"), ("arrows", +1, 2, "50,00"),
    ("slider", -1, 1, "40,02"), ("slider", +1, 1, "50,00")]
TO_TOP = [("slider", +1, 12, "50,00")]
# Three pages down from the top, to 20,06, for the sessions that follow.
DOWN_FROM_TOP = [("slider", -1, 1, "40,02"), ("slider", -1, 1, "30,04"), ("slider", -1, 1, "20,06")]


class Workers:
    """A session's workers have ended when no thread is left that was not there before it
    started or after an earlier one ended (the system keeps the multimedia timer's and the
    sound driver's). winmm's own devices thread ends only when a later call finds no
    device open: it is none of the program's."""

    def __init__(self, face):
        self.face = face
        self.quiet = set(face.threads())

    def settle(self):
        """Waits until the thread count holds still, then takes every thread as quiet."""
        counts = [len(self.face.threads())]

        def still():
            time.sleep(0.7)
            counts.append(len(self.face.threads()))
            return counts[-1] == counts[-2]
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
    xs.wait_for(lambda: run.face.lists()[1]["selected"] == index, lambda: "the visual list at %d after %s, "
                "not %d" % (run.face.lists()[1]["selected"], key, index))


def run_windows(run, parts):
    face = run.face
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
        stim = run.start_session()
        run.expect_running(stim)
        run.greys(face.frequency()["arrows"][2], 800)
        run.system_keys(stim)
        xs.xdotool("key", "space")
        run.expect_idle(stim, "a key")
    if "visual" in parts:
        workers = Workers(face)
        # Without the stroboscope the screen stays black; Alt+F4 (the window manager's
        # close) ends the session and leaves the window for the next.
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
        run.greys(face.frequency()["arrows"][2], 200)
        xs.xdotool("key", "a")
        run.expect_idle(stim, "the key a")
        xs.wait_for(lambda: not workers.left(), lambda: "a worker to end: %r" % workers.left(), timeout=30, step=0.2)


def main():
    ap = argparse.ArgumentParser(usage=__doc__.split("Usage: ")[1])
    mode = ap.add_mutually_exclusive_group()
    mode.add_argument("--window-manager", action="store_true")
    mode.add_argument("--wayland", action="store_true")
    mode.add_argument("--wayland-closes", type=int)
    mode.add_argument("--wine", nargs=2)
    ap.add_argument("--parts", default="flicker,frequency,unshown,session,visual")
    ap.add_argument("program")
    args = ap.parse_args()
    try:
        if args.wayland or args.wayland_closes:
            import wayland_session
            wayland_session.run(args.program, sessions=3 if args.wayland else 0, closes=args.wayland_closes or 1)
        else:
            face = linux_driver.face(args.program, args.wine)
            try:
                run = Run(face)
                if args.wine:
                    run_windows(run, args.parts.split(","))
                else:
                    run_linux(run, args.program, args.window_manager)
                run.close()
            finally:
                text = face.output()
                if text.strip():
                    print("program output:\n" + text)
    except AssertionError as e:   # a wait that timed out, a probe that read nonsense
        fail(str(e))
    passed("end to end")


if __name__ == "__main__":
    main()
