"""The real program on a Wayland compositor, used as a person would. weston runs with
its X11 backend inside Xvfb (with-weston.sh): its output is an X window, so xdotool
clicks and types into it and its pixels are read from the X server, while the program
itself talks only Wayland. The compositor places windows where it likes, so the control
window is found by its pixels against the plain background."""
import array
import os
import re
import subprocess
import tempfile
import time

import xsession as xs
from report import fail

BACKGROUND = bytes([0x40, 0x30, 0x20])   # with-weston.sh's background, as B, G, R
CLIENT = (494, 141)                      # the control window's client area
START_BUTTON = (215 + 35, 95 + 15)
FREQUENCY = 780
TICK = 0.002
# From a tick to the output: the program's look once per frame, the surface's commit,
# the compositor's repaint and its copy to the X window, on a busy machine.
LAG = 0.120
POINTER_CORNER = 40                      # where the parked pointer's sprite may show
CROSS_LIGHTEST = 200                     # the close cross, inactive, against the bar's 239


class Output:
    """weston's output as seen on the X server."""

    def __init__(self, d):
        self.d = d
        ids = xs.wait_for(lambda: subprocess.run(["xdotool", "search", "--class", "^Weston Compositor$"],
                                                 capture_output=True, text=True).stdout.split(),
                          "weston's output window")
        self.window = int(ids[0])
        self.x, self.y, self.width, self.height = xs.window_geometry(self.window)

    def grab(self):
        return self.d.grab(self.x, self.y, self.width, self.height)

    def pixel(self, x, y):
        return self.d.pixel(self.x + x, self.y + y)

    def click(self, x, y):
        xs.xdotool("mousemove", "--window", str(self.window), str(x), str(y), "click", "1")

    def park_pointer(self):
        """The pointer in the output's far corner, where its sprite is left out of the
        search for windows; the keyboard follows it into weston. It comes in from
        outside the output: weston takes the pointer only on entering its window, and
        one that was already under the window when it mapped never entered (weston then
        draws its sprite at the output's origin and moves it no more)."""
        xs.xdotool("mousemove", str(self.x + self.width + 10), str(self.y + self.height + 10))
        xs.xdotool("mousemove", "--window", str(self.window), str(self.width - 1), str(self.height - 1))

    def flat_grey(self):
        """The grey covering the whole output, or None."""
        screen = self.grab()
        if screen != screen[:4] * (self.width * self.height):
            return None
        b, g, r = screen[0], screen[1], screen[2]
        return r if r == g == b else None

    def window_frame(self):
        """The bounding box (left, top, right, bottom) of everything that is not the
        background, the parked pointer's corner left out; None on a bare desktop."""
        screen = self.grab()
        w, h = self.width, self.height
        span = lambda y: w - POINTER_CORNER if y >= h - POINTER_CORNER else w  # noqa: E731
        words = array.array("I", screen)
        background = int.from_bytes(BACKGROUND + b"\x00", "little")
        differs = lambda word: (word & 0xFFFFFF) != background  # noqa: E731
        rows = [y for y in range(h) if any(differs(v) for v in words[y * w:y * w + span(y)])]
        if not rows:
            return None
        top, bottom = rows[0], rows[-1]
        left, right = w, -1
        for y in range(top, bottom + 1):
            row = words[y * w:y * w + span(y)]
            marks = [x for x in range(len(row)) if differs(row[x])]
            if marks:
                left, right = min(left, marks[0]), max(right, marks[-1])
        return left, top, right, bottom


