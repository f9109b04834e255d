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
from report import check

BACKGROUND = int.from_bytes(bytes([0x40, 0x30, 0x20, 0]), "little")  # with-weston.sh's, as BGRx
CLIENT = (494, 141)                      # the control window's client area
START_BUTTON = xs.START_BUTTON
FREQUENCY = 780
# From a tick to the output: the program's look once per frame, the surface's commit,
# the compositor's repaint and its copy to the X window, on a busy machine.
LAG = 0.120
POINTER_CORNER = 40                      # where the parked pointer's sprite may show
CROSS_LIGHTEST = 200                     # the close cross, inactive, against the bar's 239


class Output(xs.Screen):
    """weston's output as seen on the X server."""

    def __init__(self, d):
        self.window = xs.wait_for(lambda: subprocess.run(
            ["xdotool", "search", "--class", "^Weston Compositor$"], capture_output=True, text=True).stdout.split(),
            "weston's output window")[0]
        super().__init__(d, *xs.window_geometry(self.window))

    def click(self, x, y):
        xs.click_in(self.window, x, y)

    def park_pointer(self):
        """The pointer (and so the keyboard) into weston's far corner, left out of the
        search for windows. It comes from outside: weston takes a pointer only on entering
        its window, and draws one that never entered at the output's origin."""
        xs.xdotool("mousemove", str(self.x + self.width + 10), str(self.y + self.height + 10))
        xs.xdotool("mousemove", "--window", self.window, str(self.width - 1), str(self.height - 1))

    def window_frame(self):
        """The bounding box (left, top, right, bottom) of everything that is not the
        background, the parked pointer's corner left out; None on a bare desktop."""
        words, w, h = array.array("I", self.grab()), self.width, self.height
        marks = [(x, y) for y in range(h) for x in range(w - POINTER_CORNER if y >= h - POINTER_CORNER else w)
                 if words[y * w + x] & 0xFFFFFF != BACKGROUND]
        if not marks:
            return None
        xs_, ys = [x for x, _ in marks], [y for _, y in marks]
        return min(xs_), min(ys), max(xs_), max(ys)


