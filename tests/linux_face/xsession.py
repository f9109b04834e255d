"""Driving the real program on an X server: the program started, windows found, pixels
read straight from the server (ctypes over libX11, quick enough to time a frame), input
sent, the window-manager close sent as a client message; and the strobe's curve the
greys are held to. Shared by the face tests, the benchmarks and the headless demo."""
import ctypes as C
import math
import os
import subprocess
import time

from report import fail

I, U, L, P, UINT = C.c_int, C.c_ulong, C.c_long, C.c_void_p, C.c_uint
PI, PU, STR = C.POINTER(I), C.POINTER(U), C.c_char_p


class XImage(C.Structure):
    _fields_ = [(n, I) for n in ("width", "height", "xoffset", "format")] + [("data", P)] + \
        [(n, I) for n in ("byte_order", "bitmap_unit", "bitmap_bit_order", "bitmap_pad", "depth",
                          "bytes_per_line", "bits_per_pixel")]


class XWindowAttributes(C.Structure):
    _fields_ = [(n, I) for n in ("x", "y", "width", "height", "border_width", "depth")] + [
        ("visual", P), ("root", U), ("class_", I), ("bit_gravity", I), ("win_gravity", I),
        ("backing_store", I), ("backing_planes", U), ("backing_pixel", U), ("save_under", I),
        ("colormap", U), ("map_installed", I), ("map_state", I), ("rest", L * 6)]


_EVENT_HEAD = [("type", I), ("serial", U), ("send_event", I), ("display", P), ("window", U)]


class XClientMessageEvent(C.Structure):
    _fields_ = _EVENT_HEAD + [("message_type", U), ("format", I), ("data", L * 5), ("pad", L * 12)]


class XSelectionEvent(C.Structure):   # "window" is the requestor
    _fields_ = _EVENT_HEAD + [("selection", U), ("target", U), ("property", U), ("time", U),
                              ("pad", L * 16)]


X11 = C.CDLL("libX11.so.6")
_xtst = C.CDLL("libXtst.so.6")   # input straight from this process, timed to when it is sent
for _lib, _name, _res, _args in [
        (X11, "XOpenDisplay", P, [STR]), (X11, "XDefaultRootWindow", U, [P]),
        (X11, "XGetImage", C.POINTER(XImage), [P, U, I, I, UINT, UINT, U, I]),
        (X11, "XDestroyImage", I, [C.POINTER(XImage)]),
        (X11, "XGetWindowAttributes", I, [P, U, C.POINTER(XWindowAttributes)]),
        (X11, "XQueryTree", I, [P, U, PU, PU, C.POINTER(PU), C.POINTER(UINT)]),
        (X11, "XTranslateCoordinates", I, [P, U, U, I, I, PI, PI, PU]),
        (X11, "XFree", I, [P]), (X11, "XInternAtom", U, [P, STR, I]),
        (X11, "XSendEvent", I, [P, U, I, L, P]), (X11, "XSync", I, [P, I]), (X11, "XFlush", I, [P]),
        (X11, "XStringToKeysym", U, [STR]), (X11, "XKeysymToKeycode", C.c_ubyte, [P, U]),
        (X11, "XCreateSimpleWindow", U, [P, U, I, I, UINT, UINT, UINT, U, U]),
        (X11, "XDestroyWindow", I, [P, U]), (X11, "XMapRaised", I, [P, U]), (X11, "XUnmapWindow", I, [P, U]),
        (X11, "XConvertSelection", I, [P, U, U, U, U, U]), (X11, "XSetSelectionOwner", I, [P, U, U, U]),
        (X11, "XCheckTypedWindowEvent", I, [P, U, I, P]),
        (X11, "XGetWindowProperty", I, [P, U, U, L, L, I, U, PU, PI, PU, PU, C.POINTER(P)]),
        (_xtst, "XTestFakeKeyEvent", I, [P, UINT, I, U]), (_xtst, "XTestFakeButtonEvent", I, [P, UINT, I, U])]:
    getattr(_lib, _name).restype, getattr(_lib, _name).argtypes = _res, _args

