"""Figures for a session with binaural beats and the stroboscope at 7.80 Hz (the
program's defaults) on the X server in DISPLAY: the program's CPU use over 10 s, and
how long after a key press the stimulation window is gone and the sound server hears
silence. Run under tests/scripts/with-xvfb.sh and tests/scripts/with-pulse.sh.
Usage: session_bench.py PATH_TO_ZARVELIN [SESSIONS]"""
import ctypes
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "linux_face"))
import xsession as xs  # noqa: E402

RATE = 44100
FRAME_BYTES = 4
SILENT_RUN = RATE // 10  # 100 ms of zero frames count as silence
START_BUTTON = (215 + 35, 95 + 15)

_xtst = ctypes.CDLL("libXtst.so.6")
_xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
_x11 = ctypes.CDLL("libX11.so.6")
_x11.XStringToKeysym.restype = ctypes.c_ulong
_x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
_x11.XKeysymToKeycode.restype = ctypes.c_ubyte
_x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
_x11.XFlush.argtypes = [ctypes.c_void_p]


class Recorder:
    """parec on the null sink's monitor; every chunk kept with the time it arrived."""

    def __init__(self):
        self.proc = subprocess.Popen(["parec", "-d", "null.monitor", "--format=s16le",
                                      "--rate=%d" % RATE, "--channels=2", "--latency-msec=5"],
                                     stdout=subprocess.PIPE)
        self.chunks = []
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        fd = self.proc.stdout.fileno()
        while True:
            data = os.read(fd, 4096)
            if not data:
                return
            with self.lock:
                self.chunks.append((time.monotonic(), data))

    def stop(self):
        self.proc.terminate()
        self.proc.wait()

    def frames_since(self, since):
        """(time each frame reached us, nonzero) for frames that arrived after `since`."""
        out = []
        with self.lock:
            chunks = list(self.chunks)
        pending = b""
        for arrived, data in chunks:
            pending += data
            whole = len(pending) // FRAME_BYTES * FRAME_BYTES
            frames, pending = pending[:whole], pending[whole:]
            if arrived < since:
                continue
            n = len(frames) // FRAME_BYTES
            for i in range(n):
                # The last frame of a chunk arrived when the chunk did; the ones before, earlier.
                t = arrived - (n - 1 - i) / RATE
                out.append((t, frames[i * 4:i * 4 + 4] != b"\0\0\0\0"))
        return out


def silence_after(rec, key_time):
    """Seconds from the key press to the last sound before a lasting silence."""
    frames = rec.frames_since(key_time - 1.0)
    run = 0
    last_sound = None
    for t, loud in frames:
        if loud:
            last_sound, run = t, 0
        else:
            run += 1
            if run >= SILENT_RUN and last_sound is not None and last_sound >= key_time - 0.5:
                return last_sound - key_time
    return None


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    program = sys.argv[1]
    sessions = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    d = xs.Display()
    width, height = map(int, xs.xdotool("getdisplaygeometry").split())
    keycode = _x11.XKeysymToKeycode(d.dpy, _x11.XStringToKeysym(b"space"))
    rec = Recorder()
    log = os.path.join(tempfile.mkdtemp(prefix="zarvelin-bench-"), "program.log")
    proc = xs.start_program(program, log)
    hidden_ms, silence_ms = [], []
    try:
        control = xs.control_window()
        for s in range(sessions):
            xs.click_in(control, *START_BUTTON)
            stim = xs.wait_for(lambda: d.full_screen_windows(width, height), "the stimulation window")[0]
            if s == 0:
                time.sleep(1.0)  # past the start-up
                c0, t0 = cpu_seconds(proc.pid), time.monotonic()
                time.sleep(10.0)
                c1, t1 = cpu_seconds(proc.pid), time.monotonic()
                cpu = 100.0 * (c1 - c0) / (t1 - t0)
            else:
                time.sleep(1.5)
            _xtst.XTestFakeKeyEvent(d.dpy, keycode, 1, 0)
            _x11.XFlush(d.dpy)
            pressed = time.monotonic()
            while d.viewable(stim):
                pass
            hidden_ms.append((time.monotonic() - pressed) * 1000)
            _xtst.XTestFakeKeyEvent(d.dpy, keycode, 0, 0)
            _x11.XFlush(d.dpy)
            time.sleep(1.0)
            quiet = silence_after(rec, pressed)
            if quiet is not None:
                silence_ms.append(quiet * 1000)
        d.close_window(control)
        proc.wait(timeout=15)
    finally:
        if proc.poll() is None:
            proc.kill()
        rec.stop()

    print("session: binaural beats + stroboscope at 7,80 on %dx%d" % (width, height))
    print("CPU over 10 s: %.1f %% of one core" % cpu)
    print("key press to stimulation window hidden: median %.1f ms, max %.1f ms (%d sessions)"
          % (statistics.median(hidden_ms), max(hidden_ms), len(hidden_ms)))
    if silence_ms:
        print("key press to silence at the sound server: median %.0f ms, max %.0f ms (%d sessions)"
              % (statistics.median(silence_ms), max(silence_ms), len(silence_ms)))
    else:
        print("key press to silence: no silence found in the recording")


if __name__ == "__main__":
    main()
