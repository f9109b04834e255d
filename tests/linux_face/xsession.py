"""Driving the real program on an X server: the program started, windows found,
pixels read straight from the server (ctypes over libX11, quick enough to time a
frame), and the window-manager close sent as a client message. Shared by the
end-to-end test, the benchmarks and the headless demo."""
import ctypes
import math
import os
import subprocess
import time

_x11 = ctypes.CDLL("libX11.so.6")


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("class_", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


_x11.XOpenDisplay.restype = ctypes.c_void_p
_x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
_x11.XDefaultRootWindow.restype = ctypes.c_ulong
_x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_x11.XGetImage.restype = ctypes.POINTER(XImage)
_x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                           ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
_x11.XDestroyImage.argtypes = [ctypes.POINTER(XImage)]
_x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                      ctypes.POINTER(XWindowAttributes)]
_x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                            ctypes.POINTER(ctypes.c_uint)]
_x11.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                       ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong)]
_x11.XFree.argtypes = [ctypes.c_void_p]
_x11.XInternAtom.restype = ctypes.c_ulong
_x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
_x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                            ctypes.c_void_p]
_x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
_x11.XFlush.argtypes = [ctypes.c_void_p]
_x11.XStringToKeysym.restype = ctypes.c_ulong
_x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
_x11.XKeysymToKeycode.restype = ctypes.c_ubyte
_x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
# Input straight from this process, so a benchmark can time it to the moment it is sent.
_xtst = ctypes.CDLL("libXtst.so.6")
_xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
_xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
_x11.XCreateSimpleWindow.restype = ctypes.c_ulong
_x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong,
                                     ctypes.c_ulong]
_x11.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
_x11.XConvertSelection.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                                   ctypes.c_ulong, ctypes.c_ulong]
_x11.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
_x11.XCheckTypedWindowEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_void_p]
_x11.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                    ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
                                    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
                                    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                    ctypes.POINTER(ctypes.c_void_p)]

# A window can go between finding it and asking about it (Wine makes and drops windows
# of its own at any time); Xlib's default handler would end this process for that. The
# call that failed returns 0 or an empty answer, which the callers take as "gone".
_X_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
_x11.XSetErrorHandler.argtypes = [_X_ERROR_HANDLER]
_ignore_x_errors = _X_ERROR_HANDLER(lambda display, event: 0)
_x11.XSetErrorHandler(_ignore_x_errors)

ALL_PLANES = ctypes.c_ulong(-1).value
Z_PIXMAP = 2
IS_VIEWABLE = 2
INPUT_OUTPUT = 1
CLIENT_MESSAGE = 33
SELECTION_NOTIFY = 31


class XSelectionEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ctypes.c_ulong),
                ("selection", ctypes.c_ulong), ("target", ctypes.c_ulong),
                ("property", ctypes.c_ulong), ("time", ctypes.c_ulong), ("pad", ctypes.c_long * 16)]