# A window can go between finding it and asking about it (Wine makes and drops windows
# of its own at any time); Xlib's default handler would end this process for that. The
# call that failed returns 0 or an empty answer, which the callers take as "gone".
_X_ERROR_HANDLER = C.CFUNCTYPE(I, P, P)
X11.XSetErrorHandler.argtypes = [_X_ERROR_HANDLER]
_ignore_x_errors = _X_ERROR_HANDLER(lambda display, event: 0)
X11.XSetErrorHandler(_ignore_x_errors)

IS_VIEWABLE, INPUT_OUTPUT, CLIENT_MESSAGE, SELECTION_NOTIFY = 2, 1, 33, 31


class Display:
    def __init__(self):
        self.dpy = X11.XOpenDisplay(None)
        if not self.dpy:
            raise RuntimeError("cannot open the X display " + os.environ.get("DISPLAY", "(unset)"))
        self.root = X11.XDefaultRootWindow(self.dpy)

    def atom(self, name):
        return X11.XInternAtom(self.dpy, name, 0)

    def keycode(self, name):
        """The keycode of a key named like xdotool names it ("space")."""
        return X11.XKeysymToKeycode(self.dpy, X11.XStringToKeysym(name.encode()))

    def fake_key(self, keycode, down):
        _xtst.XTestFakeKeyEvent(self.dpy, keycode, 1 if down else 0, 0)
        X11.XFlush(self.dpy)

    def fake_click(self):
        """The first mouse button clicked where the pointer is, sent at once."""
        for down in (1, 0):
            _xtst.XTestFakeButtonEvent(self.dpy, 1, down, 0)
        X11.XFlush(self.dpy)

    def grab(self, x, y, w, h):
        """The pixels of a rectangle of the screen as 4-byte BGRx words."""
        img = X11.XGetImage(self.dpy, self.root, x, y, w, h, U(-1).value, 2)  # all planes, ZPixmap
        if not img:
            raise RuntimeError("XGetImage failed")
        im = img.contents
        bits = im.bits_per_pixel
        rows = [C.string_at(im.data + r * im.bytes_per_line, w * 4) for r in range(h)] if bits == 32 else None
        X11.XDestroyImage(img)
        if rows is None:
            raise RuntimeError("expected 32 bits per pixel, got %d" % bits)
        return b"".join(rows)

    def pixel(self, x, y):
        b, g, r, _ = self.grab(x, y, 1, 1)
        return r, g, b

    def attributes(self, window):
        a = XWindowAttributes()
        return a if X11.XGetWindowAttributes(self.dpy, window, C.byref(a)) else None

    def property(self, window, name, delete=False):
        """A window property's bytes, None if the window has none of that name."""
        kind, fmt, n, after, data = U(), I(), U(), U(), P()
        if X11.XGetWindowProperty(self.dpy, window, self.atom(name) if isinstance(name, bytes) else name,
                                  0, 4096, int(delete), 0, C.byref(kind), C.byref(fmt), C.byref(n),
                                  C.byref(after), C.byref(data)) != 0 or not kind.value:
            return None
        value = C.string_at(data.value, n.value) if data.value else b""
        if data.value:
            X11.XFree(data)
        return value

    def window_name(self, window):
        """The window's title as the window manager reads it (_NET_WM_NAME, else WM_NAME)."""
        for name in (b"_NET_WM_NAME", b"WM_NAME"):
            value = self.property(window, name)
            if value is not None:
                return value.decode("utf-8", "replace")
        return None

    def origin(self, window):
        """Where the window's top left corner lies on the screen (xdotool's geometry adds
        a window manager's frame twice)."""
        x, y, child = I(), I(), U()
        X11.XTranslateCoordinates(self.dpy, window, self.root, 0, 0, C.byref(x), C.byref(y), C.byref(child))
        return x.value, y.value

    def shows(self, window, x, y):
        """True if the screen at the window's point (x, y) is the window's (or one inside
        it): a click there reaches it. A window manager still growing a frame back from a
        minimise has the client viewable and focused, its lower part clipped away."""
        left, top = self.origin(window)
        parent, tx, ty, child = self.root, I(), I(), U()
        # Down from the root, through the child holding the point at each level.
        while X11.XTranslateCoordinates(self.dpy, self.root, parent, left + x, top + y, C.byref(tx), C.byref(ty),
                                        C.byref(child)) and child.value:
            if child.value == window:
                return True
            parent = child.value
        return False

    def viewable(self, window):
        a = self.attributes(window)
        return a is not None and a.map_state == IS_VIEWABLE

    def children(self, window):
        root, parent, children, n = U(), U(), PU(), UINT()
        if not X11.XQueryTree(self.dpy, window, C.byref(root), C.byref(parent), C.byref(children), C.byref(n)):
            return []
        found = [children[i] for i in range(n.value)]
        if children:
            X11.XFree(children)
        return found

    def _covers(self, window, width, height):
        a = self.attributes(window)
        return a is not None and a.map_state == IS_VIEWABLE and a.class_ == INPUT_OUTPUT \
            and (a.x, a.y, a.width, a.height) == (0, 0, width, height)

    def covered(self, width, height):
        """True while any window covers the whole screen, a window manager's frame
        whose client has gone included: a click then lands on it."""
        return any(self._covers(w, width, height) for w in self.children(self.root))

    def full_screen_windows(self, width, height):
        """Viewable windows of a program covering the screen, top-level or inside a window
        manager's full-screen frame; a frame whose client went names no program (WM_CLASS),
        and an input-only window (Wine maps one now and then) shows nothing."""
        out = []
        for w in self.children(self.root):
            chain = [w] if self._covers(w, width, height) else []
            while chain:
                deeper = [c for c in self.children(chain[-1]) if self._covers(c, width, height)]
                if not deeper:
                    break
                chain.append(deeper[-1])
            if any(self.property(c, b"WM_CLASS") for c in chain):
                out.append(chain[-1])
        return out

    def clear_selection(self):
        """Leaves PRIMARY without an owner, so a later read cannot return an old text."""
        X11.XSetSelectionOwner(self.dpy, self.atom(b"PRIMARY"), 0, 0)
        X11.XSync(self.dpy, 0)

    def selection_text(self, timeout=10.0):
        """The text of the PRIMARY selection (what a mouse selection copies), or None."""
        window = X11.XCreateSimpleWindow(self.dpy, self.root, 0, 0, 1, 1, 0, 0, 0)
        try:
            prop = self.atom(b"ZARVELIN_TEST_SELECTION")
            X11.XConvertSelection(self.dpy, self.atom(b"PRIMARY"), self.atom(b"UTF8_STRING"), prop, window, 0)
            X11.XFlush(self.dpy)
            ev = XSelectionEvent()
            if not wait_for(lambda: X11.XCheckTypedWindowEvent(self.dpy, window, SELECTION_NOTIFY, C.byref(ev)),
                            timeout=timeout) or ev.property == 0:
                return None
            text = self.property(window, prop, delete=True)
            return text.decode("utf-8", "replace") if text else None
        finally:
            X11.XDestroyWindow(self.dpy, window)
            X11.XFlush(self.dpy)

    def close_window(self, window):
        """What a window manager sends when the user closes a window."""
        ev = XClientMessageEvent(type=CLIENT_MESSAGE, window=window, format=32,
                                 message_type=self.atom(b"WM_PROTOCOLS"))
        ev.data[0] = self.atom(b"WM_DELETE_WINDOW")   # at CurrentTime
        X11.XSendEvent(self.dpy, window, 0, 0, C.byref(ev))
        X11.XSync(self.dpy, 0)