def control_window(out):
    """The client area's origin and the close button of the control window's frame.
    Right after a session the window may show before its title bar is drawn again, so
    both are waited for together."""
    seen = {}

    def found():
        frame = seen["frame"] = out.window_frame()
        if frame is None:
            return None
        left, top, right, bottom = frame
        side = (right - left + 1 - CLIENT[0]) // 2
        if not (0 <= side <= 10 and CLIENT[1] < bottom - top + 1 <= CLIENT[1] + 60):
            return None
        client = (left + side, bottom - side - CLIENT[1] + 1)
        # The close button is the right-most mark in the title bar: the pixels there
        # darker than the bar's light background. The cross is drawn in the text colour
        # while the window is the active one and in the disabled text's light grey (190)
        # while it is not, and whether the compositor hands the window the keyboard
        # again after a session is its own affair.
        screen = out.grab()
        lightest = lambda x, y: max(screen[(y * out.width + x) * 4:(y * out.width + x) * 4 + 3])  # noqa: E731
        seen["bar"] = lightest(right - 10, top + 2)
        marks = [(x, y) for y in range(top + 2, client[1] - 2) for x in range(right - 28, right - 2)
                 if lightest(x, y) <= CROSS_LIGHTEST]
        seen["darkest"] = min(lightest(x, y) for y in range(top + 2, client[1] - 2)
                              for x in range(right - 28, right - 2)) if client[1] - 2 > top + 2 else None
        if not marks:
            return None
        return client, (sum(x for x, _ in marks) // len(marks), sum(y for _, y in marks) // len(marks))
    try:
        return xs.wait_for(found, "the control window with its close button on weston's output")
    except AssertionError:
        fail("no control window with a close button on weston's output; last frame seen %r, "
             "title bar %r, darkest where the close button goes %r"
             % (seen.get("frame"), seen.get("bar"), seen.get("darkest")))


def strobe_fits(samples, clicked_at):
    origins = [clicked_at + k * 0.0005 for k in range(int((samples[0][0] - clicked_at) / 0.0005) + 1)]
    for origin in origins:
        if all(any(xs.strobe_level(k, FREQUENCY) == level
                   for k in range(max(0, int((t0 - LAG - origin) / TICK)), int((t1 - origin) / TICK) + 2))
               for t0, t1, level in samples):
            return True
    return False


def greys_per_second(out, seconds=2.0):
    """How often the grey at the centre changes, read as fast as the server answers: at
    7,80 Hz the strobe moves every frame, so this is the frame rate that reaches the
    screen (bounded by how fast the reads come)."""
    changes, reads, last = 0, 0, None
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        level = out.pixel(out.width // 2, out.height // 2)[0]
        reads += 1
        if last is not None and level != last:
            changes += 1
        last = level
    return changes / seconds, reads / seconds


def grey_commits(log_path):
    """From the program's Wayland protocol log, for its latest session: how many buffers
    were attached to the subsurface that covers the stimulation window, how many distinct
    ones, and how many were attached to the window's own surface meanwhile."""
    cover = parent = None
    ours, greys, theirs = 0, set(), 0
    with open(log_path, errors="replace") as f:
        for line in f:
            m = re.search(r"-> wl_subcompositor@\d+\.get_subsurface\(new id wl_subsurface@\d+, "
                          r"wl_surface@(\d+), wl_surface@(\d+)\)", line)
            if m:  # a new session: count from here
                cover, parent = m.group(1), m.group(2)
                ours, greys, theirs = 0, set(), 0
                continue
            m = re.search(r"-> wl_surface@(\d+)\.attach\(wl_buffer@(\d+)", line)
            if m and m.group(1) == cover:
                ours += 1
                greys.add(m.group(2))
            elif m and m.group(1) == parent:
                theirs += 1
    return ours, len(greys), theirs


def session(out, proc, log_path=None):
    client, _ = control_window(out)
    clicked_at = time.monotonic()
    out.click(client[0] + START_BUTTON[0], client[1] + START_BUTTON[1])
    first = xs.wait_for(out.flat_grey, "the stimulation window to cover the output")
    if first > 254:
        fail("grey %d above 254" % first)
    samples = []
    for i in range(16):
        t0 = time.monotonic()
        r, g, b = out.pixel(out.width // 2, out.height // 2)
        t1 = time.monotonic()
        if not r == g == b <= 254:
            fail("the centre is not a grey of the strobe: %r" % ((r, g, b),))
        samples.append((t0, t1, r))
        if out.flat_grey() is None:
            fail("sample %d: the output is not one flat grey (the window or the pointer shows)" % i)
        time.sleep(0.013 + 0.007 * (i % 5))
    levels = {s[2] for s in samples}
    if len(levels) < 3:
        fail("the grey hardly changes: %r" % sorted(levels))
    if not strobe_fits(samples, clicked_at):
        fail("the greys do not follow the strobe's curve at 7,80: %r"
             % [(round(t0 - clicked_at, 3), lv) for t0, _, lv in samples])
    changes, reads = greys_per_second(out)
    print("wayland: %.1f grey changes per second at the centre (%.0f reads per second)" % (changes, reads))
    if log_path is not None:
        # The compositor shows the grey: each frame attaches one of the tiny grey buffers
        # to the covering subsurface, and the window's own full-size surface is not
        # painted again and again.
        ours, greys, theirs = grey_commits(log_path)
        print("wayland: %d grey commits in %d buffers on the subsurface, %d on the window"
              % (ours, greys, theirs))
        if ours < 20 or greys < 3:
            fail("the grey does not go through the compositor's scaled subsurface "
                 "(%d commits, %d buffers)" % (ours, greys))
        if theirs > 10:
            fail("the window's own surface was painted %d times during the session" % theirs)
    xs.xdotool("key", "space")
    out.park_pointer()
    # The control window showing on the desktop is the stimulation window gone. (A grab
    # taken while the compositor redraws can show two greys, so "no longer one flat
    # grey" would not be proof.)
    control_window(out)
    if proc.poll() is not None:
        fail("the program ended with the session")


def run(program, sessions, closes):
    plugins = "/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms"
    if os.path.isdir(plugins) and not any(n.startswith("libqwayland") for n in os.listdir(plugins)):
        fail("Qt's Wayland platform plugin is missing (Debian: qt6-wayland)")
    d = xs.Display()
    out = Output(d)
    out.park_pointer()
    xs.wait_for(lambda: out.window_frame() is None, "weston's bare desktop")
    folder = tempfile.mkdtemp(prefix="zarvelin-wayland-")
    hangs = []
    for run_index in range(closes):
        log = os.path.join(folder, "program-%d.log" % run_index)
        # The session's run logs the program's Wayland requests, to see how the grey
        # is shown.
        proc = xs.start_program(program, log, platform="wayland",
                                env={"WAYLAND_DEBUG": "client"} if sessions else None)
        try:
            for _ in range(sessions):
                session(out, proc, log)
            _, close = control_window(out)
            out.click(*close)
            out.park_pointer()
            closed_at = time.monotonic()
            try:
                code = proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                print("run %d: still running 20 s after its window was closed" % (run_index + 1))
                hangs.append(run_index)
                continue
            print("run %d: ended %.2f s after the close, code %d"
                  % (run_index + 1, time.monotonic() - closed_at, code))
            if code != 0:
                fail("close %d: exit code %d" % (run_index + 1, code))
            xs.wait_for(lambda: out.window_frame() is None, "the control window to go")
        finally:
            text = xs.end_program(proc, log)
            if "wayland" in text.lower() or "qt.qpa" in text:
                print("program output (run %d):\n%s" % (run_index + 1, text))
    if hangs:
        fail("the program did not end after its window was closed in %d of %d runs (runs %r)"
             % (len(hangs), closes, [h + 1 for h in hangs]))
    print("wayland: %d close%s, each ended with code 0" % (closes, "" if closes == 1 else "s"))
