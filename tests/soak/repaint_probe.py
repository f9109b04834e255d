"""How long a window takes to repaint a part of itself that was just uncovered.

A plain window of our own, filled with a colour the program never paints, is mapped over
a small patch of the window under test (with no window manager it maps at once and
stays where it is put), then unmapped. The X server sends the program an Expose; until
the program's UI thread answers it, the patch keeps our colour, since a Qt window has no
background the server could clear to. The time from the unmap to the first pixel that
is no longer our colour is the repaint delay."""
import ctypes
import time

_x11 = ctypes.CDLL("libX11.so.6")
_x11.XCreateSimpleWindow.restype = ctypes.c_ulong
_x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong,
                                     ctypes.c_ulong]
for name in ("XMapRaised", "XUnmapWindow", "XDestroyWindow"):
    getattr(_x11, name).argtypes = [ctypes.c_void_p, ctypes.c_ulong]
_x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]

COVER = (255, 0, 255)   # magenta: nowhere in the control window
COVER_PIXEL = 0xFF00FF  # the same as a 24-bit TrueColor pixel


class RepaintProbe:
    def __init__(self, display, x, y, w=24, h=12):
        """`display` is an xsession.Display; (x, y, w, h) the patch, in screen pixels."""
        self.d = display
        self.x, self.y = x, y
        self.cover = _x11.XCreateSimpleWindow(display.dpy, display.root, x, y, w, h, 0, 0,
                                              COVER_PIXEL)

    def measure(self, timeout=1.0):
        """Seconds from uncovering the patch to its repaint, or None if the program had not
        repainted it within `timeout`."""
        _x11.XMapRaised(self.d.dpy, self.cover)
        _x11.XSync(self.d.dpy, 0)
        deadline = time.monotonic() + 2.0
        while self.d.pixel(self.x + 1, self.y + 1) != COVER:
            if time.monotonic() > deadline:
                raise RuntimeError("the cover window never showed")
            time.sleep(0.001)
        _x11.XUnmapWindow(self.d.dpy, self.cover)
        _x11.XSync(self.d.dpy, 0)
        t0 = time.monotonic()
        while self.d.pixel(self.x + 1, self.y + 1) == COVER:
            if time.monotonic() - t0 > timeout:
                return None
        return time.monotonic() - t0

    def close(self):
        _x11.XDestroyWindow(self.d.dpy, self.cover)
        _x11.XSync(self.d.dpy, 0)