class Screen:
    """A rectangle of the X screen: all of it, or a compositor's output window."""

    def __init__(self, d, x, y, width, height):
        self.d, self.x, self.y, self.width, self.height = d, x, y, width, height

    def grab(self):
        return self.d.grab(self.x, self.y, self.width, self.height)

    def pixel(self, x, y):
        return self.d.pixel(self.x + x, self.y + y)

    def flat_grey(self):
        """The grey covering the whole rectangle, or None."""
        s = self.grab()
        return s[2] if s[0] == s[1] == s[2] and s == s[:4] * (self.width * self.height) else None


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
    return subprocess.Popen([program], env=env, stdout=open(log_path, "w"), stderr=subprocess.STDOUT)


def end_program(proc, log_path):
    """Kills the program if it still runs; returns what it wrote to its log."""
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    with open(log_path) as f:
        return f.read()


def wait_for(condition, what=None, timeout=20.0, step=0.01):
    """Polls until condition() is true and returns its value. Only a hang makes it give
    up: with an AssertionError naming `what` (a text, or a function giving one), or with
    no `what` by returning the last false value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() > deadline:
            break
        time.sleep(step)
    if value or what is None:
        return value
    raise AssertionError("timed out waiting for " + (what() if callable(what) else what))


def titled_zarvelin():
    """The viewable windows titled like the control window: it, and any message box."""
    return [int(w) for w in subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Zarvelin$"],
                                           capture_output=True, text=True).stdout.split()]


def control_window():
    """The control window's X window (without a window manager, its client area)."""
    return wait_for(titled_zarvelin, "the control window")[0]