def control_window(out):
    """The client area's origin and the close button of the control window's frame.
    Right after a session the window may show before its title bar is drawn again, so
    both are waited for together."""
    def found():
        frame = out.window_frame()
        if frame is None:
            return None
        left, top, right, bottom = frame
        side = (right - left + 1 - CLIENT[0]) // 2
        if not (0 <= side <= 10 and CLIENT[1] < bottom - top + 1 <= CLIENT[1] + 60):
            return None
        client = (left + side, bottom - side - CLIENT[1] + 1)
        # The close button: the pixels at the title bar's right darker than the bar, its
        # cross drawn in the text colour if the window is active, else in light grey (190).
        screen = out.grab()
        marks = [(x, y) for y in range(top + 2, client[1] - 2) for x in range(right - 28, right - 2)
                 if max(screen[(y * out.width + x) * 4:(y * out.width + x) * 4 + 3]) <= CROSS_LIGHTEST]
        if not marks:
            return None
        return client, (sum(x for x, _ in marks) // len(marks), sum(y for _, y in marks) // len(marks))
    return xs.wait_for(found, lambda: "the control window with its close button on weston's output "
                       "(last frame seen %r)" % (out.window_frame(),))


def greys_per_second(out, seconds=2.0):
    """How often the grey at the centre changes, read as fast as the server answers: at
    7,80 Hz the strobe moves every frame, so this is the frame rate that reaches the
    screen (bounded by how fast the reads come)."""
    changes, reads, last = 0, 0, None
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        level = out.pixel(out.width // 2, out.height // 2)[0]
        reads += 1
        changes += last is not None and level != last
        last = level
    return changes / seconds, reads / seconds


def grey_commits(log_path):
    """From the program's Wayland protocol log, for its latest session: how many buffers
    were attached to the subsurface that covers the stimulation window, how many distinct
    ones, and how many were attached to the window's own surface meanwhile."""
    cover = parent = None
    with open(log_path, errors="replace") as f:
        for line in f:
            m = re.search(r"-> wl_subcompositor@\d+\.get_subsurface\(new id wl_subsurface@\d+, "
                          r"wl_surface@(\d+), wl_surface@(\d+)\)", line)
            if m:  # a new session: count from here
                (cover, parent), ours, theirs = m.groups(), [], 0
                continue
            m = re.search(r"-> wl_surface@(\d+)\.attach\(wl_buffer@(\d+)", line)
            if m and m.group(1) == cover:
                ours.append(m.group(2))
            elif m and m.group(1) == parent:
                theirs += 1
    return (len(ours), len(set(ours)), theirs) if cover else (0, 0, 0)


def session(out, proc, log_path):
    """A session at 7,80: the output one flat grey following the curve, shown through the
    compositor's subsurface; a key ends it and leaves the program running."""
    client, _ = control_window(out)
    clicked_at = time.monotonic()
    out.click(client[0] + START_BUTTON[0], client[1] + START_BUTTON[1])
    xs.wait_for(out.flat_grey, "the stimulation window to cover the output")
    samples = xs.sample_greys(out, 16)
    check(len({s[2] for s in samples}) >= 3, "the grey hardly changes: %r" % sorted({s[2] for s in samples}))
    check(xs.curve_fits(samples, clicked_at, FREQUENCY, LAG), "the greys do not follow the strobe's curve "
          "at 7,80: %r" % [(round(t0 - clicked_at, 3), lv) for t0, _, lv in samples])
    # Each frame attaches one of the tiny grey buffers to the covering subsurface; the
    # window's own full-size surface is not painted again and again.
    # Counted till enough have come: a compositor slowed by load commits fewer a second.
    enough = lambda c: c[0] >= 20 and c[1] >= 3  # noqa: E731
    xs.wait_for(lambda: enough(grey_commits(log_path)), timeout=10)
    ours, greys, theirs = grey_commits(log_path)
    check(enough((ours, greys, theirs)), "the grey does not go through the compositor's scaled subsurface "
          "(%d commits, %d buffers)" % (ours, greys))
    check(theirs <= 10, "the window's own surface was painted %d times during the session" % theirs)
    xs.xdotool("key", "space")
    out.park_pointer()
    # The control window showing is the stimulation window gone (a grab during the
    # compositor's redraw can show two greys, so "no longer flat" would prove nothing).
    control_window(out)
    check(proc.poll() is None, "the program ended with the session")


def run(program, sessions, closes):
    """`sessions` sessions in the first run; then in each of `closes` runs the window
    closed with its frame's close button must end the program with code 0."""
    out = Output(xs.Display())
    out.park_pointer()
    xs.wait_for(lambda: out.window_frame() is None, "weston's bare desktop")
    folder = tempfile.mkdtemp(prefix="zarvelin-wayland-")
    for i in range(1, closes + 1):
        log = os.path.join(folder, "program-%d.log" % i)
        # A run with sessions logs the program's Wayland requests, to see how the grey is shown.
        proc = xs.start_program(program, log, platform="wayland",
                                env={"WAYLAND_DEBUG": "client"} if sessions else None)
        try:
            for _ in range(sessions):
                session(out, proc, log)
            out.click(*control_window(out)[1])
            out.park_pointer()
            xs.wait_for(lambda: proc.poll() is not None, "close %d to end the program" % i)
            check(proc.returncode == 0, "close %d: exit code %d" % (i, proc.returncode))
            xs.wait_for(lambda: out.window_frame() is None, "the control window to go")
        finally:
            text = xs.end_program(proc, log)
            if "wayland" in text.lower() or "qt.qpa" in text:
                print("program output (run %d):\n%s" % (i, text))