class Display:
    def keycode(self, name):
        """The keycode of a key named like xdotool names it ("space")."""
        return _x11.XKeysymToKeycode(self.dpy, _x11.XStringToKeysym(name.encode()))

    def fake_key(self, keycode, down):
        """A key pressed (down) or released, sent at once."""
        _xtst.XTestFakeKeyEvent(self.dpy, keycode, 1 if down else 0, 0)
        _x11.XFlush(self.dpy)

    def fake_click(self):
        """The first mouse button clicked where the pointer is, sent at once."""
        _xtst.XTestFakeButtonEvent(self.dpy, 1, 1, 0)
        _xtst.XTestFakeButtonEvent(self.dpy, 1, 0, 0)
        _x11.XFlush(self.dpy)

    def __init__(self):
        self.dpy = _x11.XOpenDisplay(None)
        if not self.dpy:
            raise RuntimeError("cannot open the X display " + os.environ.get("DISPLAY", "(unset)"))
        self.root = _x11.XDefaultRootWindow(self.dpy)

    def grab(self, x, y, w, h):
        """The pixels of a rectangle of the screen as 4-byte BGRx words."""
        img = _x11.XGetImage(self.dpy, self.root, x, y, w, h, ALL_PLANES, Z_PIXMAP)
        if not img:
            raise RuntimeError("XGetImage failed")
        im = img.contents
        if im.bits_per_pixel != 32:
            _x11.XDestroyImage(img)
            raise RuntimeError("expected 32 bits per pixel, got %d" % im.bits_per_pixel)
        rows = [ctypes.string_at(im.data + r * im.bytes_per_line, w * 4) for r in range(h)]
        _x11.XDestroyImage(img)
        return b"".join(rows)

    def pixel(self, x, y):
        b, g, r, _ = self.grab(x, y, 1, 1)
        return r, g, b

    def attributes(self, window):
        a = XWindowAttributes()
        if not _x11.XGetWindowAttributes(self.dpy, window, ctypes.byref(a)):
            return None
        return a

    def window_name(self, window):
        """The window's title as the window manager reads it (_NET_WM_NAME, else WM_NAME)."""
        out = subprocess.run(["xprop", "-id", str(window), "_NET_WM_NAME", "WM_NAME"],
                             capture_output=True, text=True).stdout
        for line in out.splitlines():
            if "=" in line:
                return line.split("=", 1)[1].strip().strip('"')
        return None

    def origin(self, window):
        """Where the window's top left corner lies on the screen (xdotool's geometry adds
        a window manager's frame twice)."""
        x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        _x11.XTranslateCoordinates(self.dpy, window, self.root, 0, 0, ctypes.byref(x),
                                   ctypes.byref(y), ctypes.byref(child))
        return x.value, y.value

    def viewable(self, window):
        a = self.attributes(window)
        return a is not None and a.map_state == IS_VIEWABLE

    def top_windows(self):
        root = ctypes.c_ulong()
        parent = ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        n = ctypes.c_uint()
        _x11.XQueryTree(self.dpy, self.root, ctypes.byref(root), ctypes.byref(parent),
                        ctypes.byref(children), ctypes.byref(n))
        found = [children[i] for i in range(n.value)]
        if children:
            _x11.XFree(children)
        return found

    def children(self, window):
        root = ctypes.c_ulong()
        parent = ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        n = ctypes.c_uint()
        if not _x11.XQueryTree(self.dpy, window, ctypes.byref(root), ctypes.byref(parent),
                               ctypes.byref(children), ctypes.byref(n)):
            return []
        found = [children[i] for i in range(n.value)]
        if children:
            _x11.XFree(children)
        return found

    def has_class(self, window):
        """True if the window names its program (WM_CLASS): a client's window, not a
        window manager's frame."""
        kind, fmt, n, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        wm_class = _x11.XInternAtom(self.dpy, b"WM_CLASS", 0)
        if _x11.XGetWindowProperty(self.dpy, window, wm_class, 0, 64, 0, 0, ctypes.byref(kind),
                                   ctypes.byref(fmt), ctypes.byref(n), ctypes.byref(after),
                                   ctypes.byref(data)) != 0:
            return False
        if data.value:
            _x11.XFree(data)
        return n.value > 0

    def _covers(self, window, width, height):
        a = self.attributes(window)
        return a is not None and a.map_state == IS_VIEWABLE and a.class_ == INPUT_OUTPUT \
            and a.x == 0 and a.y == 0 and a.width == width and a.height == height

    def covered(self, width, height):
        """True while any window covers the whole screen, a window manager's frame
        whose client has gone included: a click then lands on it."""
        return any(self._covers(w, width, height) for w in self.top_windows())

    def full_screen_windows(self, width, height):
        """Viewable windows of a program covering the whole screen: the top-level ones,
        or under a window manager the program's windows inside its full-screen frames
        (a frame left for a moment after its client went is none). A window that only
        takes input (Wine maps one over the screen now and then) shows nothing."""
        out = []
        for w in self.top_windows():
            if not self._covers(w, width, height):
                continue
            chain = [w]
            while True:
                deeper = [c for c in self.children(chain[-1]) if self._covers(c, width, height)]
                if not deeper:
                    break
                chain.append(deeper[-1])
            if any(self.has_class(c) for c in chain):
                out.append(chain[-1])
        return out

    def clear_selection(self):
        """Leaves PRIMARY without an owner, so a later read cannot return an old text."""
        _x11.XSetSelectionOwner(self.dpy, _x11.XInternAtom(self.dpy, b"PRIMARY", 0), 0, 0)
        _x11.XSync(self.dpy, 0)

    def selection_text(self, timeout=10.0):
        """The text of the PRIMARY selection (what a mouse selection copies), or None."""
        atom = lambda name: _x11.XInternAtom(self.dpy, name, 0)  # noqa: E731
        window = _x11.XCreateSimpleWindow(self.dpy, self.root, 0, 0, 1, 1, 0, 0, 0)
        try:
            prop = atom(b"ZARVELIN_TEST_SELECTION")
            _x11.XConvertSelection(self.dpy, atom(b"PRIMARY"), atom(b"UTF8_STRING"), prop, window, 0)
            _x11.XFlush(self.dpy)
            ev = XSelectionEvent()
            deadline = time.monotonic() + timeout
            while not _x11.XCheckTypedWindowEvent(self.dpy, window, SELECTION_NOTIFY, ctypes.byref(ev)):
                if time.monotonic() > deadline:
                    return None
                time.sleep(0.01)
            if ev.property == 0:
                return None
            kind, fmt, n, after = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
            data = ctypes.c_void_p()
            _x11.XGetWindowProperty(self.dpy, window, prop, 0, 4096, 1, 0, ctypes.byref(kind),
                                    ctypes.byref(fmt), ctypes.byref(n), ctypes.byref(after),
                                    ctypes.byref(data))
            if not data.value:
                return None
            text = ctypes.string_at(data.value, n.value).decode("utf-8", "replace")
            _x11.XFree(data)
            return text
        finally:
            _x11.XDestroyWindow(self.dpy, window)
            _x11.XFlush(self.dpy)

    def close_window(self, window):
        """What a window manager sends when the user closes a window."""
        ev = XClientMessageEvent()
        ev.type = CLIENT_MESSAGE
        ev.window = window
        ev.message_type = _x11.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        ev.format = 32
        ev.data[0] = _x11.XInternAtom(self.dpy, b"WM_DELETE_WINDOW", 0)
        ev.data[1] = 0  # CurrentTime
        _x11.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(ev))
        _x11.XSync(self.dpy, 0)