def window_geometry(window):
    out = xdotool("getwindowgeometry", "--shell", str(window))
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def click_in(window, x, y, *then):
    """A click at the window's point, and `then` (more xdotool commands) at once after it."""
    xdotool("mousemove", "--window", str(window), str(x), str(y), "click", "1", *then)


# The strobe's curve, computed as the program does: a raised cosine over whole 2 ms
# ticks with the short constant for a full turn, truncated toward zero.
TICK = 0.002
TICKS_LIVED = 4 * 60 * 500  # the ticks a session lives through in one test: four minutes


def strobe_level(tick, frequency):
    return int(127 - math.cos(tick * 6.2831853 / (50000 // frequency)) * 127) & 0xFF


def curve_levels(frequency):
    """Every grey the curve takes over those ticks (the short constant for a full turn
    lets the phase drift: later cycles take greys the first does not)."""
    return {strobe_level(t, frequency) for t in range(TICKS_LIVED)}


def usual_middle_level(frequency):
    """The grey most cycles show at their middle tick over those ticks."""
    ticks = 50000 // frequency
    middles = [strobe_level(t, frequency) for t in range(ticks // 2, TICKS_LIVED, ticks)]
    return max(dict.fromkeys(middles), key=middles.count)


def sample_greys(screen, count):
    """(t0, t1, grey) read at the centre with tight times, each followed by a read of the
    whole screen that must be one flat grey, spread over the cycle."""
    samples = []
    for i in range(count):
        t0 = time.monotonic()
        r, g, b = screen.pixel(screen.width // 2, screen.height // 2)
        samples.append((t0, time.monotonic(), r))
        if not r == g == b or screen.flat_grey() is None:
            fail("sample %d: the screen is not one flat grey (the centre %r)" % (i, (r, g, b)))
        time.sleep(0.013 + 0.007 * (i % 5))
    return samples


def curve_fits(samples, clicked_at, frequency, lag):
    """True if, for a tick 0 somewhere between the click and the first sample, every grey
    is one the curve takes at a tick that could have been on screen while it was read
    (up to `lag` old)."""
    for k in range(int((samples[0][0] - clicked_at) / 0.00025) + 1):
        origin = clicked_at + k * 0.00025
        if all(any(strobe_level(t, frequency) == level
                   for t in range(max(0, int((t0 - lag - origin) / TICK)), int((t1 - origin) / TICK) + 2))
               for t0, t1, level in samples):
            return True
    return False


def frequency_text(hundredths):
    return "%d,%02d" % divmod(hundredths, 100)


# Points in the control window's client area, the same on both faces: the Start
# button's centre, the arrows' upper and lower halves, the slider's channel a little in
# from either end, the visual list's centre.
START_BUTTON = (215 + 35, 95 + 15)
ARROW = {+1: (222 + 5, 5 + 3), -1: (222 + 5, 5 + 11)}
SLIDER_END = {+1: (242 + 250 - 12, 5 + 7), -1: (242 + 12, 5 + 7)}
VISUAL_LIST = (185 + 152, 60 + 10)