def xdotool(*args, timeout=20):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True,
                          timeout=timeout).stdout.strip()


def focused_window():
    """The window with the keyboard focus; 0 while none has it (a window manager may
    hold it for a moment between two windows)."""
    out = subprocess.run(["xdotool", "getwindowfocus"], capture_output=True, text=True, timeout=20)
    return int(out.stdout) if out.returncode == 0 and out.stdout.strip().isdigit() else 0


def start_program(program, log_path, platform="xcb", env=None):
    env = dict(os.environ, QT_QPA_PLATFORM=platform, **(env or {}))
    log = open(log_path, "w")
    return subprocess.Popen([program], env=env, stdout=log, stderr=subprocess.STDOUT)


def end_program(proc, log_path):
    """Kills the program if it still runs; returns what it wrote to its log."""
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    with open(log_path) as f:
        return f.read()


def wait_for(condition, what, timeout=20.0, step=0.01):
    """Polls until condition() is true; only a hang makes it give up."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    raise AssertionError("timed out waiting for " + what)


def titled_zarvelin():
    """The viewable windows titled like the control window: it, and any message box."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Zarvelin$"],
                         capture_output=True, text=True).stdout.split()
    return [int(w) for w in out]


def control_window():
    """The control window's X window (without a window manager, its client area)."""
    ids = wait_for(lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Zarvelin$"],
                                          capture_output=True, text=True).stdout.split(),
                   "the control window")
    return int(ids[0])


def window_geometry(window):
    out = xdotool("getwindowgeometry", "--shell", str(window))
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def click_in(window, x, y):
    xdotool("mousemove", "--window", str(window), str(x), str(y), "click", "1")


# The strobe's curve, computed as the program does: a raised cosine over whole 2 ms
# ticks with the short constant for a full turn, truncated toward zero.
def ticks_per_cycle(frequency):
    return 50000 // frequency


def strobe_level(tick, frequency):
    step = 6.2831853 / ticks_per_cycle(frequency)
    return int(127 - math.cos(tick * step) * 127) & 0xFF


TICKS_LIVED = 4 * 60 * 500  # the ticks a session lives through in one test: four minutes


def curve_levels(frequency):
    """Every grey the curve takes over those ticks: the tick counts on from the session's
    start and the short constant for a full turn lets the phase drift, so later cycles
    take greys the first does not."""
    return {strobe_level(t, frequency) for t in range(TICKS_LIVED)}


def usual_middle_level(frequency):
    """The grey most cycles show at their middle tick over those ticks."""
    ticks = ticks_per_cycle(frequency)
    counts = {}
    for t in range(ticks // 2, TICKS_LIVED, ticks):
        level = strobe_level(t, frequency)
        counts[level] = counts.get(level, 0) + 1
    return max(counts, key=counts.get)


def highest_shown_frequency(refresh_hz):
    """The fastest setting whose flicker (500 / ticks a cycle) is at most half the
    screen's refresh rate: a faster one would be seen as a slower one."""
    return max(f for f in range(10, 5001) if 500 / ticks_per_cycle(f) <= refresh_hz / 2)


def frequency_text(hundredths):
    return "%d,%02d" % divmod(hundredths, 100)


# Points in the control window's client area, the same on both faces: the Start
# button's centre, the arrows' upper and lower halves, the slider's channel a little in
# from either end, the visual list's centre.
START_BUTTON = (215 + 35, 95 + 15)
ARROW = {+1: (222 + 5, 5 + 3), -1: (222 + 5, 5 + 11)}
SLIDER_END = {+1: (242 + 250 - 12, 5 + 7), -1: (242 + 12, 5 + 7)}
VISUAL_LIST = (185 + 152, 60 + 10)
